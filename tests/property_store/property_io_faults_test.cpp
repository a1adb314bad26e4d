// Faults the kernel rarely shows on demand, injected by interposing the C
// library's open, pread, pwrite and malloc in this program (the dynamic
// linker binds the store's calls to the definitions below): a read that
// fails, is interrupted or comes back short part-way through a scan, a
// write cut short by a full disk, a directory where fs.protected_regular refuses O_CREAT of
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
#include "tests/support/death_tests.h"
#include "tests/support/interposition.h"
#include "tests/support/private_run.h"
#include "tests/support/store_test.h"

namespace {

using isputils_test::IsStorageFile;
using isputils_test::kStoragePath;

int gFailingRead = 0;          // the n-th read of the storage file fails; 0: none
int gFailingReadError = EIO;   // with this errno
int gStoreReads = 0;           // reads of the storage file so far
int gCutRead = 0;              // the n-th read returns at most gCutReadBytes; 0: none
size_t gCutReadBytes = 0;
int gStoreOpens = 0;           // opens of the storage file so far
int gLowStoreOpens = 0;        // of them, those that returned descriptor 0, 1 or 2
bool gShortWrites = false;     // writes to the storage file stop half-way
bool gProtectedRegular = false;  // O_CREAT of an existing storage file: EACCES
bool gNoReadBuffer = false;      // allocations of a scan's read buffer fail
bool gNoDevNull = false;         // opens of /dev/null fail
std::string gCreatedInBetween;   // laid down just before an exclusive create

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  if (IsStorageFile(fd)) {
    ++gStoreReads;
    if (gStoreReads == gFailingRead) {
      errno = gFailingReadError;
      return -1;
    }
    if (gStoreReads == gCutRead && count > gCutReadBytes) count = gCutReadBytes;
  }
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
  const int fd = next(path, flags, mode);
  if (strcmp(path, kStoragePath) == 0) {
    ++gStoreOpens;
    if (fd >= 0 && fd <= STDERR_FILENO) ++gLowStoreOpens;
  }
  return fd;
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
    gCutRead = 0;
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

TEST_F(PropertyIoFaultsTest, ScansEndAtTheEndOfTheFileWithoutAReadToFindIt) {
  // A lookup ends with the first read that comes back short, an update at
  // the size the locked file has: a miss makes one read under a buffer.
  constexpr int kThreeReads = 2 * propstore::kScanBufferSize / PROPERTY_RECORD_SIZE + 100;
  const struct {
    int records;
    size_t tail;  // bytes of a partial record after them
    bool update;  // of a new key; else a lookup that misses
    int reads;
  } cases[] = {{10, 0, false, 1}, {kThreeReads, 0, false, 3}, {0, 0, true, 0},
               {10, 100, true, 1}, {kThreeReads, 0, true, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.records) + " records, " + std::to_string(c.tail) +
                 " bytes more, " + (c.update ? "update" : "lookup"));
    WriteStoreFile(ManyRecords(c.records) + std::string(c.tail, 'T'));
    gStoreReads = 0;
    if (c.update) {
      EXPECT_EQ(0, property_set("new.key", "appended"));
    } else {
      EXPECT_EQ("<none>", Lookup("new.key"));
    }
    EXPECT_EQ(c.reads, gStoreReads);
    EXPECT_EQ((c.records + c.update) * PROPERTY_RECORD_SIZE + (c.update ? 0 : c.tail),
              ReadStoreFile().size());
  }
}

TEST_F(PropertyIoFaultsTest, ShortReadEndsALookupButAnUpdateReadsToTheLockedSize) {
  constexpr int kRecords = 2 * propstore::kScanBufferSize / PROPERTY_RECORD_SIZE;
  const std::string store = ManyRecords(kRecords);
  const std::string last = KeyOf(kRecords - 1);
  const struct {
    const char* name;
    int cut_read;
    size_t cut_bytes;
    bool update;
    std::string key;
    int result;      // of the update
    int error;       // errno of a failed update
    std::string found;  // Lookup(key) afterwards, or during the cut for a lookup
  } cases[] = {
      // Under the shared lock, nobody who honours it changes the file.
      {"lookup, first read short", 1, 1000, false, last, 0, 0, "<none>"},
      {"update, first read short", 1, 1000, true, last, 0, 0, "stored"},
      // Cut by someone who ignores the lock: where its records end is
      // unknown, so nothing is appended in the middle of the file.
      {"update, file ends early", 2, 0, true, "new.key", -1, EIO, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteStoreFile(store);
    gStoreReads = 0;
    gCutRead = c.cut_read;
    gCutReadBytes = c.cut_bytes;
    errno = 0;
    const int result = c.update ? property_set(c.key.c_str(), "stored") : 0;
    const int error = errno;
    const std::string found = Lookup(c.key);
    gCutRead = 0;
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.error, result == 0 ? 0 : error);
    EXPECT_EQ(c.found, found);
    EXPECT_EQ(store.size(), ReadStoreFile().size());
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

using PropertyIoFaultsDeathTest = PropertyIoFaultsTest;

TEST_F(PropertyIoFaultsDeathTest, StandardDescriptorClosedAtTheFirstCallIsFilledFirst) {
  UseFreshProcessForDeathTests();
  // Under an emulator the child is a fork, and only the process's first call
  // fills the gaps.
  if (gStoreOpens != 0) GTEST_SKIP() << "the store was used before in this process; run alone";
  for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    EXPECT_EXIT(
        {
          close(closed);
          const bool stored = property_set("k", "v") == 0 && Lookup("k") == "v";
          // The storage file never sat there, not even for an instant.
          _exit(stored && gLowStoreOpens == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "")
        << "descriptor " << closed;
  }
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
  // Two records in the first read, then one per read, none past the hit.
  EXPECT_EQ(299, lookup_reads);
  EXPECT_EQ(0, set_result);
  const std::string after = ReadStoreFile();
  EXPECT_EQ(store.size() + PROPERTY_RECORD_SIZE, after.size());
  EXPECT_TRUE(after.compare(0, store.size(), store) == 0) << "earlier records changed";
  EXPECT_EQ("appended", Lookup("new.key"));
#endif
}

}  // namespace
}  // namespace isputils_test
