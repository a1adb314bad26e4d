// Preloaded into camprop by its tests (LD_PRELOAD) to make the kernel refuse
// what it rarely refuses on demand:
//  - CAMPROP_TEST_FAILING_READ=N makes the N-th pread of the storage file in
//    the process fail with EIO; every other read goes through;
//  - CAMPROP_TEST_FAILING_WATCH=E makes every inotify watch of /run/camera
//    fail with errno E (ENOSPC: the watch limit is reached), as a machine
//    short of watches would;
//  - CAMPROP_TEST_SHORT_WRITE=1 makes every pwrite to the storage file write
//    half its bytes, as on a full disk.
#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char kStorageDir[] = "/run/camera";
constexpr char kStoragePath[] = "/run/camera/property_storage";

int gStoreReads = 0;

int Setting(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? 0 : atoi(value);
}

bool IsStorageFile(int fd) {
  struct stat file, path;
  return fstat(fd, &file) == 0 && lstat(kStoragePath, &path) == 0 &&
         file.st_dev == path.st_dev && file.st_ino == path.st_ino;
}

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  const int failing = Setting("CAMPROP_TEST_FAILING_READ");
  if (failing != 0 && IsStorageFile(fd) && ++gStoreReads == failing) {
    errno = EIO;
    return -1;
  }
  return syscall(SYS_pread64, fd, buffer, count, offset);
}

ssize_t InterposedPwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (Setting("CAMPROP_TEST_SHORT_WRITE") != 0 && IsStorageFile(fd)) count /= 2;
  return syscall(SYS_pwrite64, fd, buffer, count, offset);
}

}  // namespace

#define INTERPOSED extern "C" __attribute__((visibility("default")))
INTERPOSED ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return InterposedPread(fd, buffer, count, offset);
}
INTERPOSED ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return InterposedPread(fd, buffer, count, offset);
}
INTERPOSED ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
  return InterposedPwrite(fd, buffer, count, offset);
}
INTERPOSED ssize_t pwrite64(int fd, const void* buffer, size_t count, off_t offset) {
  return InterposedPwrite(fd, buffer, count, offset);
}
INTERPOSED int inotify_add_watch(int fd, const char* path, uint32_t mask) {
  const int failing = Setting("CAMPROP_TEST_FAILING_WATCH");
  if (failing != 0 && strcmp(path, kStorageDir) == 0) {
    errno = failing;
    return -1;
  }
  // The next in line: the stand-in for /run where there is one, else the C
  // library.
  using AddWatch = int (*)(int, const char*, uint32_t);
  static const auto next = reinterpret_cast<AddWatch>(dlsym(RTLD_NEXT, "inotify_add_watch"));
  return next(fd, path, mask);
}
