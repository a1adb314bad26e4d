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
// their *.conf files in name order), a later line overriding an earlier
// one; with no operand, the *.conf files of /etc/camera/properties.d (none
// when it does not exist). Every file is read and checked first: a bad
// line is reported as "FILE:LINE: reason" and nothing is stored (exit 2);
// so is a file that cannot be read (exit 1).
int RunLoad(const std::vector<const char*>& operands);

// Stores every persist. property saved in the file at `path` (see
// persist_file.h). A missing file restores nothing; damaged lines are
// reported and skipped. Fails when the file cannot be read or a property
// cannot be stored.
int RunPersistRestore(const std::string& path);

// Saves every change of a persist. property into the file at `path`, whole
// and atomically, until a signal (SIGTERM, SIGINT, SIGHUP) ends it. Keys are
// only added and updated, never dropped. Fails when the file is there but
// cannot be read, or when the last save before the end failed.
int RunPersistWatch(const std::string& path);

// Stores `settings` in order through RunSet, each key once with its last
// value. Stops at the first that cannot be stored, saying how many were.
int StoreSettings(const std::vector<Setting>& settings);

// The "camprop: " prefix and a message on standard error, after whatever
// went to standard output so far.
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What went wrong with a scan that could not read the file (any status but
// kOk, for a file that exists), in one line without the "camprop: " prefix.
std::string DescribeScanFailure(const ScanResult& result);

// Complains with DescribeScanFailure. Returns kExitFailed.
int ReportScanFailure(const ScanResult& result);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_COMMANDS_H_
