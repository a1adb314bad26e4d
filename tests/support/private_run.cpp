// Private mount namespace with a tmpfs on /run for test processes.
#include "tests/support/private_run.h"

#include <errno.h>
#include <fcntl.h>
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

constexpr char kRun[] = "/run";
constexpr char kMarkerEnv[] = "ISPUTILS_PRIVATE_RUN";

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
  if (mount("tmpfs", kRun, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
    *error = Reason("mounting a tmpfs on /run");
    return false;
  }
  if (mkdir(kStorageDir, 0777) != 0) {
    *error = Reason("creating /run/camera");
    return false;
  }
  setenv(kMarkerEnv, "1", 1);
  return true;
}

bool InPrivateRun() {
  // Set only after the private tmpfs is mounted; children inherit both the
  // namespace and the marker.
  const char* marker = getenv(kMarkerEnv);
  return marker != nullptr && strcmp(marker, "1") == 0;
}

void ResetStore() {
  if (!InPrivateRun()) abort();
  UnmountStoreFilesystem();
  unlink(kStoragePath);
  rmdir(kStorageDir);
  mkdir(kStorageDir, 0777);
  chmod(kStorageDir, 0777);
}

bool MountStoreFilesystem(unsigned long bytes, bool read_only) {
  if (!InPrivateRun()) abort();
  mkdir(kStorageDir, 0777);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  unsigned long flags = MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0);
  return mount("tmpfs", kStorageDir, "tmpfs", flags, options.c_str()) == 0;
}

void UnmountStoreFilesystem() {
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
  if (!InPrivateRun()) abort();
  std::ofstream out(kStoragePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool StoreFileExists() {
  struct stat info;
  return lstat(kStoragePath, &info) == 0;
}

}  // namespace isputils_test
