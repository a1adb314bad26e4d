// A snapshot copies every whole record under the shared lock, with what a
// checker needs: the partial tail and which records repeat an earlier key.
#include "property_store/internal/snapshot.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/store_dir_test.h"

namespace isputils_test {
namespace {

using propstore::Snapshot;
using propstore::Status;
using SnapshotTest = StoreDirTest;

TEST_F(SnapshotTest, CopiesEveryWholeRecordAndTellsDuplicatesAndTheTail) {
  Snapshot snapshot;
  EXPECT_EQ(Status::Code::kNoFile, propstore::TakeSnapshot(store_, &snapshot).code());
  EXPECT_TRUE(snapshot.records.empty());
  SetBytes(RecordBytes("a", "1") + RecordBytes(std::string(64, 'K'), "x") + RecordBytes("a", "2") +
           RecordBytes("b", std::string(92, 'V')) + RecordBytes(std::string(64, 'K'), "y") +
           RecordBytes("a", "3") + "tail");
  // Under the lock, no writer gets in; what runs there sees the same file.
  const int other = open(store_.path(), O_RDWR | O_CLOEXEC);
  ASSERT_LE(0, other);
  int writer_refused = 0;
  ASSERT_TRUE(propstore::TakeSnapshot(store_, &snapshot, [&] {
                writer_refused = flock(other, LOCK_EX | LOCK_NB) == -1 && errno == EWOULDBLOCK;
              }).ok());
  close(other);
  EXPECT_TRUE(writer_refused);
  ASSERT_EQ(6u, snapshot.records.size());
  EXPECT_EQ(4u, snapshot.tail_bytes);
  EXPECT_EQ(RecordBytes("b", std::string(92, 'V')),
            std::string(reinterpret_cast<const char*>(&snapshot.records[3]), PROPERTY_RECORD_SIZE));
  std::string duplicates;
  for (const Snapshot::Duplicate& d : snapshot.duplicates) {
    duplicates += std::to_string(d.index) + "<-" + std::to_string(d.first) + " ";
  }
  EXPECT_EQ("2<-0 4<-1 5<-0 ", duplicates);

  // Zero bytes, written or a hole never written: each run held as its first
  // record and a count, indices in the file kept apart from those held.
  const std::string zero = RecordBytes("", "");
  SetBytes(RecordBytes("a", "1") + zero + zero + RecordBytes("b", "2") + zero);
  ASSERT_EQ(0, truncate(store_.path(), 4096 * PROPERTY_RECORD_SIZE + 7));
  ASSERT_TRUE(propstore::TakeSnapshot(store_, &snapshot).ok());
  ASSERT_EQ(4u, snapshot.records.size());
  std::string runs;
  for (const Snapshot::ZeroRun& run : snapshot.zero_runs) {
    runs += std::to_string(run.index) + "@" + std::to_string(run.file_index) + "+" +
            std::to_string(run.more) + " ";
  }
  EXPECT_EQ("1@1+1 3@4+4091 ", runs);
  EXPECT_EQ(3u, snapshot.FileIndex(2));
  EXPECT_EQ(4096u, snapshot.file_records());
  EXPECT_EQ(7u, snapshot.tail_bytes);
}

}  // namespace
}  // namespace isputils_test
