// The store's use of flock, observed by interposing flock in this program:
// the dynamic linker binds the library's calls to the definition below. It
// checks the descriptor each call locks (close-on-exec, the right mode) and
// injects interrupted and failed lock waits.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/private_run.h"

namespace {

struct LockCall {
  int operation;
  bool close_on_exec;
  int access_mode;
};

std::vector<LockCall> gCalls;
int gInterruptions = 0;  // next calls that fail with EINTR
int gFailureErrno = 0;   // when set, every call fails with it

}  // namespace

// Exported, or the library would keep binding to the C library's flock.
extern "C" __attribute__((visibility("default"))) int flock(int fd, int operation) {
  gCalls.push_back({operation, (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0,
                    fcntl(fd, F_GETFL) & O_ACCMODE});
  if (gInterruptions > 0) {
    --gInterruptions;
    errno = EINTR;
    return -1;
  }
  if (gFailureErrno != 0) {
    errno = gFailureErrno;
    return -1;
  }
  return static_cast<int>(syscall(SYS_flock, fd, operation));
}

namespace isputils_test {
namespace {

class PropertyLockTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetStore();
    gCalls.clear();
    gInterruptions = 0;
    gFailureErrno = 0;
  }
  void TearDown() override {
    gInterruptions = 0;
    gFailureErrno = 0;
  }
};

TEST_F(PropertyLockTest, LookupsShareAndUpdatesExcludeOnCloseOnExecDescriptors) {
  ASSERT_EQ(0, property_set("k", "v"));
  char value[PROPERTY_VALUE_SIZE];
  ASSERT_EQ(1, property_get("k", value, nullptr));
  ASSERT_EQ(2u, gCalls.size());
  EXPECT_EQ(LOCK_EX, gCalls[0].operation);
  EXPECT_EQ(O_RDWR, gCalls[0].access_mode);
  EXPECT_EQ(LOCK_SH, gCalls[1].operation);
  EXPECT_EQ(O_RDONLY, gCalls[1].access_mode);
  for (const LockCall& call : gCalls) EXPECT_TRUE(call.close_on_exec);
}

TEST_F(PropertyLockTest, InterruptedLockWaitsAreResumed) {
  gInterruptions = 3;
  ASSERT_EQ(0, property_set("k", "v"));
  gInterruptions = 2;
  EXPECT_EQ("v", Lookup("k"));
  EXPECT_EQ(7u, gCalls.size());
}

TEST_F(PropertyLockTest, FailedLockTouchesNothing) {
  ASSERT_EQ(0, property_set("k", "before"));
  const std::string before = ReadStoreFile();
  gFailureErrno = ENOLCK;
  EXPECT_EQ(-1, property_set("k", "after"));
  EXPECT_EQ(-1, property_set("new", "x"));
  EXPECT_EQ(42, property_get_int32("k", 42));  // reads as not stored
  gFailureErrno = 0;
  EXPECT_EQ(before, ReadStoreFile());
  EXPECT_EQ("before", Lookup("k"));
}

}  // namespace
}  // namespace isputils_test
