// Many writers and readers of one store at once, from processes and from
// threads: no update lost, no torn value read, one record per key, a lookup
// waits for an update that holds the file, and another thread's output
// never reaches the file of a process started with standard output closed.
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/death_tests.h"
#include "tests/support/store_dir_test.h"

namespace isputils_test {
namespace {

constexpr int kWorkers = 6;
constexpr int kRounds = 150;
constexpr int kSharedKeys = 4;

// A value that names its writer and round and repeats a filler derived from
// both, so that any mix of two writes is detected.
std::string MakeValue(int writer, int round) {
  char head[32];
  snprintf(head, sizeof(head), "w%d:r%d:", writer, round);
  return std::string(head) + std::string(40 + (writer * 7 + round) % 40,
                                         static_cast<char>('a' + (writer + round) % 26));
}

bool IsWellFormed(const std::string& value) {
  int writer = 0, round = 0, consumed = 0;
  if (sscanf(value.c_str(), "w%d:r%d:%n", &writer, &round, &consumed) != 2) return false;
  return value == MakeValue(writer, round);
}

std::string SharedKey(int i) { return "shared.key." + std::to_string(i); }
std::string OwnKey(int writer) { return "own.key." + std::to_string(writer); }

// Body of one worker: writes its own key and the shared keys, reads them all
// back, and returns the number of torn or foreign values it saw.
int Work(const propstore::Store& store, int writer) {
  int bad = 0;
  char value[PROPERTY_VALUE_SIZE];
  for (int round = 0; round < kRounds; ++round) {
    const std::string mine = MakeValue(writer, round);
    if (!store.Set(OwnKey(writer).c_str(), mine.c_str()).ok()) ++bad;
    if (!store.Set(SharedKey(round % kSharedKeys).c_str(), mine.c_str()).ok()) ++bad;
    if (!store.Get(OwnKey(writer).c_str(), value).ok() || mine != value) ++bad;
    if (store.Get(SharedKey((round + writer) % kSharedKeys).c_str(), value).ok() &&
        !IsWellFormed(value)) {
      ++bad;
    }
  }
  return bad;
}

class ConcurrencyTest : public StoreDirTest {
 protected:
  void ExpectConsistentStore();
};

void ConcurrencyTest::ExpectConsistentStore() {
  const std::string file = Bytes();
  ASSERT_EQ(static_cast<size_t>(kWorkers + kSharedKeys) * PROPERTY_RECORD_SIZE,
            file.size());
  std::set<std::string> keys;
  for (size_t at = 0; at < file.size(); at += PROPERTY_RECORD_SIZE) {
    EXPECT_TRUE(keys.insert(file.c_str() + at).second) << "duplicate " << file.c_str() + at;
  }
  for (int writer = 0; writer < kWorkers; ++writer) {
    EXPECT_EQ(MakeValue(writer, kRounds - 1), Lookup(OwnKey(writer)));
  }
  for (int i = 0; i < kSharedKeys; ++i) EXPECT_TRUE(IsWellFormed(Lookup(SharedKey(i))));
}

TEST_F(ConcurrencyTest, ProcessesLoseNoUpdateAndReadNoTornValue) {
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWorkers; ++writer) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(Work(store_, writer) == 0 ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker saw bad values";
  }
  ExpectConsistentStore();
}

TEST_F(ConcurrencyTest, ThreadsOfOneProcessExcludeEachOtherToo) {
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWorkers; ++writer) {
    threads.emplace_back([this, writer, &bad] { bad += Work(store_, writer); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, bad.load());
  ExpectConsistentStore();
}

TEST_F(ConcurrencyTest, LookupWaitsForUpdateHoldingTheFile) {
  ASSERT_TRUE(store_.Set("k", "old").ok());
  // Stand in for an update in progress of a process that takes flock alone
  // (an older build): hold the exclusive lock, then write the new record
  // and release, as its update does.
  FILE* holder = fopen(store_.path(), "rb+");
  ASSERT_NE(nullptr, holder);
  ASSERT_EQ(0, flock(fileno(holder), LOCK_EX));
  std::atomic<bool> done{false};
  std::string seen;
  std::thread reader([&] {
    seen = Lookup("k");
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load()) << "lookup did not wait for the lock";
  const std::string record = RecordBytes("k", "new");
  ASSERT_EQ(1u, fwrite(record.data(), record.size(), 1, holder));
  fclose(holder);  // flushes, then releases the lock
  reader.join();
  EXPECT_EQ("new", seen);
}

// A problem with the store after pairs of updates and lookups in a process
// whose standard output was closed at its start, or closed again later, or
// "" when there is none. Each round writes keys k0-k9 with growing values.
std::string StoreWithStandardOutputClosed(const propstore::Store& store) {
  close(STDOUT_FILENO);
  std::atomic<bool> stop{false};
  // A daemon's logging thread: its writes must never land in the records.
  // Racing the store for descriptor 1 is the point, so the write goes to the
  // kernel directly: ThreadSanitizer, which takes descriptors for memory,
  // would report the race this test is made of.
  std::thread noise([&stop] {
    while (!stop) {
      if (syscall(SYS_write, STDOUT_FILENO, "noise\n", 6) < 0) std::this_thread::yield();
    }
  });
  std::string problems;
  auto store_round = [&](int round) {
    char read_back[PROPERTY_VALUE_SIZE] = "";
    for (int i = 0; i < 10; ++i) {
      const std::string key = "k" + std::to_string(i);
      const std::string value = std::to_string(round * 10 + i);
      if (!store.Set(key.c_str(), value.c_str()).ok()) problems += "set failed; ";
      if (!store.Get(key.c_str(), read_back).ok() || value != read_back) {
        problems += key + " read back as " + read_back + "; ";
      }
    }
  };
  for (int round = 0; round < 30; ++round) store_round(round);
  stop = true;
  noise.join();
  // Closed again after the first calls: the store still never takes it.
  close(STDOUT_FILENO);
  store_round(30);
  std::string expected;
  for (int i = 0; i < 10; ++i) {
    expected += RecordBytes("k" + std::to_string(i), std::to_string(300 + i));
  }
  if (ReadFile(store.path()) != expected) problems += "the file holds more than the records; ";
  struct stat out, null;
  if (fstat(STDOUT_FILENO, &out) != 0 || stat("/dev/null", &null) != 0 ||
      out.st_rdev != null.st_rdev || out.st_ino != null.st_ino) {
    problems += "descriptor 1 is not /dev/null";
  }
  return problems;
}

// In a fresh copy of the test program, whose store has not been used yet,
// with a store of its own that is gone before it exits.
TEST(ConcurrencyDeathTest, StandardOutputClosedAtStartNeverReachesTheRecords) {
  UseFreshProcessForDeathTests();
  EXPECT_EXIT(
      {
        std::string problems;
        {
          TempDir dir;
          const propstore::Store store(dir.path().c_str());
          problems = StoreWithStandardOutputClosed(store);
        }
        fputs(problems.c_str(), stderr);
        _exit(problems.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), testing::Eq(""));
}

}  // namespace
}  // namespace isputils_test
