// Complaints of the property tool on standard error.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <stdlib.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"

namespace camprop {

namespace {

// True when standard error is the journal's stream: systemd names it in
// JOURNAL_STREAM as "DEVICE:INODE" (sd-daemon(3)). A descriptor 2 that was
// redirected since is not, even with the variable inherited.
bool StandardErrorIsJournal() {
  static const bool journal = [] {
    const char* stream = getenv("JOURNAL_STREAM");
    struct stat info;
    if (stream == nullptr || fstat(2, &info) != 0) return false;
    unsigned long long device = 0, inode = 0;
    return sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           device == static_cast<unsigned long long>(info.st_dev) &&
           inode == static_cast<unsigned long long>(info.st_ino);
  }();
  return journal;
}

void Say(const char* prefix, const char* format, va_list arguments) {
  // Whatever went to standard output so far comes first.
  fflush(stdout);
  fputs(prefix, stderr);
  fputs("camprop: ", stderr);
  vfprintf(stderr, format, arguments);
  fputc('\n', stderr);
}

}  // namespace

const char* WarningPrefix() { return StandardErrorIsJournal() ? "<4>" : ""; }

void Complain(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Say(WarningPrefix(), format, arguments);
  va_end(arguments);
}

void Note(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Say("", format, arguments);
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
