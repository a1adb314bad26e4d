// Read-only walk over the records of the property storage file, under the
// same shared whole-file lock that the store's lookups take, so a concurrent
// update is never seen half-written. The tool's one way into the file. Also
// names the reasons the file could not be read, in words an engineer at a
// console understands.
//
// Every camera process that wants to update a property waits while a scan
// holds the lock, so a visitor only copies what it needs; nothing is
// printed until the scan has returned.
//
// Thread-safety: keeps no state; each scan opens, locks and closes its own
// descriptor.
#ifndef TOOLS_CAMPROP_STORE_SCAN_H_
#define TOOLS_CAMPROP_STORE_SCAN_H_

#include <stddef.h>
#include <stdint.h>

#include "property_store/internal/record_scanner.h"
#include "property_store/internal/storage_file.h"

namespace camprop {

// Receives the whole records of the file in file order.
class RecordVisitor {
 public:
  virtual ~RecordVisitor() = default;
  // Called once per whole record, under the lock; `index` counts from 0.
  // Returns false to end the scan early. Must not block: copy, never print.
  virtual bool Visit(uint64_t index, const propstore::Record& record) = 0;
};

// How a scan ended; kOk when every whole record was visited or the visitor
// stopped.
using propstore::ScanStatus;

// Outcome of one scan. Intentionally copyable.
struct ScanResult {
  ScanStatus status = ScanStatus::kOk;
  int error = 0;               // errno of the failing step
  uint64_t whole_records = 0;  // records visited
  size_t tail_bytes = 0;       // bytes of a partial trailing record
  bool stopped_early = false;  // the visitor ended the scan
  uint64_t lock_held_ns = 0;   // from the lock taken to its release; 0 if never taken
};

// Opens the storage file read-only, takes the shared lock, and hands each
// whole record to `visitor` until the end of the file or until the visitor
// stops, then closes the file (releasing the lock) before it returns. A
// trailing run of fewer than PROPERTY_RECORD_SIZE bytes is counted in
// `tail_bytes`, never visited. On a read error part-way, the records read
// before it have been visited and `whole_records` counts them.
ScanResult ScanStore(RecordVisitor* visitor);

// True when the scan found no storage file: kNoFile, or an open that failed
// because /run/camera is not a directory. Either way no property is stored.
bool StoreIsMissing(const ScanResult& result);

// Explains an errno from opening the storage file. The text is static, or
// for a denied permission valid until the next call (it may name the group
// to join; see DescribePermissionDenied).
const char* DescribeOpenError(int error);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORE_SCAN_H_
