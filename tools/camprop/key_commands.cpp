// camprop get and set: one key, looked up or stored as the library does it
// (the same lookup, the same locks, the same update in place or append).
// The value is copied and the file closed before anything is printed.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "property_store/internal/status_text.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/output.h"

namespace camprop {
namespace {

// Scripts read the value byte for byte; a terminal would obey the escape
// sequences a stored value may hold (a retitled window, a cleared screen),
// so there control bytes are shown as \xNN instead.
void PrintValue(const std::string& text) {
  if (isatty(STDOUT_FILENO)) {
    PrintEscaped(stdout, text);
  } else {
    fwrite(text.data(), 1, text.size(), stdout);
  }
  fputc('\n', stdout);
}

}  // namespace

int RunGet(const Context& context, const char* key, const char* fallback) {
  const size_t key_length = strlen(key);
  if (key_length >= PROPERTY_KEY_SIZE) {
    Complain("key is %zu bytes long; a key holds at most %d bytes", key_length,
             PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  char value[PROPERTY_VALUE_SIZE];
  const propstore::Status status = context.store.Get(key, value);
  if (status.ok()) {
    PrintValue(value);
    return kExitOk;
  }
  if (!status.answered() && !status.missing()) {
    Complain("%s", propstore::ReadFailure(status).c_str());
    return kExitFailed;
  }
  if (fallback != nullptr) {
    PrintValue(std::string(fallback, strnlen(fallback, PROPERTY_VALUE_SIZE - 1)));
    return kExitOk;
  }
  if (status.missing()) {
    Complain("%s is not set: %s", key, propstore::Reason(status).c_str());
  } else {
    Complain("%s is not set", key);
  }
  return kExitFailed;
}



int RunSet(const Context& context, const char* key, const char* value) {
  const size_t key_length = strlen(key);
  if (key_length >= PROPERTY_KEY_SIZE) {
    Complain("key is %zu bytes long; a key holds at most %d bytes (nothing stored)",
             key_length, PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  const size_t value_length = strlen(value);
  if (value_length >= PROPERTY_VALUE_SIZE) {
    Complain("value is %zu bytes long; a value holds at most %d bytes (nothing stored)",
             value_length, PROPERTY_VALUE_SIZE - 1);
    return kExitUsage;
  }
  const propstore::Status status = context.store.Set(key, value);
  if (status.ok()) return kExitOk;
  Complain("cannot store %s in %s: %s", key, context.store.path(),
           propstore::Reason(status).c_str());
  return kExitFailed;
}

}  // namespace camprop
