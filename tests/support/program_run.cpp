// Child processes of the tests: started with fork (and exec), read through
// poll with a deadline, collected with wait4 for their peak memory.
#include "tests/support/program_run.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/target_program.h"

namespace isputils_test {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline() { return Clock::now() + std::chrono::seconds(kProgramRunTimeoutSeconds); }

void CloseIfOpen(int fd) {
  if (fd >= 0) close(fd);
}

// Opens a pseudo-terminal in raw mode, so bytes pass as written. Returns
// false, with neither end left open, when the machine has none to give.
bool OpenTerminal(int* controller, int* terminal) {
  *terminal = -1;
  *controller = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*controller >= 0 && grantpt(*controller) == 0 && unlockpt(*controller) == 0) {
    *terminal = open(ptsname(*controller), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  termios mode;
  if (*terminal >= 0 && tcgetattr(*terminal, &mode) == 0) {
    cfmakeraw(&mode);
    if (tcsetattr(*terminal, TCSANOW, &mode) == 0) return true;
  }
  CloseIfOpen(*controller);
  CloseIfOpen(*terminal);
  return false;
}

// The child's side, between fork and exec (or the body): its streams, its
// environment, its user. `out` and `err` are the pipes' read and write ends.
[[noreturn]] void BecomeChild(const int out[2], const int err[2], const ProgramOptions& options,
                              char* const* argv, const std::function<int()>* body) {
  dup2(out[1], STDOUT_FILENO);
  dup2(options.merged ? out[1] : err[1], STDERR_FILENO);
  // A forked body keeps its descriptors: its own copies of the write ends
  // would hold its streams open after it had closed them.
  for (int fd : {out[0], out[1], err[0], err[1]}) {
    if (fd > STDERR_FILENO) close(fd);
  }
  if (options.output == ChildOutput::kClosed) {
    close(STDOUT_FILENO);
  } else if (options.output == ChildOutput::kFile) {
    const int fd = open(options.output_file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(kCannotStartProgram);
    close(fd);
  }
  if (options.uid != static_cast<uid_t>(-1) &&
      (setgroups(0, nullptr) != 0 || setresgid(options.uid, options.uid, options.uid) != 0 ||
       setresuid(options.uid, options.uid, options.uid) != 0)) {
    _exit(kCannotSwitchUser);
  }
  if (body != nullptr) {
    const int status = (*body)();
    // What the body printed through stdio; _exit skips the flush that exit
    // would do, and the test's own exit handlers must not run here.
    fflush(stdout);
    fflush(stderr);
    _exit(status);
  }
  execv(argv[0], argv);
  _exit(kCannotStartProgram);
}

}  // namespace

ProgramRun::ProgramRun(const std::vector<std::string>& command, const ProgramOptions& options) {
  Start(&command, nullptr, options);
}

ProgramRun::ProgramRun(const std::function<int()>& body, const ProgramOptions& options) {
  Start(nullptr, &body, options);
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0) {
    if (raw_status_ == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  CloseIfOpen(out_fd_);
  CloseIfOpen(err_fd_);
}

void ProgramRun::Start(const std::vector<std::string>* command, const std::function<int()>* body,
                       const ProgramOptions& options) {
  // Made before the fork, so that the child allocates nothing on its way to
  // exec.
  std::vector<char*> argv;
  if (command != nullptr) {
    for (const std::string& part : *command) argv.push_back(const_cast<char*>(part.c_str()));
  }
  argv.push_back(nullptr);
  if (command != nullptr && command->empty()) {
    result_.err = "cannot start: no command";
    return;
  }
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  const bool terminal = options.output == ChildOutput::kTerminal;
  if (!(terminal ? OpenTerminal(&out[0], &out[1]) : pipe2(out, O_CLOEXEC) == 0) ||
      pipe2(err, O_CLOEXEC) != 0) {
    result_.err = std::string("cannot start: no ") + (terminal ? "pseudo-terminal" : "pipe") +
                  ": " + strerror(errno);
    for (int fd : out) CloseIfOpen(fd);
    return;
  }
  // Else a forked body would write the test's pending output a second time.
  fflush(stdout);
  fflush(stderr);
  pid_ = fork();
  if (pid_ == 0) BecomeChild(out, err, options, argv.data(), body);
  close(out[1]);
  close(err[1]);
  if (pid_ < 0) {
    result_.err = std::string("cannot start: fork: ") + strerror(errno);
    close(out[0]);
    close(err[0]);
    return;
  }
  out_fd_ = out[0];
  err_fd_ = err[0];
}

bool ProgramRun::StillRunningAfter(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  if (pid_ <= 0 || raw_status_ != -1) return false;
  int status = 0;
  const pid_t ended = wait4(pid_, &status, WNOHANG, &usage_);
  if (ended == pid_) raw_status_ = status;
  return ended == 0;
}

bool ProgramRun::WaitForUnreadOutput() {
  if (out_fd_ < 0) return false;
  const auto deadline = Deadline();
  int pending = 0;
  while (ioctl(out_fd_, FIONREAD, &pending) == 0 && pending == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pending > 0;
}

bool ProgramRun::WaitForOutput(const std::string& text) { return ReadUntil(&result_.out, text); }

bool ProgramRun::WaitForError(const std::string& text) { return ReadUntil(&result_.err, text); }

void ProgramRun::Signal(int signal) {
  if (pid_ > 0 && raw_status_ == -1) kill(pid_, signal);
}

ProgramResult ProgramRun::Finish() {
  if (finished_ || pid_ < 0) return result_;
  finished_ = true;
  if (!ReadUntil(nullptr, "")) kill(pid_, SIGKILL);
  while (raw_status_ == -1 && wait4(pid_, &raw_status_, 0, &usage_) < 0 && errno == EINTR) {
    raw_status_ = -1;
  }
  if (raw_status_ == -1) {
    result_.err += "<the child could not be collected>";
  } else {
    result_.status = WIFEXITED(raw_status_) ? WEXITSTATUS(raw_status_) : 128 + WTERMSIG(raw_status_);
  }
  result_.max_resident_kb = usage_.ru_maxrss;
  return result_;
}

// Reads both streams until *sink holds `text` (true), or until both are
// closed (true when `sink` is null) or the deadline has passed.
bool ProgramRun::ReadUntil(const std::string* sink, const std::string& text) {
  const auto deadline = Deadline();
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  std::string* sinks[2] = {&result_.out, &result_.err};
  for (;;) {
    if (sink != nullptr && sink->find(text) != std::string::npos) return true;
    if (fds[0].fd < 0 && fds[1].fd < 0) return sink == nullptr;
    if (Clock::now() >= deadline) return false;
    if (poll(fds, 2, 100) <= 0) continue;
    for (pollfd& stream : fds) {
      if (stream.fd < 0 || stream.revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(stream.fd, chunk, sizeof(chunk));
      if (got > 0) {
        sinks[&stream - fds]->append(chunk, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        stream.fd = -1;  // end of file, or a terminal hung up (EIO)
      }
    }
  }
}

ProgramResult RunProgram(const std::vector<std::string>& command, const ProgramOptions& options) {
  return ProgramRun(command, options).Finish();
}

bool PseudoTerminalAvailable() {
  int controller, terminal;
  if (!OpenTerminal(&controller, &terminal)) return false;
  close(controller);
  close(terminal);
  return true;
}

}  // namespace isputils_test
