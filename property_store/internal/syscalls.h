// The C-library calls the store engine makes, in one table, so that a test
// can replace one of them (a read that fails, a disk that is full, a lock
// wait cut short, a clock that runs ahead) for one store without touching
// the rest of the process. SQLite's os_unix.c keeps its calls the same way.
// The engine makes no other call on the storage file; the tools that keep
// files beside the store (camprop's saved settings) make theirs through the
// same table, so that one seam reaches every file the store's clients write.
//
// Thread-safety: the table is read-only; kSystemCalls may be used from any
// thread, and a test's table is as thread-safe as its entries.
#ifndef PROPERTY_STORE_INTERNAL_SYSCALLS_H_
#define PROPERTY_STORE_INTERNAL_SYSCALLS_H_

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace propstore {

// Each entry takes and returns what the C-library function of its name
// does, errno included; `open` always takes a mode (ignored unless the
// flags create a file), `lock` is fcntl(2) with a struct flock, and
// `now_ns` reads CLOCK_MONOTONIC in nanoseconds.
struct Syscalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* info);
  int (*lstat)(const char* path, struct stat* info);
  int (*stat)(const char* path, struct stat* info);
  int (*access)(const char* path, int mode);
  int (*flock)(int fd, int operation);
  int (*lock)(int fd, int command, struct flock* range);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*mkostemp)(char* name, int flags);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*fallocate)(int fd, int mode, off_t offset, off_t length);
  void* (*malloc)(size_t size);
  void (*free)(void* pointer);
  int64_t (*now_ns)();
  void (*sleep_ns)(int64_t nanoseconds);
  int (*inotify_add_watch)(int fd, const char* path, uint32_t mask);
  off_t (*lseek)(int fd, off_t offset, int whence);
};

// The C library's own calls.
extern const Syscalls kSystemCalls;

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_SYSCALLS_H_
