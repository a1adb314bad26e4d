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
// The file never sits at descriptor 0, 1 or 2: a daemon started with one of
// them closed would otherwise have another thread's printf land in the
// records. The first scan of the process opens /dev/null on each closed one.
//
// An update opens the file before it waits for the lock, so by the time it
// holds the lock the path may name another file (a copy renamed over it) or
// none (removed): the record would go into a file nobody reads again. Once
// locked it checks that the path still names the locked file, alone, and
// starts again if not; that check also settles the link count where no
// other process can change it between check and write, and its fstat gives
// the size the update reads to and appends at: never a short read. Lookups take no
// fstat: pread refuses a directory (EISDIR) and a FIFO (ESPIPE) by itself,
// and a file replaced while they wait still held the value an instant ago.
//
// Tests replace several of these calls to inject faults; record_scanner.h
// lists them, for whoever changes which calls a scan makes.
#include "property_store/internal/record_scanner.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace propstore {
namespace {

constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// Another process may create and remove the file between our attempts, or
// replace it while we wait for its lock; give up rather than spin when that
// keeps happening.
constexpr int kCreateAttempts = 8;
constexpr int kLockedFileAttempts = 8;

// Each open that lands below 3 fills one gap; a fourth means another thread
// keeps closing standard descriptors.
constexpr int kLowDescriptorAttempts = 4;

// Set once the standard descriptors have been looked at in this process. A
// plain int with atomic builtins: the library links no C++ runtime.
int gStandardDescriptorsChecked = 0;

// Opens /dev/null on each of descriptors 0-2 that is closed, once per
// process, so that the storage file is never given one of them. Read-only:
// a write to a standard descriptor that was closed keeps failing (EBADF) as
// it did, instead of vanishing in silence. Not close-on-exec: a child
// program expects its standard descriptors open.
void OpenClosedStandardDescriptorsOnce() {
  if (__atomic_load_n(&gStandardDescriptorsChecked, __ATOMIC_ACQUIRE) != 0) return;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor: this one, unless another thread filled it.
    const int filler = open("/dev/null", O_RDONLY);
    if (filler > STDERR_FILENO) close(filler);
  }
  __atomic_store_n(&gStandardDescriptorsChecked, 1, __ATOMIC_RELEASE);
}

// Fills every closed descriptor below 3 with /dev/null (see above). Returns
// false when that cannot be done.
bool FillStandardDescriptors() {
  for (int attempt = 0; attempt < kLowDescriptorAttempts; ++attempt) {
    const int filler = open("/dev/null", O_RDONLY);
    if (filler < 0) return false;
    if (filler > STDERR_FILENO) {
      close(filler);
      return true;
    }
  }
  return false;
}

// open(2) of the storage file that never returns a descriptor below 3: a
// standard descriptor closed after the first scan is filled with /dev/null
// and the open repeated. Returns the descriptor, or -1 with errno set
// (EBADF when the gap cannot be filled: the store refuses to sit there).
int OpenStorageFile(int flags, mode_t mode = 0) {
  for (int attempt = 0; attempt < kLowDescriptorAttempts; ++attempt) {
    const int fd = open(kStoragePath, flags, mode);
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    close(fd);
    if (!FillStandardDescriptors()) break;
  }
  errno = EBADF;
  return -1;
}

bool IsNotRegularError(int error) {
  // EISDIR: a directory; ESPIPE: a FIFO or socket that opened; ENXIO: a
  // socket, or a FIFO without a reader; EINVAL: set below for the rest.
  return error == EISDIR || error == ESPIPE || error == ENXIO;
}

