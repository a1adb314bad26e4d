// The table of the C library's own calls.
#include "property_store/internal/syscalls.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

namespace propstore {
namespace {

int Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int Lock(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepNs(int64_t nanoseconds) {
  timespec wait = {static_cast<time_t>(nanoseconds / 1000000000),
                   static_cast<long>(nanoseconds % 1000000000)};
  // A signal cuts the sleep short; the caller looks at the clock anyway.
  nanosleep(&wait, nullptr);
}

}  // namespace

const Syscalls kSystemCalls = {
    Open,        ::close,     ::fstat,   ::lstat,  ::stat,     ::access,   ::flock,
    Lock,        ::read,      ::write,   ::pread,  ::pwrite,   ::ftruncate, ::fsync,
    ::fchmod,    ::fchown,    ::mkostemp, ::rename, ::unlink,  ::fallocate, ::malloc,
    ::free,      NowNs,       SleepNs,   ::inotify_add_watch, ::lseek,
};

}  // namespace propstore
