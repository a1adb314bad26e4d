// Faults injected under the property store, each in the test's private
// /run: lock waits interrupted by real signals, files of garbage bytes,
// a read-only and a full filesystem holding records, and a symbolic link
// planted at the storage path. In each the store must not crash, must answer
// lookups by the record rules, and property_set must return -1 exactly when
// its record did not reach the file, leaving the earlier records intact.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/support/store_model.h"
#include "tests/support/private_run.h"
#include "tests/support/program_run.h"
#include "tests/support/store_test.h"

namespace isputils_test {
namespace {

std::atomic<int> gSignalsHandled{0};
void CountSignal(int) { gSignalsHandled.fetch_add(1); }

// Installs a handler without SA_RESTART, so a blocked flock returns EINTR
// on every signal; restores the old disposition at scope exit.
class ScopedInterruptingHandler {
 public:
  explicit ScopedInterruptingHandler(int signal) : signal_(signal) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal_, &action, &old_);
  }
  ~ScopedInterruptingHandler() { sigaction(signal_, &old_, nullptr); }

 private:
  int signal_;
  struct sigaction old_;
};

// A child process that holds the exclusive lock on the storage file until
// released, as an update in progress in another process would.
class LockHolder {
 public:
  bool Start() {
    holder_ = std::make_unique<ProgramRun>([] {
      const int fd = open(kStoragePath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (fd < 0 || flock(fd, LOCK_EX) != 0) return 1;
      if (write(STDOUT_FILENO, "locked\n", 7) != 7) return 1;
      for (;;) pause();
    });
    return holder_->WaitForOutput("locked\n");
  }
  // Ends the holder; its lock goes with it.
  void Release() { holder_.reset(); }

 private:
  std::unique_ptr<ProgramRun> holder_;
};

std::string Lookup(const std::string& key) {
  char value[PROPERTY_VALUE_SIZE];
  return fetch_property(key.c_str(), value) ? std::string(value) : std::string("<none>");
}

// Runs `call` on a thread while signals rain on it; returns once the thread
// has been signalled for a while and is still waiting on the holder's lock.
template <typename Call>
void CallUnderSignals(LockHolder* holder, Call call) {
  gSignalsHandled = 0;
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    call();
    done = true;
  });
  for (int i = 0; i < 150 && !done; ++i) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_FALSE(done.load()) << "the call went on without the lock";
#if !defined(__SANITIZE_THREAD__)
  // ThreadSanitizer defers handlers to its next intercepted call, which a
  // thread blocked in flock never makes; the handlers then run late or not
  // at all, though the waits are still interrupted.
  EXPECT_GT(gSignalsHandled.load(), 10);
#endif
  holder->Release();
  waiter.join();
}

using FaultInjectionTest = StoreTest;

TEST_F(FaultInjectionTest, LockWaitsInterruptedBySignalsKeepWaiting) {
  ASSERT_EQ(0, property_set("k", "before"));
  ASSERT_EQ(0, property_set("n", "17"));
  ScopedInterruptingHandler handler(SIGUSR1);

  LockHolder writer_blocker;
  ASSERT_TRUE(writer_blocker.Start());
  int set_result = 1;
  CallUnderSignals(&writer_blocker, [&] { set_result = property_set("k", "after"); });
  EXPECT_EQ(0, set_result);

  LockHolder reader_blocker;
  ASSERT_TRUE(reader_blocker.Start());
  int32_t read_back = 0;
  CallUnderSignals(&reader_blocker, [&] { read_back = property_get_int32("n", -1); });
  EXPECT_EQ(17, read_back);

  EXPECT_EQ("after", Lookup("k"));
  EXPECT_EQ(2u * PROPERTY_RECORD_SIZE, ReadStoreFile().size());
}

// Files of pseudo-random bytes shaped like records: keys and values with and
// without NULs, duplicates, garbage after the NULs, partial tails.
std::string GarbageFile(uint64_t seed, std::string* some_key) {
  uint64_t state = seed * 0x9e3779b97f4a7c15ull + 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::string file;
  const size_t records = next() % 7;
  for (size_t r = 0; r < records; ++r) {
    std::string record(PROPERTY_RECORD_SIZE, '\0');
    for (char& byte : record) byte = static_cast<char>(next());
    const size_t key_length = next() % 4 == 0 ? PROPERTY_KEY_SIZE : next() % PROPERTY_KEY_SIZE;
    const size_t value_length =
        next() % 4 == 0 ? PROPERTY_VALUE_SIZE : next() % PROPERTY_VALUE_SIZE;
    for (size_t i = 0; i < key_length; ++i) record[i] = static_cast<char>('a' + next() % 3);
    if (key_length < PROPERTY_KEY_SIZE) record[key_length] = '\0';
    for (size_t i = 0; i < value_length; ++i) {
      record[PROPERTY_KEY_SIZE + i] = static_cast<char>('A' + next() % 26);
    }
    if (value_length < PROPERTY_VALUE_SIZE) record[PROPERTY_KEY_SIZE + value_length] = '\0';
    if (r > 0 && next() % 3 == 0) record.replace(0, PROPERTY_KEY_SIZE, file, 0, PROPERTY_KEY_SIZE);
    file += record;
  }
  const size_t tail = next() % 3 == 0 ? next() % PROPERTY_RECORD_SIZE : 0;
  for (size_t i = 0; i < tail; ++i) file.push_back(static_cast<char>(next() % 4 ? 'g' : '\0'));
  *some_key = records > 0 ? StoreModel(file).KeyText(next() % records) : "absent";
  return file;
}

