// Runs one command with the property store kept to itself, the way every
// test program keeps it: in a private mount namespace with a tmpfs of its
// own on /run where one can be had; otherwise (a container that forbids
// namespaces, a chroot whose root is not a mount point) with a private
// directory standing in for /run, whose redirect library the command and
// its children preload. Refuses to run when neither works: the machine's
// /run is never used. The scripts (the demo, the chroot and consumer
// checks) and the README's example check start programs through it.
//
//   private_run COMMAND [ARG...]
//
// Exits with the command's status (128 + the signal that ended it), 127
// when it cannot be started, 1 when the store cannot be isolated. Says on
// standard error which isolation it used, unless it is the namespace.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/private_run.h"
#include "tests/support/redirected_run.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: private_run COMMAND [ARG...]\n");
    return 2;
  }
  std::string no_namespace;
  if (!isputils_test::EnterPrivateRun(&no_namespace)) {
    std::string error;
    const std::string dir = isputils_test::EnterRedirectedRun(&error);
    if (dir.empty()) {
      fprintf(stderr,
              "private_run: no private mount namespace (%s), and no stand-in for /run (%s); "
              "not running against the machine's /run\n",
              no_namespace.c_str(), error.c_str());
      return 1;
    }
    fprintf(stderr, "private_run: no private mount namespace (%s); /run redirected to %s\n",
            no_namespace.c_str(), dir.c_str());
  }
  // A child, not exec: the stand-in directory is removed when this process
  // exits, after the command.
  fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    perror("private_run: fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    fprintf(stderr, "private_run: cannot run %s: %s\n", argv[1], strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      perror("private_run: waitpid");
      return 1;
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
