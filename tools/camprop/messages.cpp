// Complaints of the property tool on standard error.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"

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

std::string DescribeScanFailure(const ScanResult& result) {
  const char* path = propstore::kStoragePath;
  char text[512];  // room for the longest reason: a group to join
  if (StoreIsMissing(result)) {
    snprintf(text, sizeof(text), "cannot read %s: %s", path,
             DescribeMissingStore(DiagnoseMissingStore()));
    return text;
  }
  switch (result.status) {
    case ScanStatus::kOpenFailed:
    case ScanStatus::kNotRegular:
    case ScanStatus::kLinked:
      snprintf(text, sizeof(text), "cannot read %s: %s", path, DescribeOpenError(result.error));
      break;
    case ScanStatus::kLockFailed:
      snprintf(text, sizeof(text), "cannot lock %s: %s", path, strerror(result.error));
      break;
    case ScanStatus::kReadFailed:
      snprintf(text, sizeof(text), "reading %s failed after %llu %s: %s", path,
               static_cast<unsigned long long>(result.whole_records),
               result.whole_records == 1 ? "record" : "records", strerror(result.error));
      break;
    case ScanStatus::kReplaced:
    case ScanStatus::kWriteFailed:
      // Only updates end this way; a read-only scan never does.
      snprintf(text, sizeof(text), "cannot update %s: %s", path, strerror(result.error));
      break;
    case ScanStatus::kNoFile:
    case ScanStatus::kOk:
      snprintf(text, sizeof(text), "%s was read", path);
      break;
  }
  return text;
}

int ReportScanFailure(const ScanResult& result) {
  Complain("%s", DescribeScanFailure(result).c_str());
  return kExitFailed;
}

}  // namespace camprop
