// A table of the engine's calls that asks the current HookedCalls first.
#include "tests/support/hooked_calls.h"

#include <errno.h>
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

std::function<ssize_t(int, void*, size_t, off_t)> CountedPread(int* reads, int fail_at, int error) {
  return [reads, fail_at, error](int fd, void* buffer, size_t count, off_t offset) {
    if (++*reads == fail_at) {
      errno = error;
      return ssize_t{-1};
    }
    return propstore::kSystemCalls.pread(fd, buffer, count, offset);
  };
}

}  // namespace isputils_test
