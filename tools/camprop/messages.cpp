// Complaints of the property tool on standard error.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tools/camprop/commands.h"

namespace camprop {

void Complain(const char* format, ...) {
  // Whatever went to standard output so far comes first.
  fflush(stdout);
  va_list arguments;
  va_start(arguments, format);
  fputs("camprop: ", stderr);
  vfprintf(stderr, format, arguments);
  fputc('\n', stderr);
  va_end(arguments);
}

int ReportScanFailure(const ScanResult& result) {
  const char* path = propstore::kStoragePath;
  switch (result.status) {
    case ScanStatus::kOpenFailed:
    case ScanStatus::kNotRegular:
    case ScanStatus::kLinked:
      Complain("cannot read %s: %s", path, DescribeOpenError(result.error));
      break;
    case ScanStatus::kLockFailed:
      Complain("cannot lock %s: %s", path, strerror(result.error));
      break;
    case ScanStatus::kReadFailed:
      Complain("reading %s failed after %llu records: %s", path,
               static_cast<unsigned long long>(result.whole_records),
               strerror(result.error));
      break;
    case ScanStatus::kNoFile:
      Complain("cannot read %s: %s", path, DescribeOpenError(ENOENT));
      break;
    case ScanStatus::kOk:
      break;
  }
  return kExitFailed;
}

}  // namespace camprop
