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

#include "tests/support/temp_dir.h"

namespace isputils_test {
namespace {

using propstore::kRunDir;

// Set in the environment once the private /run is mounted; children inherit
// both the namespace and the mark.
constexpr char kPrivateRunMarker[] = "ISPUTILS_PRIVATE_RUN";

bool WriteProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

std::string Reason(const char* step) { return std::string(step) + ": " + strerror(errno); }

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

// True when the mount at /run shares its mounts with another namespace
// (its optional fields in /proc/self/mountinfo name a peer group).
bool RunMountIsShared() {
  std::ifstream mounts("/proc/self/mountinfo");
  bool shared = true;  // unknown counts as shared
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, field;
    fields >> id >> parent >> device >> root >> point >> options;
    if (point != kRunDir) continue;
    shared = false;
    while (fields >> field && field != "-") shared = shared || field.compare(0, 7, "shared:") == 0;
  }
  return shared;
}

}  // namespace

bool EnterPrivateRun(std::string* error) {
  if (unshare(CLONE_NEWNS) != 0 && !EnterUserNamespace(error)) return false;
  // Nothing mounted from here on may reach the machine. Where the root is
  // no mount point (a chroot) it cannot be made private; the mounts it lies
  // on may be private already, which the mount below then shows.
  const bool private_root = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  if (!private_root && errno != EINVAL) {
    *error = Reason("making / private");
    return false;
  }
  if (mount("tmpfs", kRunDir, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0) {
    *error = Reason("mounting a tmpfs on /run");
    return false;
  }
  if (!private_root && RunMountIsShared()) {
    umount2(kRunDir, MNT_DETACH);
    *error = "the root is no mount point, and a mount on /run would reach other namespaces";
    return false;
  }
  if (mkdir(kStorageDir, 0777) != 0) {
    *error = Reason("creating /run/camera");
    return false;
  }
  setenv(kPrivateRunMarker, "1", 1);
  return true;
}

void ResetStore() {
  const char* marker = getenv(kPrivateRunMarker);
  if (marker == nullptr || strcmp(marker, "1") != 0) abort();
  // Whatever a test left beside the file goes too (a renamed store, a link,
  // a directory at the path).
  RemoveTree(kStorageDir);
  mkdir(kStorageDir, 0777);
  chmod(kStorageDir, 0777);
}

std::string ReadStoreFile() {
  const std::string bytes = ReadFile(kStoragePath);
  return bytes == "<none>" ? std::string() : bytes;
}

void WriteStoreFile(const std::string& bytes) {
  const char* marker = getenv(kPrivateRunMarker);
  if (marker == nullptr || strcmp(marker, "1") != 0 || !WriteFile(kStoragePath, bytes)) abort();
}

}  // namespace isputils_test
