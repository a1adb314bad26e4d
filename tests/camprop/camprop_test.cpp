// The camprop tool, run as a child process inside the test's private /run:
// its output and exit status for each command, its refusals of bad input,
// its reports on damaged and unreadable files, and the locks it takes.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/private_run.h"
#include "tests/support/target_program.h"

namespace isputils_test {
namespace {

constexpr int kCannotDropPrivileges = 126;

// One run of the tool: exit status (or 128 + signal) and both streams.
struct ToolResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A running camprop child with its standard output and error piped back.
class ToolProcess {
 public:
  // Starts camprop with `arguments` (through the emulator in a cross-built
  // tree); as user `uid` when it is not -1. That user runs a copy in the
  // private /run: the build tree may lie in a home only its owner can enter.
  explicit ToolProcess(const std::vector<std::string>& arguments, uid_t uid = -1) {
    const bool as_other_user = uid != static_cast<uid_t>(-1);
    static std::string shared_copy;
    if (as_other_user && shared_copy.empty()) shared_copy = CopyIntoPrivateRun(CAMPROP_PATH);
    const std::vector<std::string> command =
        TargetCommand(as_other_user ? shared_copy : CAMPROP_PATH, arguments);
    std::vector<char*> argv;
    for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out_pipe[1], STDOUT_FILENO);
      dup2(err_pipe[1], STDERR_FILENO);
      if (as_other_user && (setgroups_none() != 0 || setresgid(uid, uid, uid) != 0 ||
                            setresuid(uid, uid, uid) != 0)) {
        _exit(kCannotDropPrivileges);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
  }
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  ~ToolProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }

  // True when the child is still running after `milliseconds`.
  bool StillRunningAfter(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return waitpid(pid_, &raw_status_, WNOHANG) == 0;
  }

  // Collects both streams and the exit status; kills a child that has not
  // finished within ten seconds (a lock that is never granted).
  ToolResult Finish() {
    ToolResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_streams = 2;
    while (open_streams > 0 && std::chrono::steady_clock::now() < deadline) {
      if (poll(fds, 2, 100) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char chunk[4096];
        const ssize_t got = read(fds[i].fd, chunk, sizeof(chunk));
        if (got > 0) {
          sinks[i]->append(chunk, static_cast<size_t>(got));
        } else {
          fds[i].fd = -1;
          --open_streams;
        }
      }
    }
    if (open_streams > 0) kill(pid_, SIGKILL);
    if (raw_status_ == -1) waitpid(pid_, &raw_status_, 0);
    pid_ = -1;
    result.status = WIFEXITED(raw_status_) ? WEXITSTATUS(raw_status_)
                                           : 128 + WTERMSIG(raw_status_);
    return result;
  }

