// Snapshot of the storage file: records copied under the shared lock.
#include "tools/camprop/snapshot.h"

#include <sys/stat.h>

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

}  // namespace

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  // Room for what the file holds now, made and touched before the lock is
  // taken: growing the copy, or faulting in its pages, while the lock is
  // held would keep every writer waiting for the memory system. A little
  // more is kept in reserve for records appended meanwhile; a file that
  // grew beyond that makes the copy grow as usual.
  struct stat info;
  if (stat(propstore::kStoragePath, &info) == 0 && S_ISREG(info.st_mode)) {
    uint64_t records = static_cast<uint64_t>(info.st_size) / sizeof(propstore::Record);
    if (records > kMostRecordsMadeAhead) records = kMostRecordsMadeAhead;
    snapshot.records.reserve(records + records / 16 + 64);
    snapshot.records.resize(records);
  }
  RecordCopier copier(&snapshot.records);
  snapshot.scan = ScanStore(&copier);
  // The file may have shrunk (been replaced) since it was measured.
  snapshot.records.resize(copier.copied());
  return snapshot;
}

}  // namespace camprop
