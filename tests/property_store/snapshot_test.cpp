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
}

}  // namespace
}  // namespace isputils_test
