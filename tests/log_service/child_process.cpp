// Runs one scenario in a forked child with a fresh platform log level.
#include "tests/log_service/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include "propstore/properties.h"
#include "tests/support/private_run.h"

namespace isputils_test {

namespace {

constexpr char kLevelKey[] = "persist.qvx.camera.log_level";

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string RunWithLevelProperty(const char* level_property,
                                 const std::function<std::string()>& scenario) {
  ResetStore();
  if (level_property != nullptr && property_set(kLevelKey, level_property) != 0) {
    return "<child failed: cannot store the level property>";
  }
  int fds[2];
  if (pipe(fds) != 0) return "<child failed: pipe>";
  pid_t pid = fork();
  if (pid < 0) return "<child failed: fork>";
  if (pid == 0) {
    close(fds[0]);
    WriteAll(fds[1], scenario());
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string result;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof(chunk))) > 0) {
    result.append(chunk, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "<child failed: status " + std::to_string(status) + ">";
  }
  return result;
}

}  // namespace isputils_test
