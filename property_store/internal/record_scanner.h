// The one way into the property storage file: open it as a lookup or an
// update needs, take the whole-file lock, read its whole records in file
// order, close it. Lookups, updates and the tools that inspect the file all
// scan through this class, so opening rules, locking, read errors and bounds
// are handled in one place. Internal to the store; not exported.
//
// Thread-safety: a scanner belongs to one call on one thread. Scanners on
// different threads or in different processes each hold their own open file
// description, and so their own lock: they exclude each other alike.
#ifndef PROPERTY_STORE_INTERNAL_RECORD_SCANNER_H_
#define PROPERTY_STORE_INTERNAL_RECORD_SCANNER_H_

#include <stddef.h>
#include <stdint.h>

#include "property_store/internal/storage_file.h"

// Tests that depend on the exact C-library calls a scan makes, and so change
// with them (their replacements are built from tests/support/interposition.h):
//  - tests/property_store/property_io_faults_test.cpp replaces open and
//    open64 (it tells the calls apart by path and flags: O_CREAT, O_EXCL,
//    /dev/null, and counts the opens of the storage file that return
//    descriptor 0, 1 or 2), pread and pread64 (it counts them: a store of
//    three buffers takes three reads of kScanBufferSize, the last one short,
//    a miss in ten records one read, an update of an empty file none, and
//    without the buffer two records in the first read, then one a read; it
//    cuts one read short or to nothing),
//    pwrite and pwrite64, and malloc of kScanBufferSize bytes;
//  - tests/property_store/property_lock_test.cpp replaces flock and counts
//    one lock per open attempt, LOCK_SH on a read-only descriptor and LOCK_EX
//    on a read-write one, all close-on-exec; and lstat and lstat64, to move
//    the path to another device in the check after the lock;
//  - tests/camprop/failing_read_preload.cpp, preloaded into camprop by
//    tests/camprop/camprop_test.cpp, replaces pread and pwrite; the records
//    that camprop lists before its failing second read are those of one
//    kScanBufferSize, and a load into an empty store reads it once;
//  - tests/support/run_redirect.c, the stand-in for /run where a test gets no
//    mount namespace, must catch every call that takes the path (open and
//    lstat today), or the store would reach the machine's own /run;
//  - tests/property_store/property_concurrency_test.cpp,
//    tests/reliability/fault_injection_test.cpp,
//    tests/reliability/crash_consistency_test.cpp,
//    tests/stress/stress_verify.cpp and tests/camprop/camprop_test.cpp take
//    the file's lock with flock themselves, as other processes may, and
//    expect the store's scans to honour it.

namespace propstore {

// Bytes a scan reads at a time, into a buffer of the heap. Each read call
// costs about as much as copying 30 KiB of the file or scanning a hundred
// records, so the buffer is large enough that a store of a thousand records
// (156,000 bytes) takes one read, as one read of the whole file does: ten
// reads of 16 KiB made such a lookup 2.5 times that, two reads of 128 KiB
// 1.1 to 1.5 times. The heap gives it back to the next scan without asking
// the kernel again, and pages the read never reaches are never touched.
inline constexpr size_t kScanBufferSize = 256 * 1024;

// What a scan is for; it decides how the file is opened and locked.
enum class ScanPurpose {
  // Read-only under the shared lock. A missing file is an empty store. The
  // scan reads the file it opened even if it is replaced or removed while
  // the scan waits for the lock: it sees what was stored an instant before.
  kLookup,
  // Read-write under the exclusive lock; the file is created (mode 0666 less
  // the umask, never truncated) when missing. The scan reads exactly as far
  // as the size the locked file has: a file that reads shorter than that
  // ends the scan with kReadFailed (EIO). Once locked, the path must
  // still name the locked file and the file no other name: a file replaced
  // or removed meanwhile is dropped and the one at the path opened again
  // (a few times at most), and a hard link planted at the path, which could
  // redirect writes, is refused.
  kUpdate,
};

// State of a scan. Every status but kOk ends it.
enum class ScanStatus {
  kOk,           // open and locked; Next() reads on, or the end was reached
  kNoFile,       // a lookup found no file: an empty store
  kOpenFailed,   // the file could not be opened or created (see error())
  kNotRegular,   // a directory, FIFO, socket or device lies at the path
  kLinked,       // an update found a file with other hard links (EMLINK)
  kReplaced,     // each time an update got the lock, the path named another
                 // file or none (EAGAIN)
  kLockFailed,   // the lock could not be had (see error())
  kReadFailed,   // a read failed part-way (see error())
  kWriteFailed,  // an update's record did not all reach the file (see error())
};

// The scanner's descriptor is never 0, 1 or 2: the first scan of the process
// opens /dev/null (read-only) on each of them that is closed, and a later
// open that still lands there is undone, the gap filled and the open
// repeated. When that cannot be done the scan fails (kOpenFailed, EBADF)
// rather than sit where another thread's output would reach the file.
//
// Intentionally neither copyable nor movable: it owns a descriptor and a lock.
class RecordScanner {
 public:
  // Opens the storage file for `purpose` and takes the lock, waiting as long
  // as needed (a wait interrupted by a signal is resumed). Check status().
  explicit RecordScanner(ScanPurpose purpose);
  // Closes the file, which releases the lock.
  ~RecordScanner();

