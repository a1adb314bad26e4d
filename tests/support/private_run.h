// A private /run for what reaches the system's store at its fixed path,
// "/run/camera/property_storage", which nothing that ships can change: the
// exported property API, the libraries that read the log level through it,
// and the example. The process moves into a private mount namespace with a
// tmpfs of its own on /run (and a user namespace when not root), so the real
// path is exercised and the machine's /run/camera is never seen. Everything
// else (the store engine, camprop, the reliability tests) works on
// directories of its own and needs none of this. Where no namespace can be
// had (a container whose seccomp profile forbids them), the tests that need
// one skip, and say why.
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

// Moves this process into a private mount namespace with a fresh tmpfs on
// /run holding an empty directory /run/camera, whose mounts never reach the
// machine's. Returns false, with the reason in *error, when that cannot be
// done; the caller must then not touch the store at all.
bool EnterPrivateRun(std::string* error);

// Empties the store: removes the storage file and recreates /run/camera as an
// empty, writable directory on the private /run. Aborts outside one.
void ResetStore();

// Reads the whole storage file; an empty string when it does not exist.
std::string ReadStoreFile();

// Replaces the storage file with exactly `bytes`. Aborts outside a private
// /run.
void WriteStoreFile(const std::string& bytes);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_PRIVATE_RUN_H_