 private:
  static int setgroups_none() { return setgroups(0, nullptr); }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int raw_status_ = -1;
};

ToolResult RunTool(const std::vector<std::string>& arguments, uid_t uid = -1) {
  ToolProcess process(arguments, uid);
  return process.Finish();
}

// Holds a whole-file lock on the storage file, as a camera process would.
class HeldLock {
 public:
  explicit HeldLock(int operation) : fd_(open(kStoragePath, O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0 || flock(fd_, operation) != 0) abort();
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  ~HeldLock() { close(fd_); }
  int fd() const { return fd_; }
  // Changes the lock to `operation` (LOCK_SH, LOCK_EX or LOCK_UN).
  void Change(int operation) {
    if (flock(fd_, operation) != 0) abort();
  }

 private:
  int fd_;
};

class CampropTest : public testing::Test {
 protected:
  void SetUp() override { ResetStore(); }
  void TearDown() override { ResetStore(); }
};

TEST_F(CampropTest, HelpSucceedsAndBadCommandLinesAreUsageErrors) {
  const ToolResult help = RunTool({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("usage: camprop get KEY [DEFAULT]"));
  EXPECT_EQ("", help.err);

  const std::vector<std::vector<std::string>> bad = {
      {}, {"frob"}, {"get"}, {"get", "a", "b", "c"}, {"set", "k"}, {"list", "x"}, {"check", "x"}};
  for (const auto& arguments : bad) {
    const ToolResult result = RunTool(arguments);
    EXPECT_EQ(2, result.status) << arguments.size() << " arguments";
    EXPECT_EQ("", result.out);
    EXPECT_NE(std::string::npos, result.err.find("usage: camprop"));
  }
  EXPECT_NE(std::string::npos, RunTool({"frob"}).err.find("unknown command 'frob'"));
  EXPECT_FALSE(StoreFileExists());
}

TEST_F(CampropTest, SetWritesTheStoreLayoutAndGetReadsWhatTheLibraryStored) {
  ASSERT_EQ(0, RunTool({"set", "persist.qvx.camera.log_level", "3"}).status);
  EXPECT_EQ(RecordBytes("persist.qvx.camera.log_level", "3"), ReadStoreFile());
  EXPECT_EQ(3, property_get_int32("persist.qvx.camera.log_level", -1));

  // An update rewrites the record in place.
  ASSERT_EQ(0, RunTool({"set", "persist.qvx.camera.log_level", "5"}).status);
  EXPECT_EQ(static_cast<size_t>(PROPERTY_RECORD_SIZE), ReadStoreFile().size());

  ASSERT_EQ(0, property_set("vendor.debug.x", "on"));
  ASSERT_EQ(0, property_set("empty", ""));
  const ToolResult got = RunTool({"get", "vendor.debug.x"});
  EXPECT_EQ(0, got.status);
  EXPECT_EQ("on\n", got.out);
  EXPECT_EQ("5\n", RunTool({"get", "persist.qvx.camera.log_level"}).out);
  // A key stored empty is stored: the default is not used.
  const ToolResult empty = RunTool({"get", "empty", "fallback"});
  EXPECT_EQ(0, empty.status);
  EXPECT_EQ("\n", empty.out);
}

TEST_F(CampropTest, GetOfUnsetKeyFailsUnlessGivenADefault) {
  ToolResult result = RunTool({"get", "k"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("camprop: k is not set: /run/camera/property_storage does not exist\n",
            result.err);
  EXPECT_FALSE(StoreFileExists());

  result = RunTool({"get", "k", "dflt"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("dflt\n", result.out);

  ASSERT_EQ(0, property_set("other", "v"));
  result = RunTool({"get", "k"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: k is not set\n", result.err);
  // A default is cut where property_get cuts it.
  result = RunTool({"get", "k", std::string(100, 'd')});
  EXPECT_EQ(std::string(PROPERTY_VALUE_SIZE - 1, 'd') + "\n", result.out);
}

TEST_F(CampropTest, OverLongKeysAndValuesAreRefusedAndNothingIsStored) {
  const std::string key63(63, 'k');
  const std::string key64(64, 'k');
  ToolResult result = RunTool({"set", key64, "v"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("camprop: key is 64 bytes long; a key holds at most 63 bytes (nothing stored)\n",
            result.err);
  EXPECT_FALSE(StoreFileExists());

  result = RunTool({"set", "k", std::string(92, 'v')});
  EXPECT_EQ(2, result.status);
  EXPECT_NE(std::string::npos, result.err.find("value is 92 bytes long"));
  EXPECT_FALSE(StoreFileExists());

  result = RunTool({"get", key64, "dflt"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_NE(std::string::npos, result.err.find("key is 64 bytes long"));

  ASSERT_EQ(0, RunTool({"set", key63, std::string(91, 'v')}).status);
  EXPECT_EQ(std::string(91, 'v') + "\n", RunTool({"get", key63}).out);
}

TEST_F(CampropTest, ListShowsEveryRecordInFileOrderWithDuplicatesMarked) {
  const std::string long_key(70, 'L');
  ASSERT_EQ(0, property_set("a", "1"));
  // Each update through a cut key appends another record of the same key.
  ASSERT_EQ(0, property_set(long_key.c_str(), "first"));
  ASSERT_EQ(0, property_set(long_key.c_str(), "second"));
  ASSERT_EQ(0, property_set("ctl", "tab\there\\"));
  const ToolResult result = RunTool({"list"});
  EXPECT_EQ(0, result.status);
  const std::string cut(63, 'L');
  EXPECT_EQ("#0 [a]: [1]\n"
            "#1 [" + cut + "]: [first]\n"
            "#2 [" + cut + "]: [second]  (duplicate of #1: never read or updated)\n"
            "#3 [ctl]: [tab\\x09here\\\\]\n",
            result.out);
  EXPECT_EQ("", result.err);
}

TEST_F(CampropTest, ListOfMissingFileSaysSoAndListOfDamagedFileMarksIt) {
  ToolResult result = RunTool({"list"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_NE(std::string::npos, result.err.find("does not exist"));

  WriteStoreFile(RecordBytes("k", "v") + RecordBytes(std::string(64, 'K'), "x") +
                 RecordBytes("w", std::string(92, 'V')) + "partial");
  result = RunTool({"list"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("#0 [k]: [v]\n"
            "#1 [" + std::string(64, 'K') + "]: [x]  (key has no NUL: no lookup reaches it)\n"
            "#2 [w]: [" + std::string(91, 'V') +
                "]  (value has no NUL: reads as its first 91 bytes)\n"
            "-- partial record of 7 bytes at offset 468: ignored, overwritten by the next "
            "new key\n",
            result.out);
}

TEST_F(CampropTest, CheckPassesASoundStoreAndAMissingOne) {
  ToolResult result = RunTool({"check"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("/run/camera/property_storage: does not exist; the store is empty\n", result.out);

  ASSERT_EQ(0, property_set("a", "1"));
  ASSERT_EQ(0, property_set("b", ""));
  result = RunTool({"check"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("/run/camera/property_storage: 312 bytes, 2 records: ok\n", result.out);
}

TEST_F(CampropTest, CheckReportsEveryKindOfDamageAndFails) {
  WriteStoreFile(RecordBytes("a", "1") + RecordBytes(std::string(64, 'K'), "x") +
                 RecordBytes("b", std::string(92, 'V')) + RecordBytes("a", "2") +
                 std::string(20, 'p'));
  const ToolResult result = RunTool({"check"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("record #1: key field has no NUL within its 64 bytes\n"
            "record #2: value field has no NUL within its 92 bytes\n"
            "record #3: key [a] repeats record #0; this record is never read or updated\n"
            "partial record: 20 bytes at offset 624 (not a record; the next new key "
            "overwrites it)\n"
            "/run/camera/property_storage: 644 bytes, 4 records: damaged (4 problems)\n",
            result.out);

  // Each kind alone is enough to fail.
  WriteStoreFile(RecordBytes("a", "1") + "x");
  EXPECT_EQ(1, RunTool({"check"}).status);
  WriteStoreFile(RecordBytes("a", "1") + RecordBytes("a", "1"));
  EXPECT_EQ(1, RunTool({"check"}).status);
}

TEST_F(CampropTest, UnreadableOrForeignFileIsReportedNotTakenAsEmpty) {
  ASSERT_EQ(0, property_set("k", "v"));
  ASSERT_EQ(0, chmod(kStoragePath, 0600));
  ToolResult result = RunTool({"get", "k", "dflt"}, 65534);
  if (result.status == kCannotDropPrivileges) GTEST_SKIP() << "cannot switch users here";
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("camprop: cannot read /run/camera/property_storage: permission denied\n",
            result.err);
  EXPECT_EQ(1, RunTool({"list"}, 65534).status);
  EXPECT_EQ(1, RunTool({"check"}, 65534).status);
  result = RunTool({"set", "k", "w"}, 65534);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: cannot store k in /run/camera/property_storage: permission denied\n",
            result.err);
  EXPECT_EQ("v\n", RunTool({"get", "k"}).out);

  // A link planted at the path is refused, never followed.
  ASSERT_EQ(0, rename(kStoragePath, "/run/camera/elsewhere"));
  ASSERT_EQ(0, symlink("/run/camera/elsewhere", kStoragePath));
  result = RunTool({"check"});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(std::string::npos, result.err.find("symbolic link"));
}

TEST_F(CampropTest, SetReportsAStoreThatCannotBeWritten) {
  ASSERT_EQ(0, rmdir("/run/camera"));
  ToolResult result = RunTool({"set", "k", "v"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: cannot store k in /run/camera/property_storage: the directory "
            "/run/camera does not exist\n",
            result.err);

  if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
  ASSERT_TRUE(MountStoreFilesystem(1 << 20, /*read_only=*/true));
  result = RunTool({"set", "k", "v"});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(std::string::npos, result.err.find("Read-only file system"));
}

TEST_F(CampropTest, ReadersWaitForAWriterAndRunBesideOtherReaders) {
  ASSERT_EQ(0, property_set("k", "old"));
  {
    HeldLock writer(LOCK_EX);
    ToolProcess get({"get", "k"});
    ToolProcess list({"list"});
    EXPECT_TRUE(get.StillRunningAfter(300));
    EXPECT_TRUE(list.StillRunningAfter(0));
    // The writer finishes its record before it lets go.
    const std::string record = RecordBytes("k", "new");
    ASSERT_EQ(static_cast<ssize_t>(record.size()),
              pwrite(writer.fd(), record.data(), record.size(), 0));
    writer.Change(LOCK_SH);
    EXPECT_EQ("new\n", get.Finish().out);
    EXPECT_EQ("#0 [k]: [new]\n", list.Finish().out);
    // Shared with the reader that now holds the file.
    EXPECT_EQ(0, RunTool({"check"}).status);
  }
}

TEST_F(CampropTest, SetWaitsForEveryReaderToLetGo) {
  ASSERT_EQ(0, property_set("k", "old"));
  ToolResult result;
  {
    HeldLock reader(LOCK_SH);
    ToolProcess set({"set", "k", "new"});
    EXPECT_TRUE(set.StillRunningAfter(300));
    EXPECT_EQ("old\n", RunTool({"get", "k"}).out);
    reader.Change(LOCK_UN);
    result = set.Finish();
  }
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("new\n", RunTool({"get", "k"}).out);
}

}  // namespace
}  // namespace isputils_test
