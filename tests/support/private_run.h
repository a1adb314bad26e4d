// Test isolation for everything that touches the property storage file.
//
// The store's path, "/run/camera/property_storage", is fixed and nothing that
// ships can change it. Where it can, each test process moves into a private
// mount namespace with a tmpfs of its own on /run (and a user namespace when
// not root): the real path is exercised and the machine's /run/camera is
// never seen. Where no namespace can be had (a container whose seccomp
// profile forbids them, a chroot whose root is not a mount point), the test
// programs instead see a private directory in place of /run through their C
// library calls (redirected_run.h); nothing can be mounted there, so the
// tests that need file systems of their own skip.
//
// Thread-safety: EnterPrivateRun must run before any thread is started; the
// other helpers are for the test's main thread.
#ifndef TESTS_SUPPORT_PRIVATE_RUN_H_
#define TESTS_SUPPORT_PRIVATE_RUN_H_

#include <string>

#include "property_store/internal/storage_path.h"

namespace isputils_test {

// The store's fixed directory and file, as the store itself names them;
// inside the private /run they are the test's own.
using propstore::kStorageDir;
using propstore::kStoragePath;

// The environment variables that carry the isolation to child processes:
// set to "1" in a private mount namespace; the directory standing in for
// /run when redirected (read by run_redirect.c).
inline constexpr char kPrivateRunMarkerEnv[] = "ISPUTILS_PRIVATE_RUN";
inline constexpr char kRunDirEnv[] = "ISPUTILS_TEST_RUN_DIR";

// Moves this process into a private mount namespace with a fresh tmpfs on
// /run holding an empty directory /run/camera. Returns false, with the reason
// in *error, when no namespace can be made; callers must then fail loudly or
// fall back to EnterRedirectedRun, never to the real /run.
bool EnterPrivateRun(std::string* error);

// True once EnterPrivateRun has succeeded in this process (or an ancestor).
bool InPrivateRun();

// How the store is kept private in this process.
enum class StoreIsolation {
  kNone,            // not at all: the helpers below refuse to run
  kMountNamespace,  // a private mount namespace with a tmpfs on /run
  kRedirected,      // a private directory standing in for /run (redirected_run.h)
};
StoreIsolation CurrentStoreIsolation();

// Null when MountStoreFilesystem can work here; otherwise the reason it
// cannot, for a test that needs it to skip with:
//   if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
const char* StoreMountsUnavailable();

// The path under which the kernel finds `path`, a path under /run: itself
// in a private mount namespace, its place in the stand-in directory when
// redirected. For what the redirect does not cover, such as the program
// path given to exec.
std::string KernelPath(const std::string& path);

// Copies `file` into the private /run with mode 0755 and returns the
// kernel's path of the copy (see KernelPath), or "" on failure. Lets a
// child that drops to another user run a program of the build tree, which
// may lie in a directory that only its owner can enter.
std::string CopyIntoPrivateRun(const std::string& file);

// Removes `dir` and everything beneath it, without following links or
// crossing into other file systems. Takes the kernel's path (see KernelPath):
// the walk opens directories by calls inside the C library, which no
// redirect sees.
void RemoveTree(const std::string& dir);

// Empties the store: removes the storage file and recreates /run/camera as an
// empty, writable directory on the private /run. Aborts when the store is
// not isolated.
void ResetStore();

// Mounts a fresh tmpfs of `bytes` bytes on /run/camera (for a full disk), or
// with `read_only` set a read-only one. Returns false on failure. Aborts
// unless in a private mount namespace (see StoreMountsUnavailable).
bool MountStoreFilesystem(unsigned long bytes, bool read_only);

// Unmounts what MountStoreFilesystem mounted, if anything. Does nothing
// outside a private mount namespace, where unmounting would reach the
// machine's mounts.
void UnmountStoreFilesystem();

// Reads the whole storage file; an empty string when it does not exist.
std::string ReadStoreFile();

// Replaces the storage file with exactly `bytes`.
void WriteStoreFile(const std::string& bytes);

// True when the storage file exists.
bool StoreFileExists();

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_PRIVATE_RUN_H_
