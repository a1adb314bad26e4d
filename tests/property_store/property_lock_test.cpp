// The store's use of flock, observed by interposing flock in this program:
// the dynamic linker binds the library's calls to the definition below. It
// checks the descriptor each call locks (close-on-exec, the right mode),
// injects interrupted and failed lock waits, and changes the file at the
// path while an update waits for its lock. It interposes lstat too, to put
// the path on another file system with an inode number of the same value.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
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
// The storage path reads as lying on another device (same inode number).
bool gPathOnAnotherDevice = false;

int InterposedLstat(const char* path, struct stat* info) {
  // On to the stand-in for /run, where there is one.
  using LstatFunction = int (*)(const char*, struct stat*);
  static const auto next = isputils_test::NextDefinition<LstatFunction>("lstat");
  const int result = next(path, info);
  if (result == 0 && gPathOnAnotherDevice && strcmp(path, isputils_test::kStoragePath) == 0) {
    ++info->st_dev;
  }
  return result;
}

}  // namespace

INTERPOSED int lstat(const char* path, struct stat* info) { return InterposedLstat(path, info); }
INTERPOSED int lstat64(const char* path, struct stat64* info) {
  static_assert(sizeof(struct stat64) == sizeof(struct stat), "one layout on 64-bit targets");
  return InterposedLstat(path, reinterpret_cast<struct stat*>(info));
}

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
    gPathOnAnotherDevice = false;
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
      // Moved aside, a symbolic link to it at the path: never written
      // through, and the next open refuses the link.
      {"moved, symbolic link left",
       [](size_t call) {
         if (call == 1 && (rename(kStoragePath, kOtherName) != 0 ||
                           symlink(kOtherName, kStoragePath) != 0)) {
           ADD_FAILURE();
         }
       },
       -1, ELOOP, 1, old_record, old_record},
      {"another file system's file of the same inode number",
       [](size_t) { gPathOnAnotherDevice = true; }, -1, EAGAIN, 8, old_record, "<absent>"},
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
    gPathOnAnotherDevice = false;
    EXPECT_EQ(expected.locks, gCalls.size());
    EXPECT_EQ(expected.at_path, FileAt(kStoragePath));
    EXPECT_EQ(expected.at_other, FileAt(kOtherName));
  }
}

}  // namespace
}  // namespace isputils_test
