// Many keys in one commit: what it writes (what one-key updates of each
// key's last value would write, in the order the keys were first set), that
// it reads the file once, and that a commit without room writes nothing.
#include "property_store/internal/transaction.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/store_dir_test.h"
#include "tests/support/store_model.h"

namespace isputils_test {
namespace {

using propstore::kSystemCalls;
using propstore::Status;
using propstore::Transaction;
using TransactionTest = StoreDirTest;

TEST_F(TransactionTest, ACommitWritesWhatOneKeyUpdatesOfTheLastValuesWould) {
  const std::string before = RecordBytes("a", "1", 'Z') + RecordBytes("dup", "first") +
                             RecordBytes("dup", "second") + RecordBytes(std::string(64, 'K'), "x") +
                             RecordBytes("b", "22", 'Y') + "partial";
  SetBytes(before);
  const std::vector<std::pair<std::string, std::string>> sets = {
      {"new.1", "appended"}, {"a", "changed"}, {"dup", "third"}, {"b", "22"},
      {"new.2", "too"},      {"new.1", "again"}, {"a", "last"},  {std::string(63, 'K'), "k63"}};
  int reads = 0;
  calls_.pread = CountedPread(&reads);
  Transaction transaction(store_);
  ASSERT_TRUE(transaction.status().ok());
  for (const auto& [key, value] : sets) transaction.Set(key, value);
  EXPECT_EQ("last", *transaction.Find("a"));
  EXPECT_EQ("third", *transaction.Find("dup"));  // the first record of a key
  EXPECT_EQ(nullptr, transaction.Find(std::string(64, 'K')));
  EXPECT_EQ(nullptr, transaction.Find("partial"));
  ASSERT_TRUE(transaction.Commit().ok());
  ASSERT_TRUE(transaction.Close().ok());
  EXPECT_EQ(1, reads);

  StoreModel model(before);
  for (const std::string& key :
       std::vector<std::string>{"new.1", "a", "dup", "b", "new.2", std::string(63, 'K')}) {
    for (auto last = sets.rbegin(); last != sets.rend(); ++last) {
      if (last->first == key) {
        model.Update(key, last->second);
        break;
      }
    }
  }
  EXPECT_EQ("", model.Reconcile(Bytes()));
  // Each appended record is built on the one before it: the first on the
  // last whole record with the partial tail over it.
  const std::string after = Bytes();
  std::string first = RecordBytes("b", "22", 'Y');
  first.replace(0, 7, "partial");
  first.replace(0, 6, std::string("new.1\0", 6));
  first.replace(PROPERTY_KEY_SIZE, 6, std::string("again\0", 6));
  EXPECT_EQ(first, after.substr(5 * PROPERTY_RECORD_SIZE, PROPERTY_RECORD_SIZE));
  std::string second = first;
  second.replace(0, 6, std::string("new.2\0", 6));
  second.replace(PROPERTY_KEY_SIZE, 4, std::string("too\0", 4));
  EXPECT_EQ(second, after.substr(6 * PROPERTY_RECORD_SIZE, PROPERTY_RECORD_SIZE));
}

TEST_F(TransactionTest, ACommitWithoutRoomWritesNothingAndAFailedReadNothingAtAll) {
  std::string before;
  for (int i = 0; i < 50; ++i) before += RecordBytes("key." + std::to_string(i), "v");
  SetBytes(before);
  calls_.fallocate = [](int fd, int mode, off_t offset, off_t length) {
    // Room for what is rewritten in place; none to grow.
    if (offset + length > 50 * PROPERTY_RECORD_SIZE) {
      errno = ENOSPC;
      return -1;
    }
    return kSystemCalls.fallocate(fd, mode, offset, length);
  };
  {
    Transaction transaction(store_);
    for (int i = 0; i < 100; ++i) transaction.Set("key." + std::to_string(i), "changed");
    const Status status = transaction.Commit();
    EXPECT_EQ(Status::Code::kNoSpace, status.code());
    EXPECT_EQ(ENOSPC, status.error());
  }
  EXPECT_EQ(before, Bytes());

  calls_.pread = [](int, void*, size_t, off_t) {
    errno = EIO;
    return ssize_t{-1};
  };
  Transaction transaction(store_);
  EXPECT_EQ(Status::Code::kRead, transaction.status().code());
  transaction.Set("key.0", "changed");
  EXPECT_FALSE(transaction.Commit().ok());
  transaction.Close();
  calls_.pread = nullptr;
  EXPECT_EQ(before, Bytes());

  // Where the file system cannot reserve, appends cut short by a full disk
  // are cut back: the file ends on its last whole record.
  calls_.fallocate = [](int, int, off_t, off_t) {
    errno = EOPNOTSUPP;
    return -1;
  };
  int appends = 0;
  calls_.pwrite = [&appends](int fd, const void* bytes, size_t count, off_t offset) {
    if (offset < 50 * PROPERTY_RECORD_SIZE) return kSystemCalls.pwrite(fd, bytes, count, offset);
    if (++appends == 1) return kSystemCalls.pwrite(fd, bytes, 200, offset);
    errno = ENOSPC;
    return ssize_t{-1};
  };
  Transaction appending(store_);
  for (int i = 0; i < 100; ++i) appending.Set("key." + std::to_string(i), "changed");
  EXPECT_EQ(Status::Code::kWrite, appending.Commit().code());
  EXPECT_EQ(50u * PROPERTY_RECORD_SIZE, Bytes().size());
}

TEST_F(TransactionTest, ItHoldsTheExclusiveLockFromFirstReadToClose) {
  SetBytes(RecordBytes("k", "v"));
  const int other = open(store_.path(), O_RDONLY | O_CLOEXEC);
  ASSERT_LE(0, other);
  {
    Transaction transaction(store_);
    transaction.Set("k", "w");
    ASSERT_TRUE(transaction.Commit().ok());
    EXPECT_EQ(-1, flock(other, LOCK_SH | LOCK_NB));
    EXPECT_EQ(EWOULDBLOCK, errno);
  }
  EXPECT_EQ(0, flock(other, LOCK_SH | LOCK_NB));
  close(other);
  EXPECT_EQ("w", Lookup("k"));
}

}  // namespace
}  // namespace isputils_test
