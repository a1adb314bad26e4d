// Preloaded into camprop by its tests (LD_PRELOAD) to make the kernel refuse
// what it rarely refuses on demand:
//  - CAMPROP_TEST_FAILING_READ=N makes the N-th pread of the storage file in
//    the process fail with EIO; every other read goes through;
//  - CAMPROP_TEST_FAILING_WATCH=E makes every inotify watch of /run/camera
//    fail with errno E (ENOSPC: the watch limit is reached), as a machine
//    short of watches would;
//  - CAMPROP_TEST_SHORT_WRITE=1 makes every pwrite to the storage file write
//    half its bytes, as on a full disk;
//  - CAMPROP_TEST_FULL_DISK=1 makes every write to another regular file (a
//    saved file being replaced) fail with ENOSPC;
//  - CAMPROP_TEST_SAVE_TRACE=PATH appends to PATH, one line each, the steps
//    that make a replaced file last: "write" and "fsync file" of a regular
//    file, "rename", "fsync directory".
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tests/support/interposition.h"

namespace {

using isputils_test::IsStorageFile;

int gStoreReads = 0;

int Setting(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? 0 : atoi(value);
}

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  const int failing = Setting("CAMPROP_TEST_FAILING_READ");
  if (failing != 0 && IsStorageFile(fd) && ++gStoreReads == failing) {
    errno = EIO;
    return -1;
  }
  return isputils_test::KernelPread(fd, buffer, count, offset);
}

ssize_t InterposedPwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (Setting("CAMPROP_TEST_SHORT_WRITE") != 0 && IsStorageFile(fd)) count /= 2;
  return isputils_test::KernelPwrite(fd, buffer, count, offset);
}

// Appends `step` as a line to the trace file, if one is asked for. Straight
// to the kernel, past every definition of open and write.
void Trace(const char* step) {
  const char* path = getenv("CAMPROP_TEST_SAVE_TRACE");
  if (path == nullptr || path[0] == '\0') return;
  const int fd = static_cast<int>(
      syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd < 0) return;
  char line[64];
  const int length = snprintf(line, sizeof(line), "%s\n", step);
  if (syscall(SYS_write, fd, line, static_cast<size_t>(length)) < 0) {
    // The trace then lacks the line, and the test says so.
  }
  syscall(SYS_close, fd);
}

// A regular file other than the store: a file the tool writes whole.
bool IsOtherRegularFile(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && !IsStorageFile(fd);
}

template <typename Function>
Function Next(const char* name) {
  return isputils_test::NextDefinition<Function>(name);
}

}  // namespace

INTERPOSE_WITH_TWIN(ssize_t, pread, (int fd, void* buffer, size_t count, off_t offset),
                    { return InterposedPread(fd, buffer, count, offset); })
INTERPOSE_WITH_TWIN(ssize_t, pwrite, (int fd, const void* buffer, size_t count, off_t offset),
                    { return InterposedPwrite(fd, buffer, count, offset); })
INTERPOSED ssize_t write(int fd, const void* buffer, size_t count) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > STDERR_FILENO && IsOtherRegularFile(fd)) {
    Trace("write");
    if (Setting("CAMPROP_TEST_FULL_DISK") != 0) {
      errno = ENOSPC;
      return -1;
    }
  }
  return next(fd, buffer, count);
}
INTERPOSED int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    Trace("fsync directory");
  } else if (IsOtherRegularFile(fd)) {
    Trace("fsync file");
  }
  return next(fd);
}
INTERPOSED int rename(const char* from, const char* to) {
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  Trace("rename");
  return next(from, to);
}
INTERPOSED int inotify_add_watch(int fd, const char* path, uint32_t mask) {
  const int failing = Setting("CAMPROP_TEST_FAILING_WATCH");
  if (failing != 0 && strcmp(path, propstore::kStorageDir) == 0) {
    errno = failing;
    return -1;
  }
  // The next in line: the stand-in for /run where there is one, else the C
  // library.
  using AddWatch = int (*)(int, const char*, uint32_t);
  static const auto next = isputils_test::NextDefinition<AddWatch>("inotify_add_watch");
  return next(fd, path, mask);
}
