// The fixture of camprop's tests and what they share: each test gets a root
// of its own (ROOT/run/camera holds the store), runs the tool as a child
// with --root ROOT, or its commands in a forked copy of the test where the
// store or camprop's files are to fail (hooked_calls.h).
//
// Thread-safety: for the test's main thread.
#ifndef TESTS_CAMPROP_CAMPROP_FIXTURE_H_
#define TESTS_CAMPROP_CAMPROP_FIXTURE_H_

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "property_store/internal/store_file.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/program_run.h"
#include "tests/support/hooked_calls.h"
#include "tests/support/temp_dir.h"
#include "tests/support/target_program.h"
#include "tools/camprop/main.h"

namespace isputils_test {

using propstore::kSystemCalls;

// How one run of the tool is set up; by default both streams are piped back.
struct ToolOptions {
  uid_t uid = static_cast<uid_t>(-1);  // run as this user when not -1
  const char* output = nullptr;        // standard output to this file; "" closes it
  bool terminal = false;               // standard output on a pseudo-terminal
  bool merged = false;                 // standard error into standard output's pipe
};

// The runner's setup for `options`.
inline ProgramOptions RunnerOptions(const ToolOptions& options) {
  ProgramOptions run;
  run.uid = options.uid;
  run.merged = options.merged;
  if (options.terminal) run.output = ChildOutput::kTerminal;
  if (options.output != nullptr) {
    run.output = options.output[0] == '\0' ? ChildOutput::kClosed : ChildOutput::kFile;
    run.output_file = options.output;
  }
  return run;
}

// One run of the tool: exit status (or 128 + signal), both streams, and
// the most memory it held resident.
using ToolResult = ProgramResult;

inline std::string Joined(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += "[" + argument + "]";
  return text;
}

// The lines of a watch with their leading "YYYY-MM-DDTHH:MM:SS.mmm " taken
// off; a line without one is left whole, so that it shows in a failure.
inline std::string WithoutTimes(const std::string& lines) {
  const std::string shape = "dddd-dd-ddTdd:dd:dd.ddd ";
  std::string result;
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    end = end == std::string::npos ? lines.size() : end + 1;
    std::string line = lines.substr(start, end - start);
    bool timed = line.size() > shape.size();
    for (size_t i = 0; timed && i < shape.size(); ++i) {
      timed = shape[i] == 'd' ? isdigit(static_cast<unsigned char>(line[i])) != 0
                              : line[i] == shape[i];
    }
    result += timed ? line.substr(shape.size()) : line;
    start = end;
  }
  return result;
}

// `text` without its lines that begin with '#'.
inline std::string WithoutComments(const std::string& text) {
  std::string kept;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text[start] != '#') kept += text.substr(start, end - start);
    start = end;
  }
  return kept;
}

// Holds a whole-file lock on the storage file, as a camera process would.
class HeldLock {
 public:
  HeldLock(const std::string& path, int operation) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
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

// Each test's root: ROOT/run/camera holds the store, open to every user as
// the private /run of the other tests is, and the files the test hands the
// tool lie in ROOT/files. The tool runs as `camprop --root ROOT`.
class CampropTest : public testing::Test {
 protected:
  using ToolProcess = ProgramRun;

  // The test's own reads and writes of the store go past the hooks, which
  // are for the tool's.
  CampropTest() : root_(0755), store_(CameraDir(root_).c_str()) {
    EXPECT_EQ(0, mkdir((root_ / "run").c_str(), 0755));
    EXPECT_EQ(0, mkdir((root_ / "files").c_str(), 0755));
    ResetStore();
  }

  static std::string CameraDir(const TempDir& root) { return root / "run/camera"; }
  std::string camera() const { return CameraDir(root_); }
  std::string path() const { return store_.path(); }
  // The path of `name` among the files the test hands the tool.
  std::string file(const std::string& name) const { return root_ / ("files/" + name); }
  const propstore::Store& store() const { return store_; }

