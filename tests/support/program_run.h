// The one way tests start another process and read what it prints: a
// program (camprop, nm) or a function in a forked copy of the test, with
// its standard streams piped back, merged, closed, sent to a file or to a
// pseudo-terminal, or as another user.
// Every wait has a deadline and a run kills its child when it goes out of
// scope, so a test that fails half-way never hangs or leaves a process
// behind.
//
// Thread-safety: a ProgramRun belongs to the thread that made it. Start runs
// from one thread at a time: a fork while another run sets up its pipes
// would hand that run's pipe ends to the wrong child, which then holds them
// open.
#ifndef TESTS_SUPPORT_PROGRAM_RUN_H_
#define TESTS_SUPPORT_PROGRAM_RUN_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace isputils_test {

// The exit status of a child that could not become the user it was asked
// to run as (a test process without the privilege): tests skip on it.
inline constexpr int kCannotSwitchUser = 126;
// The exit status of a child whose program could not be started.
inline constexpr int kCannotStartProgram = 127;

// How long a run waits for text, or for its child to end, before it gives
// up: far longer than any child of the tests needs, even under an emulator.
inline constexpr int kProgramRunTimeoutSeconds = 10;

// Where a child's standard output goes.
enum class ChildOutput {
  kPipe,      // piped back to the run
  kTerminal,  // a pseudo-terminal in raw mode, read back by the run
  kFile,      // the existing file ProgramOptions::output_file, opened for writing
  kClosed,    // closed: the child's writes to it fail with EBADF
};

// How a child is set up; by default both streams are piped back and the
// child runs as the test does.
// Intentionally copyable.
struct ProgramOptions {
  ChildOutput output = ChildOutput::kPipe;
  std::string output_file;  // with ChildOutput::kFile
  // Standard error into standard output's stream, so that the order of the
  // two shows.
  bool merged = false;
  // When not -1: the child runs as this user and group, without
  // supplementary groups, or exits with kCannotSwitchUser.
  uid_t uid = static_cast<uid_t>(-1);
};

// What a finished child left.
// Intentionally copyable.
struct ProgramResult {
  int status = -1;  // exit status, 128 + signal when a signal ended it; -1 never started
  std::string out;  // standard output (with standard error when merged)
  std::string err;  // standard error; why the child never started when status is -1
  long max_resident_kb = 0;  // the most memory the child held resident
};

// One child process and what it prints.
class ProgramRun {
 public:
  // Starts `command` (an argument vector whose first element is an absolute
  // path; a program of the target machine goes through TargetCommand) set up
  // as `options` says.
  explicit ProgramRun(const std::vector<std::string>& command, const ProgramOptions& options = {});
  // Runs `body` in a forked copy of this process, set up as `options` says;
  // the child exits with what `body` returns, without running exit handlers.
  // What `body` writes to its standard streams comes back as output.
  explicit ProgramRun(const std::function<int()>& body, const ProgramOptions& options = {});
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;
  // Kills the child if it still runs and collects it.
  ~ProgramRun();

  // True when the child still runs after `milliseconds`.
  bool StillRunningAfter(int milliseconds);

  // Waits, without reading them, until output bytes wait in standard
  // output's stream (a child writing more than the pipe holds stays blocked
  // until Finish reads); false when none come before the deadline.
  bool WaitForUnreadOutput();

  // Reads both streams until standard output (or error) holds `text`; false
  // when the child closes them or the deadline passes first.
  bool WaitForOutput(const std::string& text);
  bool WaitForError(const std::string& text);

  // Sends `signal` to the child if it still runs.
  void Signal(int signal);

  // Reads both streams to their end and collects the child; kills a child
  // that has not finished by the deadline (a lock that is never granted).
  // Later calls return the same result.
  ProgramResult Finish();

 private:
  void Start(const std::vector<std::string>* command, const std::function<int()>* body,
             const ProgramOptions& options);
  bool ReadUntil(const std::string* sink, const std::string& text);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int raw_status_ = -1;
  bool finished_ = false;
  rusage usage_ = {};
  ProgramResult result_;
};

// Starts `command` as ProgramRun does and returns what it left.
ProgramResult RunProgram(const std::vector<std::string>& command,
                         const ProgramOptions& options = {});

// True when this machine can give a child a pseudo-terminal
// (ChildOutput::kTerminal); a test that needs one skips otherwise.
bool PseudoTerminalAvailable();

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_PROGRAM_RUN_H_
