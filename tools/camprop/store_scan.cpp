// Shared-locked scan of the storage file for the property tool, through the
// store's own record scanner.
#include "tools/camprop/store_scan.h"

#include <errno.h>
#include <string.h>
#include <time.h>

#include "property_store/internal/record_scanner.h"
#include "tools/camprop/missing_store.h"

namespace camprop {

namespace {

uint64_t MonotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

ScanResult ScanStore(RecordVisitor* visitor) {
  ScanResult result;
  propstore::RecordScanner scan(propstore::ScanPurpose::kLookup);
  // The scanner holds the lock once it is open and sound (its constructor
  // takes it last); a failed open never took it.
  const bool locked = scan.status() == ScanStatus::kOk;
  const uint64_t locked_at = locked ? MonotonicNanoseconds() : 0;
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
  scan.Close();
  if (locked) result.lock_held_ns = MonotonicNanoseconds() - locked_at;
  return result;
}

bool StoreIsMissing(const ScanResult& result) {
  return result.status == ScanStatus::kNoFile ||
         (result.status == ScanStatus::kOpenFailed && result.error == ENOTDIR);
}

const char* DescribeOpenError(int error) {
  switch (error) {
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
      return DescribePermissionDenied();
    default:
      return strerror(error);
  }
}

}  // namespace camprop
