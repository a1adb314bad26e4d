// Opening, locking and reading the storage file for every scan.
//
// The file is opened with open(2) and read with pread(2) into a buffer of
// the scanner's own rather than through stdio: a lookup then costs the four
// system calls it cannot do without (open, flock, read, close), and the
// flags the store depends on can be given:
//  - O_CLOEXEC: a child program never inherits a locked descriptor;
//  - O_NOFOLLOW: a symbolic link planted at the path cannot redirect reads
//    or the writes of every camera process;
//  - O_NONBLOCK: opening a FIFO planted at the path cannot hang; it has no
//    effect on the reads and writes of a regular file;
//  - no O_CREAT on an existing file: where /run/camera is a sticky shared
//    directory with fs.protected_regular on, O_CREAT of a file another user
//    owns fails although the file is writable. A missing file is created
//    with O_CREAT|O_EXCL, which never empties a file another process
//    created an instant earlier.
// Lookups take no fstat: pread refuses a directory (EISDIR) and a FIFO
// (ESPIPE) by itself. Updates fstat anyway, for the link count.
#include "property_store/record_scanner.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace propstore {
namespace {

// Large enough that a scan of a few thousand records needs only a handful
// of reads: each read call costs about as much as scanning a hundred records.
constexpr size_t kReadBufferSize = 16 * 1024;

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// Another process may create and remove the file between our attempts; give
// up rather than spin when that keeps happening.
constexpr int kCreateAttempts = 8;

bool IsNotRegularError(int error) {
  // EISDIR: a directory; ESPIPE: a FIFO or socket that opened; ENXIO: a
  // socket, or a FIFO without a reader; EINVAL: set below for the rest.
  return error == EISDIR || error == ESPIPE || error == ENXIO;
}

// Opens the existing file read-write, or creates it exclusively when it is
// missing. Returns the descriptor, or -1 with errno set.
int OpenOrCreate() {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    int fd = open(kStoragePath, O_RDWR | kOpenFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(kStoragePath, O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool LockWholeFile(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

RecordScanner::RecordScanner(ScanPurpose purpose) { Open(purpose); }

RecordScanner::~RecordScanner() {
  Close();
  if (buffer_ != spare_) free(buffer_);
}

void RecordScanner::Open(ScanPurpose purpose) {
  const bool update = purpose == ScanPurpose::kUpdate;
  fd_ = update ? OpenOrCreate() : open(kStoragePath, O_RDONLY | kOpenFlags);
  if (fd_ < 0) {
    const int error = errno;
    if (!update && error == ENOENT) return Fail(ScanStatus::kNoFile, error);
    return Fail(IsNotRegularError(error) ? ScanStatus::kNotRegular : ScanStatus::kOpenFailed,
                error);
  }
  if (update) {
    struct stat info;
    if (fstat(fd_, &info) != 0) return Fail(ScanStatus::kOpenFailed, errno);
    if (!S_ISREG(info.st_mode)) return Fail(ScanStatus::kNotRegular, EINVAL);
    // Whoever may write /run/camera could otherwise make a camera process
    // running as root overwrite any file they can link to.
    if (info.st_nlink != 1) return Fail(ScanStatus::kLinked, EMLINK);
  }
  if (!LockWholeFile(fd_, update ? LOCK_EX : LOCK_SH)) {
    return Fail(ScanStatus::kLockFailed, errno);
  }
  buffer_ = static_cast<char*>(malloc(kReadBufferSize));
  capacity_ = kReadBufferSize;
  if (buffer_ == nullptr) {
    // Slower, one record per read, but still correct.
    buffer_ = spare_;
    capacity_ = sizeof(spare_);
  }
}

void RecordScanner::Fail(ScanStatus status, int error) {
  status_ = status;
  error_ = error;
  // Leaves errno telling why, for callers that report it.
  errno = error;
}

bool RecordScanner::Refill() {
  if (status_ != ScanStatus::kOk || at_end_) return false;
  // Keep the unread bytes (less than a record) at the front.
  const size_t kept = end_ - begin_;
  memmove(buffer_, buffer_ + begin_, kept);
  begin_ = 0;
  end_ = kept;
  while (end_ < sizeof(Record)) {
    const ssize_t got = pread(fd_, buffer_ + end_, capacity_ - end_,
                              static_cast<off_t>(file_offset_));
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      Fail(IsNotRegularError(error) ? ScanStatus::kNotRegular : ScanStatus::kReadFailed,
           error);
      return false;
    }
    if (got == 0) {
      at_end_ = true;
      return false;
    }
    end_ += static_cast<size_t>(got);
    file_offset_ += static_cast<uint64_t>(got);
  }
  return true;
}

bool RecordScanner::WriteRecord(const Record& record, uint64_t offset) {
  const ssize_t written = pwrite(fd_, &record, sizeof(record), static_cast<off_t>(offset));
  if (written == static_cast<ssize_t>(sizeof(record))) return true;
  // A short write sets no errno; a full filesystem is its usual cause.
  error_ = written < 0 ? errno : ENOSPC;
  return false;
}

void RecordScanner::Truncate(uint64_t size) {
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    // Nothing more to do: a partial tail is ignored by every reader.
  }
}

bool RecordScanner::Close() {
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  return close(fd) == 0;
}

}  // namespace propstore
