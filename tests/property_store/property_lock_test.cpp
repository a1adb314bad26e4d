// The store's use of flock, observed by interposing flock in this program:
// the dynamic linker binds the library's calls to the definition below. It
// checks the descriptor each call locks (close-on-exec, the right mode),
// injects interrupted and failed lock waits, and changes the file at the
// path while an update waits for its lock.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/interposition.h"
#include "tests/support/private_run.h"
#include "tests/support/store_test.h"

namespace {

struct LockCall {
  int operation;
  bool close_on_exec;
  int access_mode;
};

std::vector<LockCall> gCalls;
int gInterruptions = 0;  // next calls that fail with EINTR
int gFailureErrno = 0;   // when set, every call fails with it
// Run before each lock is taken, with the number of the call (from 1): what
// another process does while the caller waits.
void (*gWhileWaiting)(size_t call) = nullptr;

}  // namespace

INTERPOSED int flock(int fd, int operation) {
  gCalls.push_back({operation, (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0,
                    fcntl(fd, F_GETFL) & O_ACCMODE});
  if (gWhileWaiting != nullptr) gWhileWaiting(gCalls.size());
  if (gInterruptions > 0) {
    --gInterruptions;
    errno = EINTR;
    return -1;
  }
  if (gFailureErrno != 0) {
    errno = gFailureErrno;
    return -1;
  }
  return isputils_test::KernelFlock(fd, operation);
}

namespace isputils_test {
namespace {

class PropertyLockTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    gCalls.clear();
    gInterruptions = 0;
    gFailureErrno = 0;
  }
  void TearDown() override {
    gInterruptions = 0;
    gFailureErrno = 0;
    gWhileWaiting = nullptr;
    StoreTest::TearDown();
  }
};

constexpr char kOtherName[] = "/run/camera/other-name";

// The whole file at `path`; "<absent>" when there is none.
std::string FileAt(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "<absent>";
  std::string bytes;
  char chunk[4096];
  for (ssize_t got; (got = read(fd, chunk, sizeof(chunk))) > 0;) bytes.append(chunk, got);
  close(fd);
  return bytes;
}

// What a restore script does: writes a copy of the file and renames it over
// the path.
void ReplaceWithCopy() {
  const std::string copy = FileAt(kStoragePath);
  const int fd = open(kOtherName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0 || write(fd, copy.data(), copy.size()) != static_cast<ssize_t>(copy.size()) ||
      close(fd) != 0 || rename(kOtherName, kStoragePath) != 0) {
    ADD_FAILURE() << "could not replace the storage file";
  }
}

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

TEST_F(PropertyLockTest, UpdateLandsInTheFileAtThePathWhateverHappensWhileItWaits) {
  struct Case {
    const char* name;
    void (*while_waiting)(size_t call);
    int result;
    int error;             // errno after a failed update
    size_t locks;          // locks taken: one per attempt
    std::string at_path;   // the storage file afterwards
    std::string at_other;  // the file at kOtherName afterwards
  };
  const std::string old_record = RecordBytes("k", "old");
  const std::string new_record = RecordBytes("k", "new");
  const std::vector<Case> cases = {
      {"replaced by a copy", [](size_t call) { if (call == 1) ReplaceWithCopy(); },
       0, 0, 2, new_record, "<absent>"},
      {"replaced at every attempt", [](size_t) { ReplaceWithCopy(); },
       -1, EAGAIN, 8, old_record, "<absent>"},
      {"removed",
       [](size_t call) { if (call == 1 && unlink(kStoragePath) != 0) ADD_FAILURE(); },
       0, 0, 2, new_record, "<absent>"},
      // A link made and removed again in a loop, met once.
      {"linked once",
       [](size_t call) {
         if ((call == 1 && link(kStoragePath, kOtherName) != 0) ||
             (call == 2 && unlink(kOtherName) != 0)) {
           ADD_FAILURE();
         }
       },
       0, 0, 2, new_record, "<absent>"},
      {"linked for good",
       [](size_t call) { if (call == 1 && link(kStoragePath, kOtherName) != 0) ADD_FAILURE(); },
       -1, EMLINK, 8, old_record, old_record},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.name);
    ResetStore();
    WriteStoreFile(old_record);
    gCalls.clear();
    gWhileWaiting = expected.while_waiting;
    errno = 0;
    EXPECT_EQ(expected.result, property_set("k", "new"));
    EXPECT_EQ(expected.error, expected.result == 0 ? 0 : errno);
    gWhileWaiting = nullptr;
    EXPECT_EQ(expected.locks, gCalls.size());
    EXPECT_EQ(expected.at_path, FileAt(kStoragePath));
    EXPECT_EQ(expected.at_other, FileAt(kOtherName));
  }
}

}  // namespace
}  // namespace isputils_test
