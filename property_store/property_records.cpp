// The two operations that touch the storage file, as the library exports
// them: clients of the system's store at its fixed path.
#include <errno.h>

#include "propstore/properties.h"
#include "property_store/internal/store.h"

namespace {

// Constant-initialized: the library has no static initialisers.
constexpr propstore::Store kSystemStore;

}  // namespace

int fetch_property(const char* key, char* value) {
  // Not stored, no file, or a file that cannot be read: all read as "not
  // stored".
  return kSystemStore.Get(key, value).ok() ? 1 : 0;
}

int update_property(const char* key, const char* value) {
  const propstore::Status status = kSystemStore.Set(key, value);
  if (status.ok()) return 0;
  // Set last, so no call made on the way out changes it.
  errno = status.error();
  return -1;
}
