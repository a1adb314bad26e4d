// Faults the kernel rarely shows on demand, injected by interposing the C
// library's open and pread in this program (the dynamic linker binds the
// store's calls to the definitions below): a read that fails part-way
// through a scan, a directory where fs.protected_regular refuses O_CREAT of
// another user's file, and a file created by another process between an
// update's open attempts.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/private_run.h"

namespace {

using isputils_test::kStoragePath;

int gFailingRead = 0;          // the n-th read of the storage file fails; 0: none
int gStoreReads = 0;           // reads of the storage file so far
bool gProtectedRegular = false;  // O_CREAT of an existing storage file: EACCES
std::string gCreatedInBetween;   // laid down just before an exclusive create

bool IsStorageFile(int fd) {
  struct stat file, path;
  return fstat(fd, &file) == 0 && lstat(kStoragePath, &path) == 0 && file.st_dev == path.st_dev &&
         file.st_ino == path.st_ino;
}

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  if (gFailingRead > 0 && IsStorageFile(fd) && ++gStoreReads == gFailingRead) {
    errno = EIO;
    return -1;
  }
  return syscall(SYS_pread64, fd, buffer, count, offset);
}

int InterposedOpen(const char* path, int flags, mode_t mode) {
  if (strcmp(path, kStoragePath) == 0 && (flags & O_CREAT) != 0) {
    if (!gCreatedInBetween.empty() && (flags & O_EXCL) != 0) {
      isputils_test::WriteStoreFile(gCreatedInBetween);
      gCreatedInBetween.clear();
    }
    struct stat info;
    if (gProtectedRegular && (flags & O_EXCL) == 0 && lstat(kStoragePath, &info) == 0) {
      errno = EACCES;
      return -1;
    }
  }
  // On to the next definition, not straight to the kernel: where the test
  // runs without a private mount namespace, the one after this is the
  // stand-in for /run, which the path has to pass through.
  using OpenFunction = int (*)(const char*, int, ...);
  static const auto next = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "open"));
  return next(path, flags, mode);
}

mode_t ModeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

// Exported, or the library would keep binding to the C library's own.
#define INTERPOSED extern "C" __attribute__((visibility("default")))
INTERPOSED ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return InterposedPread(fd, buffer, count, offset);
}
INTERPOSED ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return InterposedPread(fd, buffer, count, offset);
}
INTERPOSED int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return InterposedOpen(path, flags, mode);
}
INTERPOSED int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return InterposedOpen(path, flags, mode);
}

namespace isputils_test {
namespace {

std::string KeyOf(int i) { return "store.key." + std::to_string(i); }

// A store larger than one read buffer, so a scan takes several reads.
std::string ManyRecords(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += RecordBytes(KeyOf(i), "value " + std::to_string(i));
  return bytes;
}

class PropertyIoFaultsTest : public testing::Test {
 protected:
  void SetUp() override { ResetStore(); }
  void TearDown() override {
    gFailingRead = 0;
    gProtectedRegular = false;
    gCreatedInBetween.clear();
    ResetStore();
  }
};

TEST_F(PropertyIoFaultsTest, UpdateWhoseSearchMeetsAReadErrorWritesNothing) {
  constexpr int kRecords = 300;  // 46,800 bytes: three reads of 16 KiB
  const std::string store = ManyRecords(kRecords);
  for (int failing_read = 1; failing_read <= 3; ++failing_read) {
    for (const std::string& key : {KeyOf(kRecords - 1), std::string("new.key")}) {
      SCOPED_TRACE("read " + std::to_string(failing_read) + " fails, key " + key);
      WriteStoreFile(store);
      gStoreReads = 0;
      gFailingRead = failing_read;
      EXPECT_EQ(-1, property_set(key.c_str(), "lost"));
      gFailingRead = 0;
      EXPECT_TRUE(store == ReadStoreFile()) << "the file changed";
    }
  }
  // A lookup that meets the error reads as not stored.
  gStoreReads = 0;
  gFailingRead = 2;
  EXPECT_EQ(7, property_get_int32(KeyOf(kRecords - 1).c_str(), 7));
  gFailingRead = 0;
  EXPECT_EQ("value 299", Lookup(KeyOf(kRecords - 1)));
}

TEST_F(PropertyIoFaultsTest, ExistingFileIsOpenedWithoutCreate) {
  // Another user's file in a sticky directory with fs.protected_regular on:
  // only an open without O_CREAT reaches it.
  gProtectedRegular = true;
  ASSERT_EQ(0, property_set("first", "1"));  // creates the file
  ASSERT_EQ(0, property_set("first", "2"));  // rewrites in place
  ASSERT_EQ(0, property_set("second", "3"));  // appends
  EXPECT_EQ(RecordBytes("first", "2") + RecordBytes("second", "3"), ReadStoreFile());
}

TEST_F(PropertyIoFaultsTest, FileCreatedByAnotherProcessMeanwhileIsNeverEmptied) {
  gCreatedInBetween = RecordBytes("theirs", "kept");
  ASSERT_EQ(0, property_set("mine", "added"));
  EXPECT_EQ("kept", Lookup("theirs"));
  EXPECT_EQ("added", Lookup("mine"));
  EXPECT_EQ(2u * PROPERTY_RECORD_SIZE, ReadStoreFile().size());
}

}  // namespace
}  // namespace isputils_test
