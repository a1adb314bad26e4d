// The store's update with its outcome: how it ended and the errno of the
// step that failed, for callers that explain a failure (the camprop tool)
// rather than take errno as some later call may have left it.
// update_property is this and a plain result. Internal to the store; not
// exported.
//
// Thread-safety: as update_property, callable from any thread of any
// process; updates exclude each other through the file lock.
#ifndef PROPERTY_STORE_INTERNAL_PROPERTY_UPDATE_H_
#define PROPERTY_STORE_INTERNAL_PROPERTY_UPDATE_H_

#include "property_store/internal/record_scanner.h"

namespace propstore {

// How one update ended. Intentionally copyable.
struct UpdateResult {
  ScanStatus status = ScanStatus::kOk;  // kOk: the record reached the file
  int error = 0;                        // errno of the failing step; 0 on success
};

// Stores `value` under `key` by the rules of update_property (cutting,
// first match, append, creation of the file) and returns how it ended.
// REQUIRES: key and value are NUL-terminated.
UpdateResult StoreProperty(const char* key, const char* value);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_PROPERTY_UPDATE_H_
