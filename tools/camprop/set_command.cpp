// camprop set: stores one key through the store's own writer, so the
// exclusive lock, the in-place update and the append are exactly the
// library's.
#include <errno.h>
#include <string.h>

#include "propstore/properties.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"

namespace camprop {

int RunSet(const char* key, const char* value) {
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
  errno = 0;
  if (property_set(key, value) == 0) return kExitOk;
  const int error = errno;
  // The same condition reads the same in every command.
  const char* reason = "the record did not reach the file";
  MissingStore why;
  if (MissingStoreFromError(error, &why)) {
    reason = DescribeMissingStore(why);
  } else if (error != 0) {
    reason = DescribeOpenError(error);
  }
  Complain("cannot store %s in %s: %s", key, propstore::kStoragePath, reason);
  return kExitFailed;
}

}  // namespace camprop
