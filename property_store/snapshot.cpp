// Copying the records of the store under its shared lock.
#include "property_store/internal/snapshot.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "property_store/internal/store_file.h"

namespace propstore {
namespace {

// Beyond this many records (about 620 MB) the copy is not made up front: a
// sparse file can claim any size, and such a store grows as it is read.
constexpr uint64_t kMostRecordsMadeAhead = uint64_t{4} << 20;

// How many records the storage file holds data for, measured on a
// descriptor opened as the lookup opens it: a link at the path is never
// followed (its target may claim any size), nor is anything but a regular
// file measured, and the holes of a sparse file count for nothing. 0 when
// there is nothing to measure; the lookup then tells why.
uint64_t RecordsToMakeRoomFor(const Store& store) {
  const Syscalls& calls = store.calls();
  const int fd = calls.open(store.path(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
  if (fd < 0) return 0;
  struct stat info;
  uint64_t records = 0;
  if (calls.fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    const uint64_t stored = static_cast<uint64_t>(info.st_blocks) * 512;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    records = (stored < size ? stored : size) / sizeof(Record);
  }
  calls.close(fd);
  return records < kMostRecordsMadeAhead ? records : kMostRecordsMadeAhead;
}

std::string_view KeyText(const Record& record) {
  return std::string_view(record.key, FieldLength(record.key, sizeof(record.key)));
}

bool IsZero(const Record& record) {
  static const Record kZero = {};
  return record.key[0] == '\0' && memcmp(&record, &kZero, sizeof(Record)) == 0;
}

// Takes `count` records of zero bytes at the file's record `file_index`
// into *snapshot: a run's first is held, the rest are counted.
void AddZeros(Snapshot* snapshot, uint64_t file_index, uint64_t count, size_t* held) {
  std::vector<Snapshot::ZeroRun>& runs = snapshot->zero_runs;
  if (!runs.empty() && runs.back().file_index + runs.back().more + 1 == file_index) {
    runs.back().more += count;
    return;
  }
  std::vector<Record>& records = snapshot->records;
  if (*held < records.size()) {
    records[*held] = Record();
  } else {
    records.push_back(Record());
  }
  runs.push_back({*held, count - 1, file_index});
  ++*held;
}

void FindDuplicates(Snapshot* snapshot) {
  std::unordered_map<std::string_view, uint64_t> first_index;
  first_index.reserve(snapshot->records.size());
  for (uint64_t i = 0; i < snapshot->records.size(); ++i) {
    const auto [at, added] = first_index.emplace(KeyText(snapshot->records[i]), i);
    if (!added) snapshot->duplicates.push_back({i, at->second});
  }
}

}  // namespace

Status TakeSnapshot(const Store& store, Snapshot* snapshot,
                    const std::function<void()>& under_lock) {
  *snapshot = Snapshot();
  // Room for what the file holds now, made and touched before the lock is
  // taken: growing the copy, or faulting in its pages, while the lock is
  // held would keep every writer waiting for the memory system. A little
  // more is kept in reserve for records appended meanwhile; a file that
  // grew beyond that makes the copy grow as usual.
  const uint64_t expected = RecordsToMakeRoomFor(store);
  std::vector<Record>& records = snapshot->records;
  records.reserve(expected + expected / 16 + 64);
  records.resize(expected);
  size_t copied = 0;
  Status status;
  {
    StoreFile file(store, Access::kLookup);
    for (;;) {
      const uint64_t at = file.records_read();
      if (const uint64_t hole = file.SkipHole()) {
        AddZeros(snapshot, at, hole, &copied);
        continue;
      }
      const Record* record = file.Next();
      if (record == nullptr) break;
      if (IsZero(*record)) {
        AddZeros(snapshot, at, 1, &copied);
      } else if (copied < records.size()) {
        records[copied++] = *record;
      } else {
        records.push_back(*record);
        ++copied;
      }
    }
    snapshot->tail_bytes = file.tail_bytes();
    if (under_lock && file.status().ok()) under_lock();
    status = file.Close();
  }
  // The file may have shrunk (been replaced) since it was measured.
  records.resize(copied);
  if (status.missing()) {
    records.clear();
    snapshot->zero_runs.clear();
  }
  FindDuplicates(snapshot);
  return status;
}

uint64_t Snapshot::file_records() const {
  uint64_t total = records.size();
  for (const ZeroRun& run : zero_runs) total += run.more;
  return total;
}

uint64_t Snapshot::FileIndex(uint64_t index) const {
  // The last run that starts at or before `index`.
  const auto after = std::upper_bound(
      zero_runs.begin(), zero_runs.end(), index,
      [](uint64_t wanted, const ZeroRun& run) { return wanted < run.index; });
  if (after == zero_runs.begin()) return index;
  const ZeroRun& run = after[-1];
  return index == run.index ? run.file_index : run.file_index + run.more + (index - run.index);
}

}  // namespace propstore
