// Private mount namespace with a tmpfs on /run for test processes.
#include "tests/support/private_run.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace isputils_test {
namespace {

// The private file system goes where the store's directory lies.
using propstore::kRunDir;
constexpr size_t kRunLength = sizeof(kRunDir) - 1;

// The stand-in for /run, when this process's C library calls are redirected
// (run_redirect.c is loaded and its variable set); otherwise null.
const char* RedirectedRunDir() {
  using RunDirFunction = const char* (*)();
  const auto run_dir =
      reinterpret_cast<RunDirFunction>(dlsym(RTLD_DEFAULT, "isputils_test_run_dir"));
  return run_dir == nullptr ? nullptr : run_dir();
}

bool CopyFile(const std::string& from, const std::string& to, mode_t mode) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool ok = out >= 0;
  char chunk[65536];
  ssize_t got = -1;
  while (ok && (got = read(in, chunk, sizeof(chunk))) > 0) {
    ok = write(out, chunk, static_cast<size_t>(got)) == got;
  }
  ok = ok && got == 0 && fchmod(out, mode) == 0;
  close(in);
  if (out >= 0 && close(out) != 0) ok = false;
  return ok;
}

bool WriteProcFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

std::string Reason(const char* step) {
  return std::string(step) + ": " + strerror(errno);
}

// Becomes root of a new user namespace mapped onto the caller's ids, so an
// unprivileged user may mount.
bool EnterUserNamespace(std::string* error) {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
    *error = Reason("unshare(CLONE_NEWUSER|CLONE_NEWNS)");
    return false;
  }
  WriteProcFile("/proc/self/setgroups", "deny");
  if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    *error = Reason("writing the id maps");
    return false;
  }
  return true;
}

}  // namespace

bool EnterPrivateRun(std::string* error) {
  if (unshare(CLONE_NEWNS) != 0 && !EnterUserNamespace(error)) return false;
  // Nothing mounted from here on may leak back to the machine.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    *error = Reason("making / private");
    return false;
  }
  if (mount("tmpfs", kRunDir, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
    *error = Reason("mounting a tmpfs on /run");
    return false;
  }
  // An inherited redirect would otherwise hide the private /run.
  unsetenv(kRunDirEnv);
  if (mkdir(kStorageDir, 0777) != 0) {
    *error = Reason("creating /run/camera");
    return false;
  }
  setenv(kPrivateRunMarkerEnv, "1", 1);
  return true;
}

bool InPrivateRun() {
  // Set only after the private tmpfs is mounted; children inherit both the
  // namespace and the marker.
  const char* marker = getenv(kPrivateRunMarkerEnv);
  return marker != nullptr && strcmp(marker, "1") == 0;
}

StoreIsolation CurrentStoreIsolation() {
  if (InPrivateRun()) return StoreIsolation::kMountNamespace;
  if (RedirectedRunDir() != nullptr) return StoreIsolation::kRedirected;
  return StoreIsolation::kNone;
}

const char* StoreMountsUnavailable() {
  if (CurrentStoreIsolation() == StoreIsolation::kMountNamespace) return nullptr;
  return "needs a file system of its own on /run/camera, and without a private mount "
         "namespace the store's directory is a redirected one where nothing can be mounted";
}

std::string KernelPath(const std::string& path) {
  const char* run_dir = RedirectedRunDir();
  const bool under_run = path.compare(0, kRunLength, kRunDir) == 0 &&
                         (path.size() == kRunLength || path[kRunLength] == '/');
  if (run_dir == nullptr || !under_run || InPrivateRun()) return path;
  return run_dir + path.substr(kRunLength);
}

std::string CopyIntoPrivateRun(const std::string& file) {
  if (CurrentStoreIsolation() == StoreIsolation::kNone) abort();
  const size_t slash = file.rfind('/');
  const std::string copy = KernelPath(std::string(kRunDir) + "/" +
                                      (slash == std::string::npos ? file : file.substr(slash + 1)));
  return CopyFile(file, copy, 0755) ? copy : std::string();
}

void RemoveTree(const std::string& dir) {
  const auto remove_entry = [](const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
  };
  nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

void ResetStore() {
  if (CurrentStoreIsolation() == StoreIsolation::kNone) abort();
  UnmountStoreFilesystem();
  // Whatever a test left beside the file goes too (a renamed store, a link,
  // a directory at the path). The walk takes the kernel's path: it opens
  // directories by calls inside the C library, which no redirect sees.
  RemoveTree(KernelPath(kStorageDir));
  mkdir(kStorageDir, 0777);
  chmod(kStorageDir, 0777);
}

bool MountStoreFilesystem(unsigned long bytes, bool read_only) {
  if (StoreMountsUnavailable() != nullptr) abort();
  mkdir(kStorageDir, 0777);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  unsigned long flags = MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
  return mount("tmpfs", kStorageDir, "tmpfs", flags, options.c_str()) == 0;
}

void UnmountStoreFilesystem() {
  if (!InPrivateRun()) return;
  while (umount2(kStorageDir, MNT_DETACH) == 0) {
  }
}

std::string ReadStoreFile() {
  std::ifstream in(kStoragePath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteStoreFile(const std::string& bytes) {
  if (CurrentStoreIsolation() == StoreIsolation::kNone) abort();
  std::ofstream out(kStoragePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool StoreFileExists() {
  struct stat info;
  return lstat(kStoragePath, &info) == 0;
}

}  // namespace isputils_test
