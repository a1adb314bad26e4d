// Replacing a C-library call (or one of the C++ runtime's), so that a test
// can make the system refuse what it rarely refuses on demand (a failed
// read, a full disk, a lock wait cut short, no memory). A test program replaces a function by defining it: the
// dynamic linker then binds the libraries' calls to that definition. A
// test-only library preloaded into a program that a test starts does the
// same for that program (isputils_add_preload_library in
// cmake/IspUtilsHelpers.cmake builds one). What every replacement needs is
// here: the exported definition, of a function and its large-file twin
// alike; the test whether a descriptor is the storage file; and the way on,
// to the definition replaced or straight to the kernel.
//
// The store's scanner (property_store/internal/record_scanner.h) lists the
// replacements that depend on which calls it makes.
//
// Thread-safety: the helpers keep no state; a replacement's own settings
// are its own affair.
#ifndef TESTS_SUPPORT_INTERPOSITION_H_
#define TESTS_SUPPORT_INTERPOSITION_H_

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "property_store/internal/storage_path.h"

// Begins the definition of a replacement: C linkage, and exported even
// where the program or library hides its symbols, or the dynamic linker
// would keep binding the libraries to the C library's own definition.
#define INTERPOSED extern "C" __attribute__((visibility("default")))

// Defines the C-library function `name` and its large-file twin `name`64
// alike, each with the parameters `params` and the body `body` (a braced
// block, its commas inside parentheses). The C library exports both under their own names, and which one
// a caller reaches depends on how the caller was built: a replacement of
// one alone would miss some of them.
#define INTERPOSE_WITH_TWIN(result, name, params, body) \
  INTERPOSED result name params body                    \
  INTERPOSED result name##64 params body

// Defines open and open64 alike: each reads the mode argument as the C
// library does (it follows the flags only when they create a file) and
// returns handler(path, flags, mode).
#define INTERPOSE_OPEN_WITH_TWIN(handler)                                   \
  INTERPOSE_WITH_TWIN(int, open, (const char* path, int flags, ...), {      \
    va_list arguments;                                                      \
    va_start(arguments, flags);                                             \
    const mode_t mode = isputils_test::OpenModeArgument(flags, arguments); \
    va_end(arguments);                                                      \
    return handler(path, flags, mode);                                      \
  })

namespace isputils_test {

// The mode argument of an open call with `flags`, read from `arguments`
// (positioned after the flags); 0 when the flags create nothing.
inline mode_t OpenModeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// True when `fd` is open on the file that is at the store's path now.
// Compared by device and inode, since the store reads and writes through
// descriptors only; a file replaced or removed since it was opened is no
// longer the storage file.
inline bool IsStorageFile(int fd) {
  struct stat file, path;
  return fstat(fd, &file) == 0 && lstat(propstore::kStoragePath, &path) == 0 &&
         file.st_dev == path.st_dev && file.st_ino == path.st_ino;
}

// The definition of `name` that follows the caller's in the dynamic
// linker's order: the stand-in for /run where the tests run with one
// (a call that takes a path must pass through it), a sanitizer's, or the
// system library's own. Null when there is none. Look it up once, into a
// static.
template <typename Function>
Function NextDefinition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The kernel's own calls, past every definition of the function (the
// replacement's own included). For calls on a descriptor, which the
// stand-in for /run has no need to see.
inline ssize_t KernelPread(int fd, void* buffer, size_t count, off_t offset) {
  return syscall(SYS_pread64, fd, buffer, count, offset);
}
inline ssize_t KernelPwrite(int fd, const void* buffer, size_t count, off_t offset) {
  return syscall(SYS_pwrite64, fd, buffer, count, offset);
}
inline int KernelFlock(int fd, int operation) {
  return static_cast<int>(syscall(SYS_flock, fd, operation));
}

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_INTERPOSITION_H_
