// The lock protocol that lets a waiting writer through: a lookup that
// arrives while a writer waits for the exclusive lock waits for that writer
// instead of joining the lookups under way; a lookup stuck behind a writer
// that itself waits for a stopped process goes on after the bound; a writer
// that has to wait and finds another's pending lock held waits for it only
// as long. Time is
// the engine's clock, which the tests run by hand so that nothing depends
// on how fast the machine is.
#include "property_store/internal/pending_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/store_dir_test.h"

namespace isputils_test {
namespace {

using propstore::kPendingByte;
using propstore::kPendingWaitNs;
using propstore::kSystemCalls;

class PendingLockTest : public StoreDirTest {
 protected:
  PendingLockTest() {
    // The engine's clock moves only when the engine sleeps, by what it asked
    // for (or not at all, while `frozen_`); each sleep also yields for real.
    calls_.now_ns = [this] { return now_.load(); };
    calls_.sleep_ns = [this](int64_t nanoseconds) {
      sleeps_.fetch_add(1);
      if (!frozen_) now_.fetch_add(nanoseconds);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    };
  }
  ~PendingLockTest() override {
    if (holder_ >= 0) close(holder_);
  }

  // Another process's lookup under way: the shared lock, held until
  // Release().
  void HoldSharedLock() {
    holder_ = open(store_.path(), O_RDONLY | O_CLOEXEC);
    ASSERT_LE(0, holder_);
    ASSERT_EQ(0, flock(holder_, LOCK_SH));
  }
  void Release() {
    close(holder_);
    holder_ = -1;
  }

  // True once `holds` does (10 s at most, of the machine's own clock): a
  // test that fails ends quickly, with its threads joined.
  static bool Eventually(const std::function<bool()>& holds) {
    for (int i = 0; i < 10000; ++i) {
      if (holds()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return holds();
  }

  // True once another open file description holds the pending lock.
  bool WriterPending() {
    const int fd = open(store_.path(), O_RDONLY | O_CLOEXEC);
    const bool pending = Eventually([fd] {
      struct flock range = {};
      range.l_type = F_WRLCK;
      range.l_start = kPendingByte;
      range.l_len = 1;
      return fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
    });
    close(fd);
    return pending;
  }

  std::atomic<int64_t> now_{0};
  std::atomic<int> sleeps_{0};
  bool frozen_ = false;
  int holder_ = -1;
};

TEST_F(PendingLockTest, ALookupWithNoWriterAboutMakesOneCallMoreThanTheFloor) {
  ASSERT_TRUE(store_.Set("k", "v").ok());
  int tests = 0, reads = 0;
  calls_.lock = [&](int fd, int command, struct flock* range) {
    tests += command == F_OFD_GETLK;
    return kSystemCalls.lock(fd, command, range);
  };
  calls_.pread = CountedPread(&reads);
  EXPECT_EQ("v", Lookup("k"));
  EXPECT_EQ(1, tests);
  EXPECT_EQ(1, reads);
  EXPECT_EQ(0, sleeps_.load());
}

TEST_F(PendingLockTest, AWaitingWriterHoldsBackNewLookups) {
  ASSERT_TRUE(store_.Set("k", "old").ok());
  HoldSharedLock();
  frozen_ = true;  // no lookup gives up on the writer
  std::thread writer([this] { EXPECT_TRUE(store_.Set("k", "new").ok()); });
  EXPECT_TRUE(WriterPending());
  std::atomic<bool> looked_up{false};
  std::string seen;
  std::thread reader([&] {
    seen = Lookup("k");
    looked_up = true;
  });
  // Without the pending lock the lookup would share the lock with the one
  // under way and read "old" at once.
  EXPECT_TRUE(Eventually([this] { return sleeps_.load() >= 20; }));
  EXPECT_FALSE(looked_up.load());
  Release();
  writer.join();
  reader.join();
  EXPECT_EQ("new", seen);
}

TEST_F(PendingLockTest, AStoppedReaderStallsOtherLookupsOnlyForTheBound) {
  ASSERT_TRUE(store_.Set("k", "old").ok());
  HoldSharedLock();  // a process stopped while it holds the shared lock
  std::thread writer([this] { EXPECT_TRUE(store_.Set("k", "new").ok()); });
  EXPECT_TRUE(WriterPending());
  // The writer waits behind the stopped reader; a lookup waits for the
  // writer until the bound, then reads beside the stopped reader.
  EXPECT_EQ("old", Lookup("k"));
  EXPECT_GE(now_.load(), kPendingWaitNs);
  EXPECT_LT(now_.load(), kPendingWaitNs + 3 * 1000 * 1000);
  Release();
  writer.join();
  EXPECT_EQ("new", Lookup("k"));
}

TEST_F(PendingLockTest, AWriterThatMustWaitWaitsForAnotherWritersPendingLockOnlyForTheBound) {
  ASSERT_TRUE(store_.Set("k", "old").ok());
  // A writer that holds the pending lock and never goes on, and a lookup
  // under way: the next writer cannot have the file at once.
  const int stuck = open(store_.path(), O_RDWR | O_CLOEXEC);
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_start = kPendingByte;
  range.l_len = 1;
  ASSERT_EQ(0, fcntl(stuck, F_OFD_SETLK, &range));
  HoldSharedLock();
  std::thread writer([this] { EXPECT_TRUE(store_.Set("k", "new").ok()); });
  EXPECT_TRUE(Eventually([this] { return now_.load() >= kPendingWaitNs; }));
  Release();
  writer.join();
  EXPECT_EQ("new", Lookup("k"));  // after the bound too: the pending lock is still taken
  close(stuck);
}

}  // namespace
}  // namespace isputils_test
