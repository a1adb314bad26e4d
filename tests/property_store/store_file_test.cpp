// What the engine does when the system refuses it, made to happen through
// the engine's table of C-library calls: reads that fail, are interrupted
// or come back short part-way through a scan; lock waits interrupted or
// refused; the file replaced, removed or linked while an update waits for
// its lock; a directory where fs.protected_regular refuses O_CREAT of
// another user's file; a file created by another process between an
// update's open attempts; no /dev/null to fill a closed standard
// descriptor with; no heap memory for a scan's read buffer.
#include "property_store/internal/store_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/death_tests.h"
#include "tests/support/store_dir_test.h"

namespace isputils_test {
namespace {

using propstore::kScanBufferSize;
using propstore::kSystemCalls;
using propstore::Status;
using StoreFileTest = StoreDirTest;

std::string KeyOf(int i) { return "store.key." + std::to_string(i); }

std::string ManyRecords(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += RecordBytes(KeyOf(i), "value " + std::to_string(i));
  return bytes;
}

// A store of three read buffers, the last one partly filled.
constexpr int kThreeReads = 2 * kScanBufferSize / PROPERTY_RECORD_SIZE + 100;

TEST_F(StoreFileTest, ReadErrorsEndTheScanAndInterruptedReadsAreResumed) {
  const std::string store = ManyRecords(kThreeReads);
  int reads = 0, failing = 0, error = 0;
  calls_.pread = [&](int fd, void* buffer, size_t count, off_t offset) {
    if (++reads == failing) {
      errno = error;
      return ssize_t{-1};
    }
    return kSystemCalls.pread(fd, buffer, count, offset);
  };
  for (const int injected : {EIO, EINTR}) {
    // A read interrupted by a signal is resumed: the scan goes on as if
    // nothing happened. Any other error ends an update without a write.
    error = injected;
    for (failing = 1; failing <= 3; ++failing) {
      for (const std::string& key : {KeyOf(kThreeReads - 1), std::string("new.key")}) {
        SCOPED_TRACE(std::string(strerror(injected)) + " in read " + std::to_string(failing) +
                     ", key " + key);
        SetBytes(store);
        reads = 0;
        const Status status = store_.Set(key.c_str(), "stored");
        reads = -1000;
        if (injected == EINTR) {
          EXPECT_TRUE(status.ok());
          EXPECT_EQ("stored", Lookup(key));
        } else {
          EXPECT_EQ(Status::Code::kRead, status.code());
          EXPECT_EQ(EIO, status.error());
          EXPECT_TRUE(store == Bytes()) << "the file changed";
        }
      }
    }
    // A lookup that meets the error says so, with what it read before.
    SetBytes(store);
    reads = 0;
    failing = 2;
    char value[PROPERTY_VALUE_SIZE];
    const Status status = store_.Get(KeyOf(kThreeReads - 1).c_str(), value);
    EXPECT_EQ(injected == EINTR ? Status::Code::kOk : Status::Code::kRead, status.code());
    if (injected == EIO) {
      EXPECT_EQ(kScanBufferSize / PROPERTY_RECORD_SIZE, status.records());
    }
  }
}

TEST_F(StoreFileTest, ScansEndAtTheEndOfTheFileWithoutAReadToFindIt) {
  // A lookup ends with the first read that comes back short, an update at
  // the size the locked file has: a miss makes one read under a buffer.
  int reads = 0;
  calls_.pread = CountedPread(&reads);
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
    SetBytes(ManyRecords(c.records) + std::string(c.tail, 'T'));
    reads = 0;
    if (c.update) {
      EXPECT_TRUE(store_.Set("new.key", "appended").ok());
    } else {
      EXPECT_EQ("<none>", Lookup("new.key"));
    }
    EXPECT_EQ(c.reads, reads);
    EXPECT_EQ((c.records + c.update) * PROPERTY_RECORD_SIZE + (c.update ? 0 : c.tail),
              Bytes().size());
  }
}

TEST_F(StoreFileTest, ShortReadEndsALookupButAnUpdateReadsToTheLockedSize) {
  constexpr int kRecords = 2 * kScanBufferSize / PROPERTY_RECORD_SIZE;
  const std::string store = ManyRecords(kRecords);
  const std::string last = KeyOf(kRecords - 1);
  int reads = 0, cut_read = 0;
  size_t cut_bytes = 0;
  calls_.pread = [&](int fd, void* buffer, size_t count, off_t offset) {
    if (++reads == cut_read && count > cut_bytes) count = cut_bytes;
    return kSystemCalls.pread(fd, buffer, count, offset);
  };
  const struct {
    const char* name;
    int cut_read;
    size_t cut_bytes;
    bool update;
    std::string key;
    Status::Code code;    // of the update
    std::string found;    // Lookup(key) afterwards, or during the cut for a lookup
  } cases[] = {
      // Under the shared lock, nobody who honours it changes the file.
      {"lookup, first read short", 1, 1000, false, last, Status::Code::kOk, "<none>"},
      {"update, first read short", 1, 1000, true, last, Status::Code::kOk, "stored"},
      // Cut by someone who ignores the lock: where its records end is
      // unknown, so nothing is appended in the middle of the file.
      {"update, file ends early", 2, 0, true, "new.key", Status::Code::kShortFile, "<none>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetBytes(store);
    reads = 0;
    cut_read = c.cut_read;
    cut_bytes = c.cut_bytes;
    const Status status = c.update ? store_.Set(c.key.c_str(), "stored") : Status();
    const std::string found = Lookup(c.key);
    cut_read = 0;
    EXPECT_EQ(c.code, status.code());
    EXPECT_EQ(c.found, found);
    EXPECT_EQ(store.size(), Bytes().size());
  }
}

TEST_F(StoreFileTest, ClosedStandardDescriptorThatCannotBeFilledIsNeverTaken) {
  ASSERT_TRUE(store_.Set("k", "v").ok());  // the process's first check is done
  // Descriptor 1 closed later, and no /dev/null to put there: the store
  // refuses rather than sit where another thread's output would land.
  calls_.open = [](const char* path, int flags, mode_t mode) {
    if (strcmp(path, "/dev/null") == 0) {
      errno = ENOENT;
      return -1;
    }
    return kSystemCalls.open(path, flags, mode);
  };
  fflush(stdout);
  const int saved_output = dup(STDOUT_FILENO);
  close(STDOUT_FILENO);
  const Status status = store_.Set("k", "w");
  const std::string found = Lookup("k");
  const bool still_closed = fcntl(STDOUT_FILENO, F_GETFD) < 0;
  dup2(saved_output, STDOUT_FILENO);
  close(saved_output);
  EXPECT_EQ(Status::Code::kOpen, status.code());
  EXPECT_EQ(EBADF, status.error());
  EXPECT_EQ("<none>", found);
  EXPECT_TRUE(still_closed);
  EXPECT_EQ(RecordBytes("k", "v"), Bytes());
}

// In a fresh copy of the test program, whose store has not been used yet,
// with a store of its own that is gone before it exits.
TEST(StoreFileDeathTest, StandardDescriptorClosedAtTheFirstCallIsFilledFirst) {
  UseFreshProcessForDeathTests();
  for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    EXPECT_EXIT(
        {
          int status = 1;
          {
            HookedCalls calls;
            TempDir dir;
            propstore::Options options;
            options.calls = &calls.table();
            const propstore::Store store(dir.path().c_str(), options);
            int low_opens = 0;
            calls.open = [&](const char* path, int flags, mode_t mode) {
              const int fd = kSystemCalls.open(path, flags, mode);
              if (fd >= 0 && fd <= STDERR_FILENO && strcmp(path, store.path()) == 0) ++low_opens;
              return fd;
            };
            close(closed);
            char value[PROPERTY_VALUE_SIZE] = "";
            const bool stored = store.Set("k", "v").ok() && store.Get("k", value).ok();
            // The storage file never sat there, not even for an instant.
            status = stored && strcmp(value, "v") == 0 && low_opens == 0 ? 0 : 1;
          }
          _exit(status);
        },
        testing::ExitedWithCode(0), "")
        << "descriptor " << closed;
  }
}

TEST_F(StoreFileTest, ExistingFileIsOpenedWithoutCreateAndCreatedOnlyExclusively) {
  // Another user's file in a sticky directory with fs.protected_regular on:
  // only an open without O_CREAT reaches it. A file that another process
  // creates between our attempts is never emptied.
  std::string created_in_between = RecordBytes("theirs", "kept");
  calls_.open = [&](const char* path, int flags, mode_t mode) {
    struct stat info;
    if ((flags & O_CREAT) != 0 && strcmp(path, store_.path()) == 0) {
      if ((flags & O_EXCL) == 0 && lstat(path, &info) == 0) {
        errno = EACCES;
        return -1;
      }
      if (!created_in_between.empty()) {
        EXPECT_TRUE(WriteFile(path, created_in_between));
        created_in_between.clear();
      }
    }
    return kSystemCalls.open(path, flags, mode);
  };
  ASSERT_TRUE(store_.Set("first", "1").ok());   // meets the other's file
  ASSERT_TRUE(store_.Set("first", "2").ok());   // rewrites in place
  ASSERT_TRUE(store_.Set("second", "3").ok());  // appends
  EXPECT_EQ(3u * PROPERTY_RECORD_SIZE, Bytes().size());
  EXPECT_EQ("kept", Lookup("theirs"));
  EXPECT_EQ("2", Lookup("first"));
  EXPECT_EQ("3", Lookup("second"));
}

TEST_F(StoreFileTest, ScanWithoutHeapMemoryReadsOneRecordAtATime) {
  const std::string store = ManyRecords(300);
  SetBytes(store);
  int reads = 0;
  calls_.malloc = [](size_t size) { return size == kScanBufferSize ? nullptr : malloc(size); };
  calls_.pread = CountedPread(&reads);
  EXPECT_EQ("value 299", Lookup(KeyOf(299)));
  // Two records in the first read, then one per read, none past the hit.
  EXPECT_EQ(299, reads);
  EXPECT_TRUE(store_.Set("new.key", "appended").ok());
  const std::string after = Bytes();
  EXPECT_EQ(store.size() + PROPERTY_RECORD_SIZE, after.size());
  EXPECT_TRUE(after.compare(0, store.size(), store) == 0) << "earlier records changed";
  EXPECT_EQ("appended", Lookup("new.key"));
}

// Every flock call: the operation, whether its descriptor is close-on-exec,
// and the descriptor's access mode.
struct LockCall {
  int operation;
  bool close_on_exec;
  int access_mode;
};

class StoreLockTest : public StoreFileTest {
 protected:
  StoreLockTest() {
    calls_.flock = [this](int fd, int operation) {
      locks_.push_back({operation, (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0,
                        fcntl(fd, F_GETFL) & O_ACCMODE});
      if (while_waiting_) while_waiting_(locks_.size());
      if (interruptions_ > 0) {
        --interruptions_;
        errno = EINTR;
        return -1;
      }
      if (failure_ != 0) {
        errno = failure_;
        return -1;
      }
      return kSystemCalls.flock(fd, operation);
    };
  }

  std::vector<LockCall> locks_;
  int interruptions_ = 0;  // next calls that fail with EINTR
  int failure_ = 0;        // when set, every call fails with it
  // Run before each lock is taken, with the number of the call (from 1):
  // what another process does while the caller waits.
  std::function<void(size_t)> while_waiting_;
};

TEST_F(StoreLockTest, LookupsShareUpdatesExcludeAndWaitsAreResumed) {
  ASSERT_TRUE(store_.Set("k", "v").ok());
  EXPECT_EQ("v", Lookup("k"));
  ASSERT_EQ(2u, locks_.size());
  EXPECT_EQ(LOCK_EX | LOCK_NB, locks_[0].operation);  // free: no need to wait
  EXPECT_EQ(O_RDWR, locks_[0].access_mode);
  EXPECT_EQ(LOCK_SH, locks_[1].operation);
  EXPECT_EQ(O_RDONLY, locks_[1].access_mode);
  for (const LockCall& call : locks_) EXPECT_TRUE(call.close_on_exec);
  // A wait interrupted by a signal is taken up again.
  interruptions_ = 3;
  ASSERT_TRUE(store_.Set("k", "w").ok());
  interruptions_ = 2;
  EXPECT_EQ("w", Lookup("k"));
  EXPECT_EQ(9u, locks_.size());
}

TEST_F(StoreLockTest, FailedLockTouchesNothing) {
  ASSERT_TRUE(store_.Set("k", "before").ok());
  const std::string before = Bytes();
  failure_ = ENOLCK;
  EXPECT_EQ(Status::Code::kLock, store_.Set("k", "after").code());
  EXPECT_EQ(ENOLCK, store_.Set("new", "x").error());
  char value[PROPERTY_VALUE_SIZE];
  EXPECT_EQ(Status::Code::kLock, store_.Get("k", value).code());
  failure_ = 0;
  EXPECT_EQ(before, Bytes());
  EXPECT_EQ("before", Lookup("k"));
}

TEST_F(StoreLockTest, UpdateLandsInTheFileAtThePathWhateverHappensWhileItWaits) {
  const std::string path = store_.path(), other = dir_ / "other-name";
  // What a restore script does: writes a copy and renames it over the path.
  const auto replace_with_copy = [&] {
    EXPECT_TRUE(WriteFile(other, Bytes()));
    EXPECT_EQ(0, rename(other.c_str(), path.c_str()));
  };
  bool other_device = false;
  calls_.lstat = [&](const char* at, struct stat* info) {
    const int result = kSystemCalls.lstat(at, info);
    if (result == 0 && other_device && path == at) ++info->st_dev;
    return result;
  };
  struct Case {
    const char* name;
    std::function<void(size_t call)> while_waiting;
    Status::Code code;
    size_t locks;          // locks taken: one per attempt
    std::string at_path;   // the storage file afterwards
    std::string at_other;  // the file at `other` afterwards
  };
  const std::string old_record = RecordBytes("k", "old");
  const std::string new_record = RecordBytes("k", "new");
  const auto once = [](auto step) { return [step](size_t call) { if (call == 1) step(); }; };
  const std::vector<Case> cases = {
      {"replaced by a copy", once(replace_with_copy), Status::Code::kOk, 2, new_record, "<none>"},
      {"replaced at every attempt", [&](size_t) { replace_with_copy(); }, Status::Code::kReplaced,
       8, old_record, "<none>"},
      {"removed", once([&] { EXPECT_EQ(0, unlink(path.c_str())); }), Status::Code::kOk, 2,
       new_record, "<none>"},
      // A link made and removed again in a loop, met once.
      {"linked once",
       [&](size_t call) {
         const int result = call == 1   ? link(path.c_str(), other.c_str())
                            : call == 2 ? unlink(other.c_str())
                                        : 0;
         EXPECT_EQ(0, result);
       },
       Status::Code::kOk, 2, new_record, "<none>"},
      {"linked for good", once([&] { EXPECT_EQ(0, link(path.c_str(), other.c_str())); }),
       Status::Code::kLinked, 8, old_record, old_record},
      // Moved aside, a symbolic link to it at the path: never written
      // through, and the next open refuses the link.
      {"moved, symbolic link left",
       once([&] {
         EXPECT_EQ(0, rename(path.c_str(), other.c_str()));
         EXPECT_EQ(0, symlink(other.c_str(), path.c_str()));
       }),
       Status::Code::kNotRegular, 1, old_record, old_record},
      {"another file system's file of the same inode number",
       [&](size_t) { other_device = true; }, Status::Code::kReplaced, 8, old_record, "<none>"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.name);
    unlink(path.c_str());
    unlink(other.c_str());
    SetBytes(old_record);
    locks_.clear();
    while_waiting_ = expected.while_waiting;
    const Status status = store_.Set("k", "new");
    while_waiting_ = nullptr;
    other_device = false;
    EXPECT_EQ(expected.code, status.code());
    EXPECT_EQ(expected.locks, locks_.size());
    EXPECT_EQ(expected.at_path, ReadFile(path));
    EXPECT_EQ(expected.at_other, ReadFile(other));
  }
}

}  // namespace
}  // namespace isputils_test
