// The sub-commands of camprop, the console tool for the property store,
// each a client of the store engine (property_store/internal/). Each prints
// its result on standard output and its complaints, prefixed "camprop: ",
// on standard error, and returns the process exit status. None prints while
// it holds the store's lock: what it needs is copied first, so a slow
// reader of its output never stalls a camera process.
//
// Thread-safety: each command is a whole program run; call from main().
#ifndef TOOLS_CAMPROP_COMMANDS_H_
#define TOOLS_CAMPROP_COMMANDS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "property_store/internal/status.h"
#include "property_store/internal/store.h"
#include "property_store/internal/store_follower.h"
#include "tools/camprop/output.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/places.h"
#include "tools/camprop/settings_file.h"

namespace camprop {

// Exit statuses, as other command-line tools use them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // not set, damaged, unreadable, or output lost
inline constexpr int kExitUsage = 2;   // bad command line or bad input

// What every command works on: the places, and the store in the first of
// them. Both outlive the command.
struct Context {
  const Places& places;
  const propstore::Store& store;
};

// Prints the value of `key` and a newline, as a lookup reads it. When the
// key is not stored, prints `fallback` (cut to 91 bytes, as property_get
// would) if one is given (it may be null); otherwise says so and fails.
// Refuses a key of 64 bytes or more. The text goes out as stored, except to
// a terminal, where control bytes are escaped as `list` escapes them.
int RunGet(const Context& context, const char* key, const char* fallback);

// Stores `value` under `key` through the store's own update. Refuses a key
// of 64 bytes or more and a value of 92 bytes or more instead of letting
// the store cut them: a cut key would append a record on every call.
int RunSet(const Context& context, const char* key, const char* value);

// Prints every whole record in file order, one per line, marking duplicate
// keys and fields without their NUL, then a note on a partial tail. Fails
// on any of them, as check does.
int RunList(const Context& context);

// Validates the file: counts records and reports a partial tail, fields
// without a NUL and duplicate keys. Fails when it finds any of them, and
// when no property can be stored (the directory missing or read-only).
int RunCheck(const Context& context);

// What ends a watch besides an interruption. Intentionally copyable.
struct WatchOptions {
  uint64_t count = 0;            // changes to print before ending; 0: no limit
  double timeout_seconds = 0.0;  // seconds before ending; 0: no limit
};

// What the watching commands say about the store they follow, each once
// while it holds: a missing store, a file that cannot be read (and that it
// can be read again), a directory that cannot be watched.
// Intentionally neither copyable nor movable.
class FollowNotes {
 public:
  explicit FollowNotes(const Context& context) : context_(context) {}
  FollowNotes(const FollowNotes&) = delete;
  FollowNotes& operator=(const FollowNotes&) = delete;

  // Says what `follower`'s last read and watch found, unless already said.
  void Say(const propstore::StoreFollower& follower);

 private:
  const Context& context_;
  std::string said_;              // the store's state, as last said
  bool said_unreadable_ = false;  // the last state said was an unreadable file
  int said_watch_error_ = 0;      // why the directory is not watched, as last said
};

// Prints one line per change of a property whose key starts with `prefix`
// (every key when it is empty), as the changes happen, until ended by
// `options` or by a signal. Holds the lock only while it copies a snapshot.
int RunWatch(const Context& context, const std::string& prefix, const WatchOptions& options);

// Stores the `key=value` lines of `operands`, files or directories (their
// *.conf files in name order, as sysctl.d takes them), a later line
// overriding an earlier one; with no operand, the defaults directory's.
// Then, winning over them, the persist. settings saved in `saved_path`. A
// file with a bad line is reported ("FILE:LINE: reason") and left out whole
// (exit 2), one that cannot be read too (exit 1); the rest is stored.
int RunLoad(const Context& context, const std::vector<const char*>& operands,
            const std::string& saved_path);

// Stores every persist. property saved in the file at `path` (see
// persist_file.h), over what the store holds. A missing file restores
// nothing; damaged lines are reported and skipped. Fails when the file
// cannot be read or the store cannot be updated.
int RunPersistRestore(const Context& context, const std::string& path);

// Removes `keys` from the saved file at `path` at once, so that from the
// next boot on their defaults (or nothing) apply; the store keeps their
// values until then, and the watch does not save them again. Says which
// keys were not saved. Fails when the file cannot be read or replaced.
int RunPersistForget(const Context& context, const std::vector<const char*>& keys,
                     const std::string& path);

// Saves every change of a persist. property into the file at `path`, whole
// and atomically, until a signal (SIGTERM, SIGINT, SIGHUP) ends it. Keys are
// only added and updated, never dropped. Fails when the file is there but
// cannot be read, or when the last save before the end failed.
int RunPersistWatch(const Context& context, const std::string& path);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_COMMANDS_H_
