// Read-only walk over the records of the property storage file, under the
// same shared whole-file lock that the store's lookups take, so a concurrent
// update is never seen half-written. Also names the reasons the file could
// not be read, in words an engineer at a console understands.
//
// Thread-safety: keeps no state; each scan opens, locks and closes its own
// stream.
#ifndef TOOLS_CAMPROP_STORE_SCAN_H_
#define TOOLS_CAMPROP_STORE_SCAN_H_

#include <stddef.h>
#include <stdint.h>

#include "property_store/record_scanner.h"
#include "property_store/storage_file.h"

namespace camprop {

// Receives the whole records of the file in file order.
class RecordVisitor {
 public:
  virtual ~RecordVisitor() = default;
  // Called once per whole record; `index` counts from 0. Returns false to
  // end the scan early.
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
};

// Opens the storage file read-only, takes the shared lock, and hands each
// whole record to `visitor` until the end of the file or until the visitor
// stops. A trailing run of fewer than PROPERTY_RECORD_SIZE bytes is counted
// in `tail_bytes`, never visited.
ScanResult ScanStore(RecordVisitor* visitor);

// Explains an errno from opening the storage file: a static text.
const char* DescribeOpenError(int error);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORE_SCAN_H_
