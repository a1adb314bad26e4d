// One operation's hold on the storage file: opened as a lookup or an update
// needs, its locks taken (store.h tells the protocol), its whole records
// read in file order through a buffer of its own, records written, and the
// file closed. Every operation of the engine works through one, so opening
// rules, locks, read errors, reservation of space and bounds are handled in
// one place. Internal to the engine.
//
// The descriptor is never 0, 1 or 2: the first operation of the process
// opens /dev/null (read-only) on each of them that is closed, and a later
// open that still lands there is undone, the gap filled and the open
// repeated. When that cannot be done the open fails (kOpen, EBADF) rather
// than sit where another thread's output would reach the file.
//
// Thread-safety: belongs to one call on one thread. Others, in this process
// or another, each hold their own open file description and their own
// locks: they exclude each other alike.
#ifndef PROPERTY_STORE_INTERNAL_STORE_FILE_H_
#define PROPERTY_STORE_INTERNAL_STORE_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include "property_store/internal/record.h"
#include "property_store/internal/status.h"
#include "property_store/internal/store.h"

namespace propstore {

// Bytes a scan reads at a time, into a buffer of the heap. Each read call
// costs about as much as copying 30 KiB of the file or scanning a hundred
// records, so the buffer is large enough that a store of a thousand records
// (156,000 bytes) takes one read, as one read of the whole file does. The
// heap gives it back to the next scan without asking the kernel again, and
// pages the read never reaches are never touched.
inline constexpr size_t kScanBufferSize = 256 * 1024;

enum class Access {
  // Read-only under the shared lock, after any pending writer. A missing
  // file is an empty store (kNoFile). The file read is the one opened, even
  // if it is replaced or removed while the lookup waits: it sees what was
  // stored an instant before. Reads end at the first that comes back short.
  kLookup,
  // Read-write under the pending and the exclusive lock; the file is created
  // (mode 0666 less the umask, never truncated) when missing. Once locked,
  // the path must still name the locked file and the file no other name: a
  // file replaced or removed meanwhile is dropped and the one at the path
  // opened again (a few times at most), and a hard link planted at the path
  // is refused. Reads go exactly as far as the size the locked file has; a
  // file that reads shorter ends the scan (kShortFile).
  kUpdate,
};

// Intentionally neither copyable nor movable: it owns a descriptor and locks.
class StoreFile {
 public:
  // Opens the file of `store` for `access` and takes the locks, waiting as
  // long as the protocol says. Check status().
  StoreFile(const Store& store, Access access);
  // Closes the file, which releases the locks.
  ~StoreFile();

  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  // kOk while sound; the first failure otherwise.
  const Status& status() const { return status_; }

  // The next whole record in file order, or null at the end of the file or
  // once the scan has failed (status() tells which). The record stays valid
  // until the next call; the file owns it.
  const Record* Next() {
    if (end_ - begin_ < sizeof(Record) && !Refill()) return nullptr;
    const Record* record = reinterpret_cast<const Record*>(buffer_ + begin_);
    begin_ += sizeof(Record);
    ++records_read_;
    return record;
  }

  // Reads on to the first record whose key `probe` matches and returns it,
  // as Next() would; null when none does. The common scan of a lookup and
  // an update, kept to a tight loop over the buffer.
  const Record* Find(const KeyProbe& probe);

  // Reads on to the end of the file. False when the scan failed.
  bool SkipToEnd();

  // Where every record read so far has been handed out: skips the whole
  // records ahead that lie in a hole of a sparse file (bytes never written,
  // which read as zeros) without reading them, and returns how many. 0
  // where the next record holds data, or where the file system cannot
  // tell. For a scan whose time must follow what the file stores, not the
  // size it claims; last_record() is null afterwards.
  uint64_t SkipHole();

  // Whole records handed out so far.
  uint64_t records_read() const { return records_read_; }

  // The record handed out last, still in the buffer; null before the first.
  const Record* last_record() const {
    return begin_ >= sizeof(Record)
               ? reinterpret_cast<const Record*>(buffer_ + begin_ - sizeof(Record))
               : nullptr;
  }

  // Once the end has been reached: the bytes of a trailing partial record
  // (fewer than a record's size; none when the file ends on a whole one).
  const char* tail() const { return buffer_ + begin_; }
  size_t tail_bytes() const { return at_end_ ? end_ - begin_ : 0; }

  // Under the exclusive lock of an update only: makes room for `length`
  // bytes at `offset` without changing the file's size, so that writing
  // them cannot run out of space. kNoSpace when there is none; kOk where the
  // file system cannot reserve (the writes then find out for themselves).
  Status Reserve(uint64_t offset, uint64_t length);

  // Under the exclusive lock of an update only: writes `length` bytes at
  // `offset`. kWrite, with the errno (ENOSPC for a write cut short), when
  // they did not all reach the file.
  Status Write(const void* bytes, size_t length, uint64_t offset);

  // Cuts the file back to `size` bytes (an update only): an append that
  // failed part-way must not leave a partial record behind.
  void Truncate(uint64_t size);

  // Closes the file now, releasing the locks. kClose when the close said
  // the writes did not reach the file.
  Status Close();

 private:
  void Open(Access access);
  void OpenForLookup();
  void OpenForUpdate();
  Status Fail(Status::Code code, int error);
  Status FailOpen(int error, bool creating);
  // Reads until at least one whole record is buffered or the file ends.
  // False at the end of the file, on a read error, or once the scan ended.
  bool Refill();

  // No cooperating writer changes the file while a scan holds its lock: a
  // lookup reads until a read comes back short, an update as far as the
  // size the locked file had, and never further.
  static constexpr uint64_t kNoReadLimit = UINT64_MAX;

  const Store& store_;
  const Syscalls& calls_;
  int fd_ = -1;
  Status status_;
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
  char spare_[2 * sizeof(Record)];
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORE_FILE_H_
