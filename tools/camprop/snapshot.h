// A copy of every whole record of the storage file, taken under the shared
// lock and complete before the lock is released. Commands that print many
// records work on a snapshot so that a slow reader of their output (a pager,
// a full pipe, a process stopped with Ctrl-Z) never keeps a camera process
// from updating a property.
//
// Thread-safety: a snapshot is a plain value; TakeSnapshot keeps no state.
#ifndef TOOLS_CAMPROP_SNAPSHOT_H_
#define TOOLS_CAMPROP_SNAPSHOT_H_

#include <vector>

#include "property_store/internal/storage_file.h"
#include "tools/camprop/store_scan.h"

namespace camprop {

// The records of the file at one instant, in file order. Intentionally
// copyable (and cheap to move).
struct Snapshot {
  // How the scan ended. On kReadFailed, `records` holds the records read
  // before the error and scan.whole_records counts them.
  ScanResult scan;
  std::vector<propstore::Record> records;
};

// Opens the storage file, takes the shared lock, copies every whole record,
// and closes the file before it returns. Memory follows the records read,
// 156 bytes each: the copy is sized beforehand from the file itself,
// never from what a link at the path points to.
Snapshot TakeSnapshot();

}  // namespace camprop

#endif  // TOOLS_CAMPROP_SNAPSHOT_H_
