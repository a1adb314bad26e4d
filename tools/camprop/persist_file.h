// The file that keeps the `persist.` properties across reboots, by default
// /var/lib/camera/persist.properties: `camprop persist watch` writes it
// whole on every change, `camprop persist restore` stores it back at boot.
// It holds `key=value` lines (settings_file.h). A damaged file must never
// crash the tool or keep the boot waiting: its sound lines count, the rest
// are reported and skipped, and the file itself is kept beside as
// PATH.bad for whoever wants to look at it.
//
// Thread-safety: keeps no state; call from the main thread (it complains
// on standard error).
#ifndef TOOLS_CAMPROP_PERSIST_FILE_H_
#define TOOLS_CAMPROP_PERSIST_FILE_H_

#include <map>
#include <string>

namespace camprop {

// Only keys that begin with this are kept across reboots.
inline constexpr char kPersistPrefix[] = "persist.";

// Where they are kept unless --file says otherwise.
inline constexpr char kDefaultPersistPath[] = "/var/lib/camera/persist.properties";

// Persistent properties by key. Intentionally copyable.
using PersistedSettings = std::map<std::string, std::string>;

// True when `key` begins with kPersistPrefix.
bool IsPersistKey(const std::string& key);

// Reads the file at `path` into *settings: each sound line whose key is a
// persist key (a later line overrides an earlier one). A missing file holds
// none. Each other line that holds something is reported on standard error
// as "PATH:LINE: reason" and skipped; then the file is kept beside as
// PATH.bad and *damaged set. A file too large to be one of ours is not
// read: it is moved to PATH.bad whole. Returns false, after a complaint,
// when the file is there but cannot be read (permission, a link, not a
// regular file, a read error).
bool ReadPersistFile(const std::string& path, PersistedSettings* settings, bool* damaged);

// The content of a file that holds `settings`: a comment saying what the
// file is, then one line per key, in key order.
std::string PersistFileText(const PersistedSettings& settings);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_PERSIST_FILE_H_
