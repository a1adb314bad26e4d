// A table of the engine's calls that asks the current HookedCalls first.
#include "tests/support/hooked_calls.h"

#include <stdlib.h>

namespace isputils_test {
namespace {

HookedCalls* gCurrent = nullptr;

#define ISPUTILS_HOOKED_ENTRY(name, result, params, args)          \
  [] params -> result {                                          \
    if (gCurrent->before) gCurrent->before(#name);               \
    if (gCurrent->name) return gCurrent->name args;              \
    return propstore::kSystemCalls.name args;                    \
  },

const propstore::Syscalls kHookedTable = {ISPUTILS_HOOKED_CALLS(ISPUTILS_HOOKED_ENTRY)};

}  // namespace

HookedCalls::HookedCalls() {
  if (gCurrent != nullptr) abort();
  gCurrent = this;
}

HookedCalls::~HookedCalls() { gCurrent = nullptr; }

const propstore::Syscalls& HookedCalls::table() const { return kHookedTable; }

}  // namespace isputils_test
