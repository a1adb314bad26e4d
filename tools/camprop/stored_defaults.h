// The values of persist. keys that the store holds but nobody set: the
// defaults `camprop load` stored, and the values whose saved setting was
// forgotten (`camprop persist forget`) since the boot. They are kept beside
// the store, in ROOT/run/camera/persist_defaults, so they are gone at every
// boot as the store is, and they are read and written only under the
// store's lock, so they always describe the store as it is. `camprop
// persist watch` saves no value that is found here: storing a default never
// makes it a setting, and a forgotten setting stays forgotten.
//
// Thread-safety: keeps no state; the store's lock orders every access.
#ifndef TOOLS_CAMPROP_STORED_DEFAULTS_H_
#define TOOLS_CAMPROP_STORED_DEFAULTS_H_

#include <string>

#include "tools/camprop/persist_file.h"

namespace camprop {

// The values kept in the file at `path`; none when it is missing or
// unreadable. REQUIRES: the caller holds the store's lock, shared or
// exclusive (a snapshot's `under_lock`, or a transaction).
PersistedSettings ReadStoredDefaults(const std::string& path);

// Makes the file at `path` hold `defaults`. Returns 0, or the errno of the
// step that failed. REQUIRES: the caller holds the store's exclusive lock
// (a transaction).
int WriteStoredDefaults(const std::string& path, const PersistedSettings& defaults);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORED_DEFAULTS_H_
