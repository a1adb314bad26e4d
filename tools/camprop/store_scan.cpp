// Shared-locked scan of the storage file for the property tool.
//
// Thread-safety: see store_scan.h.
#include "tools/camprop/store_scan.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>

namespace camprop {

ScanResult ScanStore(RecordVisitor* visitor) {
  ScanResult result;
  FILE* stream = propstore::OpenForLookup();
  if (stream == nullptr) {
    result.error = errno;
    result.status = errno == ENOENT ? ScanStatus::kNoFile : ScanStatus::kOpenFailed;
    return result;
  }
  char stream_buffer[propstore::kStreamBufferSize];
  propstore::TuneStream(stream, stream_buffer);
  if (!propstore::LockWholeFile(stream, LOCK_SH)) {
    result.error = errno;
    result.status = ScanStatus::kLockFailed;
    fclose(stream);
    return result;
  }

  propstore::Record record;
  for (;;) {
    // Read byte-wise rather than as one item so a partial tail is measured.
    const size_t got = fread_unlocked(&record, 1, sizeof(record), stream);
    if (got == sizeof(record)) {
      const uint64_t index = result.whole_records++;
      if (!visitor->Visit(index, record)) {
        result.stopped_early = true;
        break;
      }
      continue;
    }
    if (ferror_unlocked(stream)) {
      result.error = errno;
      result.status = ScanStatus::kReadFailed;
    }
    result.tail_bytes = got;
    break;
  }
  fclose(stream);  // releases the lock
  return result;
}

const char* DescribeOpenError(int error) {
  switch (error) {
    case ENOENT:
      return "no such file (nothing has been stored yet, or /run/camera is missing)";
    case ELOOP:
      return "is a symbolic link; the store never follows one";
    case EINVAL:
      return "is not a regular file";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return strerror(error);
  }
}

}  // namespace camprop
