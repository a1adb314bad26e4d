// Test isolation for everything that touches the property storage file.
//
// The store's path, "/run/camera/property_storage", is fixed, so tests never
// redirect it: each test process moves into a private mount namespace with a
// tmpfs of its own on /run (and a user namespace when not root). The real
// path is exercised, and the machine's /run/camera is never seen.
//
// Thread-safety: EnterPrivateRun must run before any thread is started; the
// other helpers are for the test's main thread.
#ifndef TESTS_SUPPORT_PRIVATE_RUN_H_
#define TESTS_SUPPORT_PRIVATE_RUN_H_

#include <string>

namespace isputils_test {

// The store's fixed directory and file, as every test and tool of the tree
// names them; inside the private /run they are the test's own.
inline constexpr char kStorageDir[] = "/run/camera";
inline constexpr char kStoragePath[] = "/run/camera/property_storage";

// Moves this process into a private mount namespace with a fresh tmpfs on
// /run holding an empty directory /run/camera. Returns false, with the reason
// in *error, when no namespace can be made; callers must then fail loudly and
// never fall back to the real /run.
bool EnterPrivateRun(std::string* error);

// True once EnterPrivateRun has succeeded in this process (or an ancestor).
bool InPrivateRun();

// Empties the store: removes the storage file and recreates /run/camera as an
// empty, writable directory on the private /run.
void ResetStore();

// Mounts a fresh tmpfs of `bytes` bytes on /run/camera (for a full disk), or
// with `read_only` set a read-only one. Returns false on failure.
bool MountStoreFilesystem(unsigned long bytes, bool read_only);

// Unmounts what MountStoreFilesystem mounted, if anything.
void UnmountStoreFilesystem();

// Reads the whole storage file; an empty string when it does not exist.
std::string ReadStoreFile();

// Replaces the storage file with exactly `bytes`.
void WriteStoreFile(const std::string& bytes);

// True when the storage file exists.
bool StoreFileExists();

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_PRIVATE_RUN_H_
