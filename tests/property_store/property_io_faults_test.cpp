// Faults the kernel rarely shows on demand, injected by interposing the C
// library's open, pread, pwrite and malloc in this program (the dynamic
// linker binds the store's calls to the definitions below): a read that
// fails or is interrupted part-way through a scan, a write cut short by a
// full disk, a directory where fs.protected_regular refuses O_CREAT of
// another user's file, a file created by another process between an
// update's open attempts, no /dev/null to fill a closed standard descriptor
// with, and no heap memory for a scan's read buffer.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "property_store/internal/record_scanner.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/interposition.h"
#include "tests/support/private_run.h"
#include "tests/support/store_test.h"

namespace {

using isputils_test::IsStorageFile;
using isputils_test::kStoragePath;

int gFailingRead = 0;          // the n-th read of the storage file fails; 0: none
int gFailingReadError = EIO;   // with this errno
int gStoreReads = 0;           // reads of the storage file so far
bool gShortWrites = false;     // writes to the storage file stop half-way
bool gProtectedRegular = false;  // O_CREAT of an existing storage file: EACCES
bool gNoReadBuffer = false;      // allocations of a scan's read buffer fail
bool gNoDevNull = false;         // opens of /dev/null fail
std::string gCreatedInBetween;   // laid down just before an exclusive create

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  if (gFailingRead > 0 && IsStorageFile(fd) && gStoreReads + 1 == gFailingRead) {
    ++gStoreReads;
    errno = gFailingReadError;
    return -1;
  }
  if (IsStorageFile(fd)) ++gStoreReads;
  return isputils_test::KernelPread(fd, buffer, count, offset);
}

ssize_t InterposedPwrite(int fd, const void* buffer, size_t count, off_t offset) {
  // What a full disk does: the blocks there were room for, and no errno.
  if (gShortWrites && IsStorageFile(fd)) count /= 2;
  return isputils_test::KernelPwrite(fd, buffer, count, offset);
}

int InterposedOpen(const char* path, int flags, mode_t mode) {
  if (gNoDevNull && strcmp(path, "/dev/null") == 0) {
    errno = ENOENT;
    return -1;
  }
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
  static const auto next = isputils_test::NextDefinition<OpenFunction>("open");
  return next(path, flags, mode);
}

}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// The sanitizers bring allocators of their own; the plain build tests this.
#define INTERPOSES_MALLOC 1
extern "C" void* __libc_malloc(size_t size);
INTERPOSED void* malloc(size_t size) {
  if (gNoReadBuffer && size == propstore::kScanBufferSize) return nullptr;
  return __libc_malloc(size);
}
#endif
INTERPOSE_WITH_TWIN(ssize_t, pread, (int fd, void* buffer, size_t count, off_t offset),
                    { return InterposedPread(fd, buffer, count, offset); })
INTERPOSE_WITH_TWIN(ssize_t, pwrite, (int fd, const void* buffer, size_t count, off_t offset),
                    { return InterposedPwrite(fd, buffer, count, offset); })
INTERPOSE_OPEN_WITH_TWIN(InterposedOpen)

