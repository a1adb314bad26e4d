// Opening, locking, reading and writing the storage file for every
// operation of the engine.
//
// The file is opened with open(2) and read with pread(2) into a buffer of
// its own rather than through stdio: a lookup then costs the system calls
// it cannot do without (open, the test of the pending lock, flock, read,
// close), and the flags the store depends on can be given:
//  - O_CLOEXEC: a child program never inherits a locked descriptor;
//  - O_NOFOLLOW: a symbolic link planted at the path cannot redirect reads
//    or the writes of every camera process;
//  - O_NONBLOCK: opening a FIFO planted at the path cannot hang; it has no
//    effect on the reads and writes of a regular file;
//  - no O_CREAT on an existing file: where the directory is sticky and
//    shared, with fs.protected_regular on, O_CREAT of a file another user
//    owns fails although the file is writable. A missing file is created
//    with O_CREAT|O_EXCL, which never empties a file another process
//    created an instant earlier.
//
// An update opens the file before it waits for its locks, so by the time it
// holds them the path may name another file (a copy renamed over it) or
// none (removed): the record would go into a file nobody reads again. Once
// locked it checks that the path still names the locked file, alone, and
// starts again if not; that check also settles the link count where no
// other process can change it between check and write, and its fstat gives
// the size the update reads to and appends at: never a short read. Lookups
// take no fstat: pread refuses a directory (EISDIR) and a FIFO (ESPIPE) by
// itself, and a file replaced while they wait still held the value an
// instant ago.
#include "property_store/internal/store_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "property_store/internal/pending_lock.h"

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
void OpenClosedStandardDescriptorsOnce(const Syscalls& calls) {
  if (__atomic_load_n(&gStandardDescriptorsChecked, __ATOMIC_ACQUIRE) != 0) return;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor: this one, unless another thread filled it.
    const int filler = calls.open("/dev/null", O_RDONLY, 0);
    if (filler > STDERR_FILENO) calls.close(filler);
  }
  __atomic_store_n(&gStandardDescriptorsChecked, 1, __ATOMIC_RELEASE);
}

// Fills every closed descriptor below 3 with /dev/null (see above). Returns
// false when that cannot be done.
bool FillStandardDescriptors(const Syscalls& calls) {
  for (int attempt = 0; attempt < kLowDescriptorAttempts; ++attempt) {
    const int filler = calls.open("/dev/null", O_RDONLY, 0);
    if (filler < 0) return false;
    if (filler > STDERR_FILENO) {
      calls.close(filler);
      return true;
    }
  }
  return false;
}

// open(2) of the storage file that never returns a descriptor below 3: a
// standard descriptor closed after the first operation is filled with
// /dev/null and the open repeated. Returns the descriptor, or -1 with errno
// set (EBADF when the gap cannot be filled: the store refuses to sit there).
int OpenStorageFile(const Syscalls& calls, const char* path, int flags, mode_t mode = 0) {
  for (int attempt = 0; attempt < kLowDescriptorAttempts; ++attempt) {
    const int fd = calls.open(path, flags, mode);
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    calls.close(fd);
    if (!FillStandardDescriptors(calls)) break;
  }
  errno = EBADF;
  return -1;
}

bool IsNotRegularError(int error) {
  // EISDIR: a directory; ESPIPE: a FIFO or socket that opened; ENXIO: a
  // socket, or a FIFO without a reader; ELOOP: a symbolic link (O_NOFOLLOW).
  return error == EISDIR || error == ESPIPE || error == ENXIO;
}

