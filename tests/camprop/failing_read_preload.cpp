// Preloaded into camprop by its tests (LD_PRELOAD) to make the kernel refuse
// what it rarely refuses on demand:
//  - CAMPROP_TEST_FAILING_READ=N makes the N-th pread of the storage file in
//    the process fail with EIO; every other read goes through;
//  - CAMPROP_TEST_FAILING_WATCH=E makes every inotify watch of /run/camera
//    fail with errno E (ENOSPC: the watch limit is reached), as a machine
//    short of watches would;
//  - CAMPROP_TEST_SHORT_WRITE=1 makes every pwrite to the storage file write
//    half its bytes, as on a full disk.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

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

}  // namespace

INTERPOSE_WITH_TWIN(ssize_t, pread, (int fd, void* buffer, size_t count, off_t offset),
                    { return InterposedPread(fd, buffer, count, offset); })
INTERPOSE_WITH_TWIN(ssize_t, pwrite, (int fd, const void* buffer, size_t count, off_t offset),
                    { return InterposedPwrite(fd, buffer, count, offset); })
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