namespace isputils_test {
namespace {

std::string KeyOf(int i) { return "store.key." + std::to_string(i); }

// A store larger than one read buffer, so a scan takes several reads.
std::string ManyRecords(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += RecordBytes(KeyOf(i), "value " + std::to_string(i));
  return bytes;
}

class PropertyIoFaultsTest : public StoreTest {
 protected:
  void TearDown() override {
    gFailingRead = 0;
    gFailingReadError = EIO;
    gShortWrites = false;
    gProtectedRegular = false;
    gCreatedInBetween.clear();
    StoreTest::TearDown();
  }
};

TEST_F(PropertyIoFaultsTest, ReadErrorsEndTheScanAndInterruptedReadsAreResumed) {
  // Three reads of the scan's buffer, the last one partly filled.
  constexpr int kRecords = 2 * propstore::kScanBufferSize / PROPERTY_RECORD_SIZE + 100;
  const std::string store = ManyRecords(kRecords);
  for (const int error : {EIO, EINTR}) {
    // A read interrupted by a signal is resumed: the scan goes on as if
    // nothing happened. Any other error ends an update without a write.
    const bool resumed = error == EINTR;
    gFailingReadError = error;
    for (int failing_read = 1; failing_read <= 3; ++failing_read) {
      for (const std::string& key : {KeyOf(kRecords - 1), std::string("new.key")}) {
        SCOPED_TRACE(std::string(strerror(error)) + " in read " + std::to_string(failing_read) +
                     ", key " + key);
        WriteStoreFile(store);
        gStoreReads = 0;
        gFailingRead = failing_read;
        const int result = property_set(key.c_str(), "stored");
        const int result_error = errno;
        gFailingRead = 0;
        if (resumed) {
          EXPECT_EQ(0, result);
          EXPECT_EQ("stored", Lookup(key));
        } else {
          EXPECT_EQ(-1, result);
          EXPECT_EQ(error, result_error);
          EXPECT_TRUE(store == ReadStoreFile()) << "the file changed";
        }
      }
    }
    // A lookup that meets the error reads as not stored.
    WriteStoreFile(store);
    gStoreReads = 0;
    gFailingRead = 2;
    EXPECT_EQ(resumed ? "value " + std::to_string(kRecords - 1) : "<none>",
              Lookup(KeyOf(kRecords - 1)));
    gFailingRead = 0;
  }
}

TEST_F(PropertyIoFaultsTest, WriteCutShortFailsWithItsCauseAndLeavesWholeRecords) {
  const std::string store = ManyRecords(3);
  WriteStoreFile(store);
  gShortWrites = true;
  errno = 0;
  EXPECT_EQ(-1, property_set("new.key", "appended"));
  EXPECT_EQ(ENOSPC, errno);
  gShortWrites = false;
  EXPECT_TRUE(store == ReadStoreFile()) << "the part written was not cut off";
}

TEST_F(PropertyIoFaultsTest, ClosedStandardDescriptorThatCannotBeFilledIsNeverTaken) {
  ASSERT_EQ(0, property_set("k", "v"));  // the process's first check is done
  // Descriptor 1 closed later, and no /dev/null to put there: the store
  // refuses rather than sit where another thread's output would land.
  fflush(stdout);
  const int saved_output = dup(STDOUT_FILENO);
  close(STDOUT_FILENO);
  gNoDevNull = true;
  const int result = property_set("k", "w");
  const int result_error = errno;
  const std::string found = Lookup("k");
  const bool still_closed = fcntl(STDOUT_FILENO, F_GETFD) < 0;
  gNoDevNull = false;
  dup2(saved_output, STDOUT_FILENO);
  close(saved_output);
  EXPECT_EQ(-1, result);
  EXPECT_EQ(EBADF, result_error);
  EXPECT_EQ("<none>", found);
  EXPECT_TRUE(still_closed);
  EXPECT_EQ(RecordBytes("k", "v"), ReadStoreFile());
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

TEST_F(PropertyIoFaultsTest, ScanWithoutHeapMemoryReadsOneRecordAtATime) {
#if !defined(INTERPOSES_MALLOC)
  GTEST_SKIP() << "the sanitizer's allocator cannot be interposed";
#else
  const std::string store = ManyRecords(300);
  WriteStoreFile(store);
  gNoReadBuffer = true;
  gStoreReads = 0;
  const std::string found = Lookup(KeyOf(299));
  const int lookup_reads = gStoreReads;
  const int set_result = property_set("new.key", "appended");
  gNoReadBuffer = false;
  EXPECT_EQ("value 299", found);
  EXPECT_EQ(300, lookup_reads);  // one read per record, none past the hit
  EXPECT_EQ(0, set_result);
  const std::string after = ReadStoreFile();
  EXPECT_EQ(store.size() + PROPERTY_RECORD_SIZE, after.size());
  EXPECT_TRUE(after.compare(0, store.size(), store) == 0) << "earlier records changed";
  EXPECT_EQ("appended", Lookup("new.key"));
#endif
}

}  // namespace
}  // namespace isputils_test
