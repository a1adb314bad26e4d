// The store engine's table of C-library calls (property_store/internal/
// syscalls.h) with a hook in front of each, so that a test can make the
// system do what it rarely does on demand (a read that fails part-way, a
// full disk, a lock wait cut short, a clock that runs ahead, a kill at the
// k-th call) for the stores it opens with table(), and for camprop's files,
// and nothing else in the process. `before` sees every call by name; a hook
// of a call that is not set goes straight to the C library, one that is set
// decides alone and may call propstore::kSystemCalls to go on.
//
// Thread-safety: one instance at a time in a process (its table's calls
// find it through a global). Set hooks before the calls they concern run;
// the calls may come from any thread.
#ifndef TESTS_SUPPORT_HOOKED_CALLS_H_
#define TESTS_SUPPORT_HOOKED_CALLS_H_

#include <errno.h>

#include <functional>

#include "property_store/internal/syscalls.h"

// Every call of the table: its name, its result and its parameters, in the
// table's order.
#define ISPUTILS_HOOKED_CALLS(X)                                              \
  X(open, int, (const char* path, int flags, mode_t mode), (path, flags, mode)) \
  X(close, int, (int fd), (fd))                                               \
  X(fstat, int, (int fd, struct stat* info), (fd, info))                     \
  X(lstat, int, (const char* path, struct stat* info), (path, info))         \
  X(stat, int, (const char* path, struct stat* info), (path, info))          \
  X(access, int, (const char* path, int mode), (path, mode))                 \
  X(flock, int, (int fd, int operation), (fd, operation))                    \
  X(lock, int, (int fd, int command, struct flock* range), (fd, command, range)) \
  X(read, ssize_t, (int fd, void* buffer, size_t count), (fd, buffer, count)) \
  X(write, ssize_t, (int fd, const void* buffer, size_t count), (fd, buffer, count)) \
  X(pread, ssize_t, (int fd, void* buffer, size_t count, off_t offset),     \
    (fd, buffer, count, offset))                                              \
  X(pwrite, ssize_t, (int fd, const void* buffer, size_t count, off_t offset), \
    (fd, buffer, count, offset))                                              \
  X(ftruncate, int, (int fd, off_t length), (fd, length))                    \
  X(fsync, int, (int fd), (fd))                                               \
  X(fchmod, int, (int fd, mode_t mode), (fd, mode))                          \
  X(fchown, int, (int fd, uid_t owner, gid_t group), (fd, owner, group))     \
  X(mkostemp, int, (char* name, int flags), (name, flags))                   \
  X(rename, int, (const char* from, const char* to), (from, to))             \
  X(unlink, int, (const char* path), (path))                                 \
  X(fallocate, int, (int fd, int mode, off_t offset, off_t length),          \
    (fd, mode, offset, length))                                               \
  X(malloc, void*, (size_t size), (size))                                    \
  X(free, void, (void* pointer), (pointer))                                  \
  X(now_ns, int64_t, (), ())                                                 \
  X(sleep_ns, void, (int64_t nanoseconds), (nanoseconds))                    \
  X(inotify_add_watch, int, (int fd, const char* path, uint32_t mask), (fd, path, mask)) \
  X(lseek, off_t, (int fd, off_t offset, int whence), (fd, offset, whence))

namespace isputils_test {

// Intentionally neither copyable nor movable: its table refers to it.
class HookedCalls {
 public:
  HookedCalls();
  ~HookedCalls();
  HookedCalls(const HookedCalls&) = delete;
  HookedCalls& operator=(const HookedCalls&) = delete;

  // The table to open stores with.
  const propstore::Syscalls& table() const;

  // Runs before every call, with the call's name ("open", "pwrite").
  std::function<void(const char* call)> before;
#define ISPUTILS_HOOK_MEMBER(name, result, params, args) std::function<result params> name;
  ISPUTILS_HOOKED_CALLS(ISPUTILS_HOOK_MEMBER)
#undef ISPUTILS_HOOK_MEMBER
};

// A pread hook that counts its calls in *reads and fails the call numbered
// `fail_at` (from 1; 0 fails none) with `error`; every other call goes to
// the C library. *reads must outlive the hook.
std::function<ssize_t(int, void*, size_t, off_t)> CountedPread(int* reads, int fail_at = 0,
                                                               int error = EIO);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_HOOKED_CALLS_H_
