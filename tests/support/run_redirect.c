// Stand-in for /run in test processes that cannot have a private mount
// namespace (a container whose seccomp profile forbids new namespaces, a
// chroot whose root is not a mount point). A test-only shared library: test
// programs link it, and the programs they start get it through LD_PRELOAD.
// Nothing that ships links or loads it.
//
// While the environment variable ISPUTILS_TEST_RUN_DIR names an absolute
// directory, every path given to the C library functions below that is
// "/run" or starts with "/run/" is taken as that directory instead, so the
// property store's fixed path "/run/camera/property_storage" becomes
// "$ISPUTILS_TEST_RUN_DIR/camera/property_storage" for the store, the tools
// and the tests alike, as a tmpfs mounted on /run would make it. The target
// of a symbolic link is rewritten the same way, so the kernel, following the
// link, reaches the stand-in too. A path that cannot be rewritten within
// PATH_MAX fails with ENAMETOOLONG; it never reaches the real /run. Without
// the variable every call goes straight to the C library.
//
// Only the spellings "/run" and "/run/..." are caught: "/var/run/...",
// "//run/..." or a relative path from inside /run reach the real directory.
// Tests name the store as the store does, by its one fixed path.
//
// Thread-safety: as the functions it stands in front of; the variable must
// not change while other threads make calls.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#define EXPORTED __attribute__((visibility("default")))

static const char kRun[] = "/run";
static const size_t kRunLength = sizeof(kRun) - 1;

// The directory standing in for /run, or NULL when nothing is redirected.
EXPORTED const char* isputils_test_run_dir(void) {
  const char* dir = getenv("ISPUTILS_TEST_RUN_DIR");
  return dir != NULL && dir[0] == '/' ? dir : NULL;
}

// Returns `path` itself, its redirected form written into `buffer`, or NULL
// (errno ENAMETOOLONG) when the redirected form does not fit.
static const char* Redirect(const char* path, char* buffer) {
  if (path == NULL || strncmp(path, kRun, kRunLength) != 0 ||
      (path[kRunLength] != '\0' && path[kRunLength] != '/')) {
    return path;
  }
  const char* dir = isputils_test_run_dir();
  if (dir == NULL) return path;
  const int length = snprintf(buffer, PATH_MAX, "%s%s", dir, path + kRunLength);
  if (length < 0 || length >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return NULL;
  }
  return buffer;
}

// The next definition of `name` after this library's (the C library's, or
// a sanitizer's in front of it), looked up once.
static void* Next(const char* name, void** cache) {
  void* function = __atomic_load_n(cache, __ATOMIC_ACQUIRE);
  if (function == NULL) {
    function = dlsym(RTLD_NEXT, name);
    __atomic_store_n(cache, function, __ATOMIC_RELEASE);
  }
  return function;
}

// Declares `next` as the next definition of `name`; when there is none,
// returns `failed` from the calling function with errno ENOSYS.
#define NEXT(next, name, failed)                                          \
  static void* name##_next_;                                              \
  __typeof__(&name) next = (__typeof__(&name))Next(#name, &name##_next_); \
  if (next == NULL) {                                                     \
    errno = ENOSYS;                                                       \
    return failed;                                                        \
  }

// Declares `out` as the redirected form of `path`; on failure returns
// `failed` from the calling function with errno set.
#define REDIRECT(out, path, failed)                \
  char out##_buffer_[PATH_MAX];                    \
  const char* out = Redirect(path, out##_buffer_); \
  if (out == NULL) return failed

// A function taking one path and other arguments passed on unchanged.
#define ONE_PATH(result, failed, name, params, path, ...) \
  EXPORTED result name params {                           \
    REDIRECT(redirected, path, failed);                   \
    NEXT(next, name, failed);                             \
    return next(__VA_ARGS__);                             \
  }

static mode_t ModeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(arguments, int) : 0;
}

// The open family: the mode argument follows the flags only when they
// create a file, and is passed on as the C library would read it.
#define OPEN(name, params, ...)                         \
  EXPORTED int name params {                            \
    va_list arguments;                                  \
    va_start(arguments, flags);                         \
    const mode_t mode = ModeArgument(flags, arguments); \
    va_end(arguments);                                  \
    REDIRECT(redirected, path, -1);                     \
    NEXT(next, name, -1);                               \
    return next(__VA_ARGS__);                           \
  }
OPEN(open, (const char* path, int flags, ...), redirected, flags, mode)
OPEN(open64, (const char* path, int flags, ...), redirected, flags, mode)
OPEN(openat, (int at, const char* path, int flags, ...), at, redirected, flags, mode)
OPEN(openat64, (int at, const char* path, int flags, ...), at, redirected, flags, mode)

// The checked forms that _FORTIFY_SOURCE builds call.
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int at, const char* path, int flags);
int __openat64_2(int at, const char* path, int flags);
ONE_PATH(int, -1, __open_2, (const char* path, int flags), path, redirected, flags)
ONE_PATH(int, -1, __open64_2, (const char* path, int flags), path, redirected, flags)
ONE_PATH(int, -1, __openat_2, (int at, const char* path, int flags), path, at, redirected, flags)
ONE_PATH(int, -1, __openat64_2, (int at, const char* path, int flags), path, at, redirected, flags)

ONE_PATH(int, -1, creat, (const char* path, mode_t mode), path, redirected, mode)
ONE_PATH(int, -1, creat64, (const char* path, mode_t mode), path, redirected, mode)
ONE_PATH(FILE*, NULL, fopen, (const char* path, const char* how), path, redirected, how)
ONE_PATH(FILE*, NULL, fopen64, (const char* path, const char* how), path, redirected, how)
ONE_PATH(FILE*, NULL, freopen, (const char* path, const char* how, FILE* stream), path, redirected,
         how, stream)
