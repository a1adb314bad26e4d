// camprop set: stores one key through the store's own writer, so the
// exclusive lock, the in-place update and the append are exactly the
// library's.
#include <string.h>

#include "property_store/internal/property_update.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"

namespace camprop {

// From the update's own outcome: an errno left over from some other call
// would name the wrong cause.
const char* DescribeUpdateFailure(const propstore::UpdateResult& result) {
  // The same condition reads the same in every command.
  MissingStore why;
  if (result.status == ScanStatus::kOpenFailed && MissingStoreFromError(result.error, &why)) {
    return DescribeMissingStore(why);
  }
  if (result.status == ScanStatus::kReplaced) {
    return "it was replaced or removed each time this update took its lock";
  }
  if (result.error == 0) return "the record did not reach the file";
  return DescribeOpenError(result.error);
}

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
  const propstore::UpdateResult result = propstore::StoreProperty(key, value);
  if (result.status == ScanStatus::kOk) return kExitOk;
  Complain("cannot store %s in %s: %s", key, propstore::kStoragePath,
           DescribeUpdateFailure(result));
  return kExitFailed;
}

}  // namespace camprop