  // What a reboot does to /run: the store's directory empty again.
  // The boot also makes the empty records of the values nobody set
  // (tmpfiles.d), without which the watch saves nothing.
  void ResetStore() const {
    RemoveTree(camera());
    EXPECT_EQ(0, mkdir(camera().c_str(), 0777));
    EXPECT_EQ(0, chmod(camera().c_str(), 0777));
    for (const char* record : {"/persist_defaults", "/persist_forgotten"}) {
      EXPECT_TRUE(WriteFile(camera() + record, ""));
      EXPECT_EQ(0, chmod((camera() + record).c_str(), 0640));
    }
  }
  std::string StoreBytes() const { return ReadFile(path()); }
  void SetStoreBytes(const std::string& bytes) const { ASSERT_TRUE(WriteFile(path(), bytes)); }
  bool StoreExists() const { return access(path().c_str(), F_OK) == 0; }
  std::string Lookup(const std::string& key) const {
    char value[PROPERTY_VALUE_SIZE];
    return store_.Get(key.c_str(), value).ok() ? value : "<none>";
  }
  void Set(const std::string& key, const std::string& value) const {
    ASSERT_TRUE(store_.Set(key.c_str(), value.c_str()).ok()) << key;
  }

  // The command that starts camprop on this root with `arguments`, through
  // the emulator in a cross-built tree. A child that drops to another user
  // runs a copy in the root, which every user may enter, since the build
  // tree may lie in a home only its owner can enter.
  std::vector<std::string> Command(const std::vector<std::string>& arguments,
                                   bool as_other_user) const {
    std::string program = CAMPROP_PATH;
    if (as_other_user) {
      program = root_ / "camprop";
      if (access(program.c_str(), X_OK) != 0) {
        EXPECT_TRUE(WriteFile(program, ReadFile(CAMPROP_PATH)));
        EXPECT_EQ(0, chmod(program.c_str(), 0755));
      }
    }
    std::vector<std::string> full = {"--root", root_.path()};
    full.insert(full.end(), arguments.begin(), arguments.end());
    return TargetCommand(program, full);
  }

  std::unique_ptr<ToolProcess> Start(const std::vector<std::string>& arguments,
                                     const ToolOptions& options = {}) const {
    return std::make_unique<ToolProcess>(
        Command(arguments, options.uid != static_cast<uid_t>(-1)), RunnerOptions(options));
  }
  ToolResult RunTool(const std::vector<std::string>& arguments, const ToolOptions& options = {}) const {
    return Start(arguments, options)->Finish();
  }
  ToolResult RunTool(const std::vector<std::string>& arguments, uid_t uid) const {
    ToolOptions options;
    options.uid = uid;
    return RunTool(arguments, options);
  }

  // camprop's commands in a forked copy of this test, on a store that makes
  // its C-library calls through the hooks of calls_.
  std::unique_ptr<ToolProcess> StartHooked(const std::vector<std::string>& arguments,
                                           const ToolOptions& options = {}) const {
    std::vector<std::string> full = {"camprop", "--root", root_.path()};
    full.insert(full.end(), arguments.begin(), arguments.end());
    return std::make_unique<ToolProcess>(
        [this, full] {
          std::vector<char*> argv;
          for (const std::string& argument : full) argv.push_back(const_cast<char*>(argument.c_str()));
          argv.push_back(nullptr);
          return camprop::Main(static_cast<int>(full.size()), argv.data(), calls_.table());
        },
        RunnerOptions(options));
  }
  ToolResult RunHooked(const std::vector<std::string>& arguments, const ToolOptions& options = {}) const {
    return StartHooked(arguments, options)->Finish();
  }

  HookedCalls calls_;
  TempDir root_;
  propstore::Store store_;
};

// Lays `bytes` down at `path` in one piece.
inline void PutFile(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(WriteFile(path, bytes)) << path;
}

// Waits until the file at `path` holds `text` (10 s at most). Returns
// whether it does.
inline bool WaitForFileToHold(const std::string& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Waits until the file at `path` no longer holds `text` (10 s at most).
inline bool WaitForFileToLose(const std::string& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(path).find(text) != std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace isputils_test

#endif  // TESTS_CAMPROP_CAMPROP_FIXTURE_H_
