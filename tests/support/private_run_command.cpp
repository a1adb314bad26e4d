// Runs one command with the property store kept to itself, the way the
// test programs of the store's fixed path keep it: in a private mount
// namespace with a tmpfs of its own on /run. The scripts (the demo, the
// chroot and consumer checks), the README's example check and the check of
// the guides' commands start programs through it.
//
//   private_run COMMAND [ARG...]
//
// Exits with the command's status; 127 when it cannot be started; 77 (the
// code ctest and automake take for "skipped") when no private /run can be
// had, after saying why: the machine's /run is never used.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "tests/support/private_run.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: private_run COMMAND [ARG...]\n");
    return 2;
  }
  std::string error;
  if (!isputils_test::EnterPrivateRun(&error)) {
    fprintf(stderr, "private_run: no private /run can be had here (%s); not running against "
            "the machine's /run\n", error.c_str());
    return 77;
  }
  execvp(argv[1], argv + 1);
  fprintf(stderr, "private_run: cannot run %s: %s\n", argv[1], strerror(errno));
  return 127;
}