// Opens the existing file read-write, or creates it exclusively when it is
// missing. Returns the descriptor, or -1 with errno set.
int OpenOrCreate() {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    int fd = OpenStorageFile(O_RDWR | kOpenFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = OpenStorageFile(O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0666);
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

// What an update finds once it holds the lock.
enum class LockedFile {
  kAtPath,      // the path names the locked file, its only name
  kNotRegular,  // the locked file is not a regular file
  kLinked,      // the path names it, but it has other names too
  kGone,        // the path names another file, or none
  kUnknown,     // fstat failed (errno)
};

// Sets `*size` to the locked file's size, which no cooperating writer can
// change while the lock is held.
LockedFile CheckLockedFile(int fd, uint64_t* size) {
  struct stat locked, at_path;
  if (fstat(fd, &locked) != 0) return LockedFile::kUnknown;
  if (!S_ISREG(locked.st_mode)) return LockedFile::kNotRegular;
  // lstat, not stat: a symbolic link at the path to the file we locked is
  // not the file at the path, and the next open (O_NOFOLLOW) refuses it.
  // The device too: an inode number is unique only within its file system.
  if (lstat(kStoragePath, &at_path) != 0 || at_path.st_dev != locked.st_dev ||
      at_path.st_ino != locked.st_ino) {
    return LockedFile::kGone;
  }
  *size = static_cast<uint64_t>(locked.st_size);
  // Whoever may write /run/camera could otherwise make a camera process
  // running as root overwrite any file they can link to.
  return locked.st_nlink == 1 ? LockedFile::kAtPath : LockedFile::kLinked;
}

}  // namespace

RecordScanner::RecordScanner(ScanPurpose purpose) { Open(purpose); }

RecordScanner::~RecordScanner() {
  Close();
  if (buffer_ != spare_) free(buffer_);
}

void RecordScanner::Open(ScanPurpose purpose) {
  OpenClosedStandardDescriptorsOnce();
  if (purpose == ScanPurpose::kUpdate) {
    OpenLockedForUpdate();
  } else {
    fd_ = OpenStorageFile(O_RDONLY | kOpenFlags);
    if (fd_ < 0) {
      const int error = errno;
      if (error == ENOENT) return Fail(ScanStatus::kNoFile, error);
      return Fail(IsNotRegularError(error) ? ScanStatus::kNotRegular : ScanStatus::kOpenFailed,
                  error);
    }
    if (!LockWholeFile(fd_, LOCK_SH)) return Fail(ScanStatus::kLockFailed, errno);
  }
  if (status_ != ScanStatus::kOk) return;
  buffer_ = static_cast<char*>(malloc(kScanBufferSize));
  capacity_ = kScanBufferSize;
  if (buffer_ == nullptr) {
    // Slower, one record per read, but still correct.
    buffer_ = spare_;
    capacity_ = sizeof(spare_);
  }
}

void RecordScanner::OpenLockedForUpdate() {
  LockedFile found = LockedFile::kGone;
  for (int attempt = 0; attempt < kLockedFileAttempts; ++attempt) {
    fd_ = OpenOrCreate();
    if (fd_ < 0) {
      const int error = errno;
      return Fail(IsNotRegularError(error) ? ScanStatus::kNotRegular : ScanStatus::kOpenFailed,
                  error);
    }
    if (!LockWholeFile(fd_, LOCK_EX)) return Fail(ScanStatus::kLockFailed, errno);
    found = CheckLockedFile(fd_, &read_limit_);
    switch (found) {
      case LockedFile::kAtPath:
        return;
      case LockedFile::kNotRegular:
        return Fail(ScanStatus::kNotRegular, EINVAL);
      case LockedFile::kUnknown:
        return Fail(ScanStatus::kOpenFailed, errno);
      case LockedFile::kLinked:
      case LockedFile::kGone:
        // Replaced, removed, or linked while we waited: try the file that
        // is at the path now. A link made and removed in a loop is met
        // again only by chance; one that stays is refused below.
        Close();
        break;
    }
  }
  if (found == LockedFile::kLinked) return Fail(ScanStatus::kLinked, EMLINK);
  Fail(ScanStatus::kReplaced, EAGAIN);
}

void RecordScanner::Fail(ScanStatus status, int error) {
  status_ = status;
  error_ = error;
  // Leaves errno telling why, for callers that report it.
  errno = error;
}

bool RecordScanner::Refill() {
  if (status_ != ScanStatus::kOk || at_end_) return false;
  // Keep the record handed out last, then the unread bytes (less than a
  // record), at the front: an append is built on the last record read.
  const size_t keep_from = begin_ >= sizeof(Record) ? begin_ - sizeof(Record) : begin_;
  memmove(buffer_, buffer_ + keep_from, end_ - keep_from);
  begin_ -= keep_from;
  end_ -= keep_from;
  while (end_ - begin_ < sizeof(Record)) {
    // The buffer holds at least two records, so there is always room here.
    size_t wanted = capacity_ - end_;
    const uint64_t left = read_limit_ - file_offset_;
    if (left < wanted) wanted = static_cast<size_t>(left);
    if (wanted == 0) {
      at_end_ = true;
      break;
    }
    const ssize_t got = pread(fd_, buffer_ + end_, wanted, static_cast<off_t>(file_offset_));
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      Fail(IsNotRegularError(error) ? ScanStatus::kNotRegular : ScanStatus::kReadFailed,
           error);
      return false;
    }
    end_ += static_cast<size_t>(got);
    file_offset_ += static_cast<uint64_t>(got);
    if (static_cast<size_t>(got) == wanted) {
      if (file_offset_ == read_limit_) at_end_ = true;
      continue;
    }
    if (read_limit_ == kNoReadLimit) {
      // Under the shared lock no cooperating writer changes the file, so a
      // read that comes back short has reached its end: a lookup that
      // misses makes no further read to see that.
      at_end_ = true;
      break;
    }
    // An update reads to the size the locked file had. A file that ends
    // before it was cut by someone who ignores the lock; where its records
    // end is then unknown, and an append there could land mid-file.
    if (got == 0) {
      Fail(ScanStatus::kReadFailed, EIO);
      return false;
    }
  }
  return end_ - begin_ >= sizeof(Record);
}

bool RecordScanner::WriteRecord(const Record& record, uint64_t offset) {
  const ssize_t written = pwrite(fd_, &record, sizeof(record), static_cast<off_t>(offset));
  if (written == static_cast<ssize_t>(sizeof(record))) return true;
  // A short write sets no errno; a full filesystem is its usual cause.
  Fail(ScanStatus::kWriteFailed, written < 0 ? errno : ENOSPC);
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