TEST_F(FaultInjectionTest, GarbageFilesAnswerByTheRecordRules) {
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ResetStore();
    std::string picked;
    const std::string bytes = GarbageFile(seed, &picked);
    WriteStoreFile(bytes);
    StoreModel model(bytes);

    std::vector<std::string> probes = {"absent", "", "a", picked, picked + "x"};
    for (size_t i = 0; i < model.whole_records(); ++i) probes.push_back(model.KeyText(i));
    const std::string fallback = "fallback";
    for (const std::string& key : probes) {
      std::string expected = "<none>";
      model.Fetch(key, &expected);
      EXPECT_EQ(expected, Lookup(key)) << "key \"" << key << "\"";
      char value[PROPERTY_VALUE_SIZE] = "untouched";
      std::string model_value = "untouched";
      EXPECT_EQ(model.Get(key, &fallback, &model_value),
                property_get(key.c_str(), value, fallback.c_str()));
      EXPECT_EQ(model_value, std::string(value));
    }
    // An update of a key found in the garbage, then of a new key: the file
    // changes exactly as the rules say and nothing else moves.
    ASSERT_EQ(0, property_set(picked.c_str(), "rewritten"));
    model.Update(picked, "rewritten");
    ASSERT_EQ("", model.Reconcile(ReadStoreFile()));
    ASSERT_EQ(0, property_set("fresh.key", "appended"));
    model.Update("fresh.key", "appended");
    ASSERT_EQ("", model.Reconcile(ReadStoreFile()));
    std::string expected;
    ASSERT_TRUE(model.Fetch("fresh.key", &expected));
    EXPECT_EQ(expected, Lookup("fresh.key"));
  }
}

TEST_F(FaultInjectionTest, ReadOnlyFilesystemAnswersLookupsAndRefusesUpdates) {
  if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
  ASSERT_TRUE(MountStoreFilesystem(1 << 20, /*read_only=*/false));
  ASSERT_EQ(0, property_set("a", "1"));
  ASSERT_EQ(0, property_set("b", "2"));
  const std::string before = ReadStoreFile();
  ASSERT_EQ(0, mount(nullptr, kStorageDir, nullptr,
                     MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr));
  EXPECT_EQ(-1, property_set("a", "changed"));
  EXPECT_EQ(-1, property_set("c", "3"));
  EXPECT_EQ(1, property_get_int32("a", -1));
  EXPECT_EQ(2, property_get_int32("b", -1));
  EXPECT_EQ(-1, property_get_int32("c", -1));
  EXPECT_EQ(before, ReadStoreFile());
}

TEST_F(FaultInjectionTest, FullFilesystemCutsTheFailedAppendBackToWholeRecords) {
  if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
  // One page: 26 records and a partial tail fit, a 27th record does not,
  // so the append over the tail is written in part before ENOSPC.
  ASSERT_TRUE(MountStoreFilesystem(4096, /*read_only=*/false));
  StoreModel model;
  for (int i = 0; i < 26; ++i) model.Update("key." + std::to_string(i), "v" + std::to_string(i));
  model.AppendRaw(std::string(30, 'p'));
  WriteStoreFile(model.bytes());
  ASSERT_EQ(26u * PROPERTY_RECORD_SIZE + 30, ReadStoreFile().size());

  EXPECT_EQ(-1, property_set("one.too.many", "x"));
  const std::string after = ReadStoreFile();
  EXPECT_EQ(26u * PROPERTY_RECORD_SIZE, after.size()) << "partial record left behind";
  EXPECT_EQ(0, after.compare(0, after.size(), model.bytes(), 0, after.size()));
  EXPECT_EQ("<none>", Lookup("one.too.many"));
  EXPECT_EQ("v25", Lookup("key.25"));
  EXPECT_EQ(0, property_set("key.3", "in place"));
  EXPECT_EQ("in place", Lookup("key.3"));

  // A store created on a filesystem that is already full: the update fails
  // and leaves an empty file, which reads as an empty store.
  ResetStore();
  ASSERT_TRUE(MountStoreFilesystem(4096, /*read_only=*/false));
  const int filler = open("/run/camera/filler", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(filler, 0);
  const std::string page(4096, 'f');
  while (write(filler, page.data(), page.size()) > 0) {
  }
  close(filler);
  EXPECT_EQ(-1, property_set("k", "v"));
  EXPECT_EQ("", ReadStoreFile());
  EXPECT_EQ(7, property_get_int32("k", 7));
}

TEST_F(FaultInjectionTest, SymbolicLinkAtThePathIsRefusedByTheApi) {
  // A file elsewhere that a link at the storage path would expose.
  const char kVictim[] = "/run/victim";
  StoreModel victim;
  victim.Update("k", "secret");
  const int fd = open(kVictim, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(static_cast<ssize_t>(victim.bytes().size()),
            write(fd, victim.bytes().data(), victim.bytes().size()));
  close(fd);
  ASSERT_EQ(0, symlink(kVictim, kStoragePath));

  char value[PROPERTY_VALUE_SIZE];
  EXPECT_EQ(8, property_get("k", value, "fallback"));
  EXPECT_STREQ("fallback", value);
  EXPECT_EQ(-1, property_set("k", "overwritten"));
  EXPECT_EQ(-1, property_set("new", "appended"));
  char victim_now[2 * PROPERTY_RECORD_SIZE];
  const int check = open(kVictim, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(check, 0);
  const ssize_t length = read(check, victim_now, sizeof(victim_now));
  close(check);
  EXPECT_EQ(victim.bytes(), std::string(victim_now, length > 0 ? length : 0));
  struct stat info;
  ASSERT_EQ(0, lstat(kStoragePath, &info));
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
}

}  // namespace
}  // namespace isputils_test