ONE_PATH(FILE*, NULL, freopen64, (const char* path, const char* how, FILE* stream), path,
         redirected, how, stream)
ONE_PATH(DIR*, NULL, opendir, (const char* path), path, redirected)

ONE_PATH(int, -1, stat, (const char* path, struct stat* info), path, redirected, info)
ONE_PATH(int, -1, stat64, (const char* path, struct stat64* info), path, redirected, info)
ONE_PATH(int, -1, lstat, (const char* path, struct stat* info), path, redirected, info)
ONE_PATH(int, -1, lstat64, (const char* path, struct stat64* info), path, redirected, info)
ONE_PATH(int, -1, fstatat, (int at, const char* path, struct stat* info, int flags), path, at,
         redirected, info, flags)
ONE_PATH(int, -1, fstatat64, (int at, const char* path, struct stat64* info, int flags), path, at,
         redirected, info, flags)
ONE_PATH(int, -1, statx,
         (int at, const char* path, int flags, unsigned int mask, struct statx* info), path, at,
         redirected, flags, mask, info)
ONE_PATH(int, -1, access, (const char* path, int how), path, redirected, how)
ONE_PATH(int, -1, faccessat, (int at, const char* path, int how, int flags), path, at, redirected,
         how, flags)
ONE_PATH(ssize_t, -1, readlink, (const char* path, char* buffer, size_t size), path, redirected,
         buffer, size)
ONE_PATH(ssize_t, -1, readlinkat, (int at, const char* path, char* buffer, size_t size), path, at,
         redirected, buffer, size)

ONE_PATH(int, -1, mkdir, (const char* path, mode_t mode), path, redirected, mode)
ONE_PATH(int, -1, mkdirat, (int at, const char* path, mode_t mode), path, at, redirected, mode)
ONE_PATH(int, -1, rmdir, (const char* path), path, redirected)
ONE_PATH(int, -1, unlink, (const char* path), path, redirected)
ONE_PATH(int, -1, unlinkat, (int at, const char* path, int flags), path, at, redirected, flags)
ONE_PATH(int, -1, remove, (const char* path), path, redirected)
ONE_PATH(int, -1, mkfifo, (const char* path, mode_t mode), path, redirected, mode)
ONE_PATH(int, -1, mkfifoat, (int at, const char* path, mode_t mode), path, at, redirected, mode)
ONE_PATH(int, -1, mknod, (const char* path, mode_t mode, dev_t device), path, redirected, mode,
         device)
ONE_PATH(int, -1, mknodat, (int at, const char* path, mode_t mode, dev_t device), path, at,
         redirected, mode, device)
ONE_PATH(int, -1, chmod, (const char* path, mode_t mode), path, redirected, mode)
ONE_PATH(int, -1, fchmodat, (int at, const char* path, mode_t mode, int flags), path, at,
         redirected, mode, flags)
ONE_PATH(int, -1, chown, (const char* path, uid_t owner, gid_t group), path, redirected, owner,
         group)
ONE_PATH(int, -1, lchown, (const char* path, uid_t owner, gid_t group), path, redirected, owner,
         group)
ONE_PATH(int, -1, fchownat, (int at, const char* path, uid_t owner, gid_t group, int flags), path,
         at, redirected, owner, group, flags)
ONE_PATH(int, -1, truncate, (const char* path, off_t size), path, redirected, size)
ONE_PATH(int, -1, truncate64, (const char* path, off64_t size), path, redirected, size)
// camprop watch wakes on changes of /run/camera (and of /run while that is
// missing).
ONE_PATH(int, -1, inotify_add_watch, (int fd, const char* path, uint32_t mask), path, fd,
         redirected, mask)
ONE_PATH(int, -1, statvfs, (const char* path, struct statvfs* info), path, redirected, info)
ONE_PATH(int, -1, statvfs64, (const char* path, struct statvfs64* info), path, redirected, info)
ONE_PATH(int, -1, utimensat, (int at, const char* path, const struct timespec times[2], int flags),
         path, at, redirected, times, flags)

// Functions of two paths: both are redirected.
#define TWO_PATHS(name, params, from, to, ...) \
  EXPORTED int name params {                   \
    REDIRECT(from_redirected, from, -1);       \
    REDIRECT(to_redirected, to, -1);           \
    NEXT(next, name, -1);                      \
    return next(__VA_ARGS__);                  \
  }
TWO_PATHS(rename, (const char* from, const char* to), from, to, from_redirected, to_redirected)
TWO_PATHS(renameat, (int from_at, const char* from, int to_at, const char* to), from, to, from_at,
          from_redirected, to_at, to_redirected)
TWO_PATHS(renameat2, (int from_at, const char* from, int to_at, const char* to, unsigned int flags),
          from, to, from_at, from_redirected, to_at, to_redirected, flags)
TWO_PATHS(link, (const char* from, const char* to), from, to, from_redirected, to_redirected)
TWO_PATHS(linkat, (int from_at, const char* from, int to_at, const char* to, int flags), from, to,
          from_at, from_redirected, to_at, to_redirected, flags)
// The target is stored in the link and read by the kernel when the link is
// followed; the redirect has to be written into it.
TWO_PATHS(symlink, (const char* target, const char* path), target, path, from_redirected,
          to_redirected)
TWO_PATHS(symlinkat, (const char* target, int at, const char* path), target, path, from_redirected,
          at, to_redirected)
