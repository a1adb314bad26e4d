// Preloaded into camprop by its tests (LD_PRELOAD) to make a read of the
// storage file fail part-way through a scan, or a write to it stop short as
// on a full disk, which the kernel rarely does on demand.
// CAMPROP_TEST_FAILING_READ=N makes the N-th pread of the storage file in
// the process fail with EIO; every other read goes through.
// CAMPROP_TEST_SHORT_WRITE set makes every pwrite to it write half its bytes.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char kStoragePath[] = "/run/camera/property_storage";

int gStoreReads = 0;

bool IsStorageFile(int fd) {
  struct stat file, path;
  return fstat(fd, &file) == 0 && lstat(kStoragePath, &path) == 0 &&
         file.st_dev == path.st_dev && file.st_ino == path.st_ino;
}

ssize_t InterposedPread(int fd, void* buffer, size_t count, off_t offset) {
  const char* failing = getenv("CAMPROP_TEST_FAILING_READ");
  if (failing != nullptr && IsStorageFile(fd) && ++gStoreReads == atoi(failing)) {
    errno = EIO;
    return -1;
  }
  return syscall(SYS_pread64, fd, buffer, count, offset);
}

ssize_t InterposedPwrite(int fd, const void* buffer, size_t count, off_t offset) {
  if (getenv("CAMPROP_TEST_SHORT_WRITE") != nullptr && IsStorageFile(fd)) count /= 2;
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
