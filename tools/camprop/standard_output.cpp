// Checking that what the tool printed was written.
#include "tools/camprop/standard_output.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "tools/camprop/commands.h"

namespace camprop {
namespace {

int gOutputError = 0;  // errno of the first failed write to stdout

}  // namespace

void ProtectStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one, as the lower ones
    // are open by now.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
}

bool OutputFailed() {
  if (ferror(stdout) == 0) return false;
  // The write that failed has just set errno; later calls keep the first.
  if (gOutputError == 0) gOutputError = errno != 0 ? errno : EIO;
  return true;
}

int FinishStandardOutput(int status) {
  OutputFailed();
  errno = 0;
  if (fclose(stdout) != 0 && gOutputError == 0) gOutputError = errno != 0 ? errno : EIO;
  if (gOutputError == 0) return status;
  // Not Complain(): it flushes stdout, which is closed now.
  fprintf(stderr, "camprop: cannot write to standard output: %s\n", strerror(gOutputError));
  return status == kExitOk ? kExitFailed : status;
}

}  // namespace camprop