  RecordScanner(const RecordScanner&) = delete;
  RecordScanner& operator=(const RecordScanner&) = delete;

  ScanStatus status() const { return status_; }
  // errno of the step that failed; 0 while the scan is sound.
  int error() const { return error_; }

  // The next whole record in file order, or null at the end of the file or
  // when the scan has failed (status() tells which). The record stays valid
  // until the next call; the scanner owns it.
  const Record* Next() {
    // The common case, a record already in the buffer, stays inline: a scan
    // of a large store is a tight loop over it.
    if (end_ - begin_ < sizeof(Record) && !Refill()) return nullptr;
    const Record* record = reinterpret_cast<const Record*>(buffer_ + begin_);
    begin_ += sizeof(Record);
    ++records_read_;
    return record;
  }

  // Whole records handed out so far.
  uint64_t records_read() const { return records_read_; }

  // The record Next() handed out last, where it lies now: unlike Next()'s
  // pointer, still valid once Next() has returned null at the end of the
  // file, until the scanner is closed. Null before the first record.
  const Record* last_record() const {
    return begin_ >= sizeof(Record)
               ? reinterpret_cast<const Record*>(buffer_ + begin_ - sizeof(Record))
               : nullptr;
  }

  // Once Next() has returned null at the end of the file: the bytes of a
  // trailing partial record (fewer than a record's size; none when the file
  // ends on a whole record). Valid until the scanner is closed.
  const char* tail() const { return buffer_ + begin_; }
  size_t tail_bytes() const { return at_end_ ? end_ - begin_ : 0; }

  // Writes one whole record at byte `offset` under the exclusive lock of an
  // update scan. Returns false, with status() kWriteFailed and error() set
  // (ENOSPC for a short write), when it did not all reach the file.
  bool WriteRecord(const Record& record, uint64_t offset);

  // Cuts the file back to `size` bytes (an update scan only): an append that
  // failed part-way must not leave a partial record behind.
  void Truncate(uint64_t size);

  // Closes the file now, releasing the lock. Returns false when the close
  // reported an error (the last write may not have reached the file).
  bool Close();

 private:
  void Open(ScanPurpose purpose);
  // Opens (or creates) the file at the path and locks it exclusively, until
  // the locked file is the one at the path; sets status() when it gives up.
  void OpenLockedForUpdate();
  void Fail(ScanStatus status, int error);
  // Reads until at least one whole record is buffered or the file ends.
  // Returns false at the end of the file, on a read error, or when the scan
  // has already ended.
  bool Refill();

  // No cooperating writer changes the file while a scan holds its lock: a
  // lookup reads until a read comes back short, an update as far as the size
  // the locked file had (fstat), and never further.
  static constexpr uint64_t kNoReadLimit = UINT64_MAX;

  int fd_ = -1;
  ScanStatus status_ = ScanStatus::kOk;
  int error_ = 0;
  // The read buffer lives on the heap so that a scan fits on the smallest
  // thread stacks; `spare_` stands in when no heap memory is to be had.
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // first byte not yet handed out
  size_t end_ = 0;    // end of the bytes read into the buffer
  uint64_t file_offset_ = 0;
  uint64_t read_limit_ = kNoReadLimit;
  uint64_t records_read_ = 0;
  bool at_end_ = false;
  // Room for the record handed out last and the next one.
  char spare_[2 * PROPERTY_RECORD_SIZE];
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_RECORD_SCANNER_H_
