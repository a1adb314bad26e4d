// The file that keeps the persist. properties across reboots (Places::saved):
// the watch writes it whole on every change, load stores it back at boot.
// It holds escaped `key=value` lines (settings_file.h). A damaged file never
// crashes the tool or keeps the boot waiting: its sound lines count, the
// rest are reported and skipped, and the file is kept beside as PATH.bad.
//
// Thread-safety: keeps no state; call from the main thread (it complains
// on standard error).
#ifndef TOOLS_CAMPROP_PERSIST_FILE_H_
#define TOOLS_CAMPROP_PERSIST_FILE_H_

#include <sys/types.h>

#include <map>
#include <string>

namespace camprop {

// Only keys that begin with this are kept across reboots.
inline constexpr char kPersistPrefix[] = "persist.";

// The saved file's mode, and its damaged copy's: properties hold no secrets,
// but the store itself is only for the group camera.
inline constexpr mode_t kSavedFileMode = 0640;

// Persistent properties by key. Intentionally copyable.
using PersistedSettings = std::map<std::string, std::string>;

// True when `key` begins with kPersistPrefix.
bool IsPersistKey(const std::string& key);

// Reads the file at `path` into *settings: each sound line whose key is a
// persist key (a later line overrides an earlier one). A missing file holds
// none. The other lines that hold something are reported on standard error
// as "PATH:LINE: reason", the first kProblemsKept of them, then their count,
// and skipped; then the file is kept beside, whole, as PATH.bad and *damaged
// set. Of a file larger than a restore reads (kLargestSettingsFile) the
// whole lines within that size count, and it is kept as PATH.bad too.
// Returns false, after a complaint, when the file is there but cannot be
// read (permission, a link, not a regular file, a read error).
bool ReadPersistFile(const std::string& path, PersistedSettings* settings, bool* damaged);

// Replaces the file at `path` with one that holds `settings`, as
// ReplaceFile does (atomic_file.h): the mark of the escaped format with a
// comment saying what the file is, then one escaped line per key, in key
// order. The text is written a piece at a time, never held whole. Returns 0
// or the errno of the step that failed.
// REQUIRES: the caller holds a PersistFileLock of `path`.
int WritePersistFile(const std::string& path, const PersistedSettings& settings);

// How many bytes of that file come before its first line.
size_t PersistFileHeaderSize();

// Holds the lock of the saved file, on PATH.lock (mode 0600: only the
// service's user and root can open it), so that the watch's saves and
// `camprop persist forget` read and replace the file one at a time (the
// file itself is replaced by a rename, so its own lock would not last).
// Intentionally neither copyable nor movable.
class PersistFileLock {
 public:
  // Takes the lock of the saved file `path`; waits, until a stop is
  // requested (main.h). Then removes the temporary files that writers of
  // `path` killed earlier left.
  explicit PersistFileLock(const std::string& path);
  ~PersistFileLock();
  PersistFileLock(const PersistFileLock&) = delete;
  PersistFileLock& operator=(const PersistFileLock&) = delete;

  // 0, or the errno of the step that failed (the lock is then not held).
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_PERSIST_FILE_H_
