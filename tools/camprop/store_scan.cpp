// Shared-locked scan of the storage file for the property tool, through the
// store's own record scanner.
#include "tools/camprop/store_scan.h"

#include <errno.h>
#include <string.h>

#include "property_store/record_scanner.h"

namespace camprop {

ScanResult ScanStore(RecordVisitor* visitor) {
  ScanResult result;
  propstore::RecordScanner scan(propstore::ScanPurpose::kLookup);
  while (const propstore::Record* record = scan.Next()) {
    if (!visitor->Visit(scan.records_read() - 1, *record)) {
      result.stopped_early = true;
      break;
    }
  }
  result.status = scan.status();
  result.error = scan.error();
  result.whole_records = scan.records_read();
  result.tail_bytes = scan.tail_bytes();
  return result;
}

const char* DescribeOpenError(int error) {
  switch (error) {
    case ENOENT:
      return "no such file (nothing has been stored yet, or /run/camera is missing)";
    case ELOOP:
      return "is a symbolic link; the store never follows one";
    case EINVAL:
    case EISDIR:
    case ESPIPE:
    case ENXIO:
      return "is not a regular file";
    case EMLINK:
      return "has other hard links; the store never writes through one";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return strerror(error);
  }
}

}  // namespace camprop
