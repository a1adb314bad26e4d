// Snapshot of the storage file: records copied under the shared lock.
#include "tools/camprop/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace camprop {
namespace {

// Beyond this many records (about 620 MB) the copy is not made up front: a
// sparse file can claim any size, and such a store grows as it is read.
constexpr uint64_t kMostRecordsMadeAhead = uint64_t{4} << 20;

class RecordCopier : public RecordVisitor {
 public:
  explicit RecordCopier(std::vector<propstore::Record>* records) : records_(records) {}

  bool Visit(uint64_t, const propstore::Record& record) override {
    if (copied_ < records_->size()) {
      (*records_)[copied_] = record;
    } else {
      records_->push_back(record);
    }
    ++copied_;
    return true;
  }

  size_t copied() const { return copied_; }

 private:
  std::vector<propstore::Record>* records_;
  size_t copied_ = 0;
};

// How many records the storage file holds, measured on a descriptor opened
// as the scan opens it: a link at the path is never followed (its target
// may claim any size), nor is anything but a regular file measured. 0 when
// there is nothing to measure; the scan then reports why.
uint64_t RecordsToMakeRoomFor() {
  // O_NONBLOCK: a FIFO planted at the path cannot hang the open.
  const int fd = open(propstore::kStoragePath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat info;
  uint64_t records = 0;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    records = static_cast<uint64_t>(info.st_size) / sizeof(propstore::Record);
  }
  close(fd);
  return records < kMostRecordsMadeAhead ? records : kMostRecordsMadeAhead;
}

}  // namespace

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  // Room for what the file holds now, made and touched before the lock is
  // taken: growing the copy, or faulting in its pages, while the lock is
  // held would keep every writer waiting for the memory system. A little
  // more is kept in reserve for records appended meanwhile; a file that
  // grew beyond that makes the copy grow as usual.
  const uint64_t records = RecordsToMakeRoomFor();
  snapshot.records.reserve(records + records / 16 + 64);
  snapshot.records.resize(records);
  RecordCopier copier(&snapshot.records);
  snapshot.scan = ScanStore(&copier);
  // The file may have shrunk (been replaced) since it was measured.
  snapshot.records.resize(copier.copied());
  return snapshot;
}

}  // namespace camprop