// Opens the existing file read-write, or creates it exclusively when it is
// missing. Returns the descriptor, or -1 with errno set and *creating
// telling whether the failed open was the creation.
int OpenOrCreate(const Syscalls& calls, const char* path, bool* creating) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    *creating = false;
    int fd = OpenStorageFile(calls, path, O_RDWR | kOpenFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    *creating = true;
    fd = OpenStorageFile(calls, path, O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool LockWholeFile(const Options& options, int fd, int operation) {
  const auto interrupted = [&options] {
    return options.interrupted != nullptr && options.interrupted();
  };
  // Once interrupted, no signal is left to end a wait: only a free lock is
  // taken.
  while (options.calls->flock(fd, interrupted() ? operation | LOCK_NB : operation) != 0) {
    if (errno != EINTR && errno != EWOULDBLOCK) return false;
    if (interrupted()) {
      errno = EINTR;
      return false;
    }
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
LockedFile CheckLockedFile(const Syscalls& calls, const char* path, int fd, uint64_t* size) {
  struct stat locked, at_path;
  if (calls.fstat(fd, &locked) != 0) return LockedFile::kUnknown;
  if (!S_ISREG(locked.st_mode)) return LockedFile::kNotRegular;
  // lstat, not stat: a symbolic link at the path to the file we locked is
  // not the file at the path, and the next open (O_NOFOLLOW) refuses it.
  // The device too: an inode number is unique only within its file system.
  if (calls.lstat(path, &at_path) != 0 || at_path.st_dev != locked.st_dev ||
      at_path.st_ino != locked.st_ino) {
    return LockedFile::kGone;
  }
  *size = static_cast<uint64_t>(locked.st_size);
  // Whoever may write the directory could otherwise make a camera process
  // running as root overwrite any file they can link to.
  return locked.st_nlink == 1 ? LockedFile::kAtPath : LockedFile::kLinked;
}

}  // namespace

StoreFile::StoreFile(const Store& store, Access access)
    : store_(store), calls_(store.calls()) {
  Open(access);
}

StoreFile::~StoreFile() {
  Close();
  if (buffer_ != spare_) calls_.free(buffer_);
}

void StoreFile::Open(Access access) {
  if (store_.path()[0] == '\0') {
    Fail(Status::Code::kTooLong, ENAMETOOLONG);
    return;
  }
  OpenClosedStandardDescriptorsOnce(calls_);
  if (access == Access::kUpdate) {
    OpenForUpdate();
  } else {
    OpenForLookup();
  }
  if (!status_.ok()) return;
  buffer_ = static_cast<char*>(calls_.malloc(kScanBufferSize));
  capacity_ = kScanBufferSize;
  if (buffer_ == nullptr) {
    // Slower, one record per read, but still correct.
    buffer_ = spare_;
    capacity_ = sizeof(spare_);
  }
}

void StoreFile::OpenForLookup() {
  fd_ = OpenStorageFile(calls_, store_.path(), O_RDONLY | kOpenFlags);
  if (fd_ < 0) {
    FailOpen(errno, false);
    return;
  }
  WaitForPendingWriter(calls_, fd_);
  if (!LockWholeFile(store_.options(), fd_, LOCK_SH)) Fail(Status::Code::kLock, errno);
}

void StoreFile::OpenForUpdate() {
  LockedFile found = LockedFile::kGone;
  for (int attempt = 0; attempt < kLockedFileAttempts; ++attempt) {
    bool creating = false;
    fd_ = OpenOrCreate(calls_, store_.path(), &creating);
    if (fd_ < 0) {
      FailOpen(errno, creating);
      return;
    }
    // A writer that finds the file free takes it at once; only one that has
    // to wait announces itself to the lookups that come meanwhile.
    if (calls_.flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      TakePendingLock(calls_, fd_);
      if (!LockWholeFile(store_.options(), fd_, LOCK_EX)) {
        Fail(Status::Code::kLock, errno);
        return;
      }
    }
    found = CheckLockedFile(calls_, store_.path(), fd_, &read_limit_);
    switch (found) {
      case LockedFile::kAtPath:
        return;
      case LockedFile::kNotRegular:
        Fail(Status::Code::kNotRegular, EINVAL);
        return;
      case LockedFile::kUnknown:
        Fail(Status::Code::kOpen, errno);
        return;
      case LockedFile::kLinked:
      case LockedFile::kGone:
        // Replaced, removed, or linked while we waited: try the file that
        // is at the path now. A link made and removed in a loop is met
        // again only by chance; one that stays is refused below.
        Close();
        break;
    }
  }
  if (found == LockedFile::kLinked) {
    Fail(Status::Code::kLinked, EMLINK);
  } else {
    Fail(Status::Code::kReplaced, EAGAIN);
  }
}

Status StoreFile::Fail(Status::Code code, int error) {
  if (status_.ok()) status_ = Status(code, error, store_.path(), records_read_);
  return status_;
}

Status StoreFile::FailOpen(int error, bool creating) {
  if (IsNotRegularError(error) || error == ELOOP) return Fail(Status::Code::kNotRegular, error);
  // A lookup that finds no file reads an empty store.
  const bool missing = error == ENOENT || error == ENOTDIR;
  if (!missing && error != EROFS) return Fail(Status::Code::kOpen, error);
  if (!store_.options().diagnose) {
    return Fail(missing && !creating ? Status::Code::kNoFile : Status::Code::kOpen, error);
  }
  // Only the directory tells a missing directory from a missing file, or a
  // read-only file system from a mere lack of permission.
  Status::Code code = Status::Code::kNoFile;
  struct stat info;
  if (calls_.stat(store_.dir(), &info) != 0) {
    code = errno == ENOENT    ? Status::Code::kNoDirectory
           : errno == ENOTDIR ? Status::Code::kNotDirectory
                              : Status::Code::kNotPermitted;
  } else if (!S_ISDIR(info.st_mode)) {
    code = Status::Code::kNotDirectory;
  } else if (calls_.access(store_.dir(), W_OK | X_OK) != 0) {
    // access() answers EROFS for a read-only file system whoever asks.
    code = errno == EROFS ? Status::Code::kReadOnly : Status::Code::kNotPermitted;
  }
  // A sound directory where the file could still not be created: say what
  // the open said.
  if (code == Status::Code::kNoFile && (creating || !missing)) {
    return Fail(Status::Code::kOpen, error);
  }
  const bool names_file = code == Status::Code::kNoFile || code == Status::Code::kNotPermitted;
  status_ = Status(code, error, names_file ? store_.path() : store_.dir());
  return status_;
}

const Record* StoreFile::Find(const KeyProbe& probe) {
  for (;;) {
    // Records are compared where they were read, without a copy, in a loop
    // over what the buffer holds.
    const size_t whole = (end_ - begin_) / sizeof(Record);
    const Record* first = reinterpret_cast<const Record*>(buffer_ + begin_);
    for (size_t i = 0; i < whole; ++i) {
      if (!probe.Matches(first[i])) continue;
      begin_ += (i + 1) * sizeof(Record);
      records_read_ += i + 1;
      return first + i;
    }
    begin_ += whole * sizeof(Record);
    records_read_ += whole;
    if (!Refill()) return nullptr;
  }
}

bool StoreFile::SkipToEnd() {
  while (Next() != nullptr) {
  }
  return status_.ok();
}

uint64_t StoreFile::SkipHole() {
  if (!status_.ok() || at_end_ || end_ - begin_ >= sizeof(Record)) return 0;
  const uint64_t next = records_read_ * sizeof(Record);
  off_t data = calls_.lseek(fd_, static_cast<off_t>(next), SEEK_DATA);
  // ENXIO: no data from here on, the rest of the file is one hole.
  if (data < 0 && errno == ENXIO) data = calls_.lseek(fd_, 0, SEEK_END);
  if (data < 0) return 0;
  const uint64_t end = static_cast<uint64_t>(data) < read_limit_ ? data : read_limit_;
  const uint64_t records = end > next ? (end - next) / sizeof(Record) : 0;
  if (records == 0) return 0;
  // What the buffer holds of the hole (less than a record) goes unread.
  records_read_ += records;
  file_offset_ = records_read_ * sizeof(Record);
  begin_ = end_ = 0;
  return records;
}

bool StoreFile::Refill() {
  if (!status_.ok() || at_end_) return false;
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
    const ssize_t got =
        calls_.pread(fd_, buffer_ + end_, wanted, static_cast<off_t>(file_offset_));
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      Fail(IsNotRegularError(error) ? Status::Code::kNotRegular : Status::Code::kRead, error);
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
      Fail(Status::Code::kShortFile, EIO);
      return false;
    }
  }
  return end_ - begin_ >= sizeof(Record);
}

Status StoreFile::Reserve(uint64_t offset, uint64_t length) {
  if (!status_.ok()) return status_;
  if (length == 0) return Status();
  if (calls_.fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                       static_cast<off_t>(length)) == 0) {
    return Status();
  }
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) {
    return Fail(Status::Code::kNoSpace, errno);
  }
  // EOPNOTSUPP and its kin: this file system cannot reserve; the writes
  // will tell.
  return Status();
}

Status StoreFile::Write(const void* bytes, size_t length, uint64_t offset) {
  if (!status_.ok()) return status_;
  const char* at = static_cast<const char*>(bytes);
  while (length > 0) {
    const ssize_t written = calls_.pwrite(fd_, at, length, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    // A short write sets no errno; a full file system is its usual cause.
    if (written <= 0) return Fail(Status::Code::kWrite, written < 0 ? errno : ENOSPC);
    at += written;
    offset += static_cast<uint64_t>(written);
    length -= static_cast<size_t>(written);
  }
  return Status();
}

void StoreFile::Truncate(uint64_t size) {
  if (calls_.ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    // Nothing more to do: a partial tail is ignored by every reader.
  }
}

Status StoreFile::Close() {
  if (fd_ < 0) return status_;
  const int fd = fd_;
  fd_ = -1;
  if (calls_.close(fd) != 0) return Fail(Status::Code::kClose, errno);
  return status_;
}

}  // namespace propstore
