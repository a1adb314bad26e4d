// The sub-commands of camprop, the console tool for the property store.
// Each prints its result on standard output and its complaints, prefixed
// "camprop: ", on standard error, and returns the process exit status.
// None prints while it holds the store's lock: what it needs is copied
// first, so a slow reader of its output never stalls a camera process.
//
// Thread-safety: each command is a whole program run; call from main().
#ifndef TOOLS_CAMPROP_COMMANDS_H_
#define TOOLS_CAMPROP_COMMANDS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "property_store/internal/property_update.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/store_scan.h"

namespace camprop {

// Exit statuses, as other command-line tools use them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // not set, damaged, unreadable, or output lost
inline constexpr int kExitUsage = 2;   // bad command line or bad input

// Prints the value of `key` and a newline, reading under the shared lock as
// the store's readers do. When the key is not stored, prints `fallback` (cut
// to 91 bytes, as property_get would) if one is given; otherwise says so and
// fails. Refuses a key of 64 bytes or more. `fallback` may be NULL. The text
// goes out as stored, except to a terminal, where control bytes are
// escaped as `list` escapes them.
int RunGet(const char* key, const char* fallback);

// Stores `value` under `key` through the store's own writer (exclusive
// lock, update in place or append). Refuses a key of 64 bytes or more and a
// value of 92 bytes or more instead of letting the store cut them: a cut
// key would append a record on every call.
int RunSet(const char* key, const char* value);

// Prints every whole record in file order, one per line, marking duplicate
// keys and fields without their NUL, then a note on a partial tail.
int RunList();

// Validates the file: counts records and reports a partial tail, fields
// without a NUL and duplicate keys. Fails when it finds any of them, and
// when /run/camera is missing or read-only (no property can be stored).
int RunCheck();

// What ends a watch besides an interruption. Intentionally copyable.
struct WatchOptions {
  uint64_t count = 0;            // changes to print before ending; 0: no limit
  double timeout_seconds = 0.0;  // seconds before ending; 0: no limit
};

// Prints one line per change of a property whose key starts with `prefix`
// (every key when it is empty), as the changes happen, until ended by
// `options` or by a signal. Holds the lock only while it copies a snapshot.
int RunWatch(const std::string& prefix, const WatchOptions& options);

// Stores the `key=value` lines of `operands`, files (or directories, for
// their *.conf files in name order, leaving out subdirectories and files
// masked by a link to /dev/null), a later line overriding an earlier one;
// with no operand, the *.conf files of /etc/camera/properties.d (none when
// it does not exist). Then, and winning over them, the persist. settings
// saved in `saved_path` (see ApplySettings). A file with a bad line is
// reported ("FILE:LINE: reason") and left out whole (exit 2); one that
// cannot be read is reported and left out (exit 1); every other file and
// the saved settings are stored all the same.
int RunLoad(const std::vector<const char*>& operands, const std::string& saved_path);

// Stores every persist. property saved in the file at `path` (see
// persist_file.h), over what the store holds. A missing file restores
// nothing; damaged lines are reported and skipped. Fails when the file
// cannot be read or the store cannot be updated.
int RunPersistRestore(const std::string& path);

// Removes `keys` from the saved file at `path` at once, so that from the
// next boot on their defaults (or nothing) apply; the store keeps their
// values until then, and the watch does not save them again. Says which
// keys were not saved. Fails when the file cannot be read or replaced.
int RunPersistForget(const std::vector<const char*>& keys, const std::string& path);

// Saves every change of a persist. property into the file at `path`, whole
// and atomically, until a signal (SIGTERM, SIGINT, SIGHUP) ends it. Keys are
// only added and updated, never dropped. Fails when the file is there but
// cannot be read, or when the last save before the end failed.
int RunPersistWatch(const std::string& path);

// Stores `defaults` (in order, each key once with its last value) and
// `saved` in one pass under the store's exclusive lock (store_batch.h);
// a saved value wins over the default of its key. A persist. key that the
// store holds already is left as it is, unless `replace_persist` or its
// value is the default stored for it earlier (stored_defaults.h), and the
// defaults of persist. keys are kept for the watch. Returns kExitOk, or
// kExitFailed after a complaint.
int ApplySettings(const std::vector<Setting>& defaults, const PersistedSettings& saved,
                  bool replace_persist);

// Why an update of the store failed, from its own outcome: a static text.
const char* DescribeUpdateFailure(const propstore::UpdateResult& result);

// The "camprop: " prefix and a message on standard error, after whatever
// went to standard output so far; at warning priority when standard error
// is the journal (WarningPrefix).
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// As Complain, for what is only news (the journal's default priority).
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<4>", the journal's mark of a warning, when standard error is the
// journal's stream (systemd names it in JOURNAL_STREAM); "" elsewhere.
const char* WarningPrefix();

// What went wrong with a scan that could not read the file (any status but
// kOk, for a file that exists), in one line without the "camprop: " prefix.
std::string DescribeScanFailure(const ScanResult& result);

// Complains with DescribeScanFailure. Returns kExitFailed.
int ReportScanFailure(const ScanResult& result);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_COMMANDS_H_
