// Temporary file, fsync, rename, fsync of the directory.
#include "tools/camprop/atomic_file.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "tools/camprop/main.h"

namespace camprop {
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t wrote = Calls().write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(wrote);
  }
  return 0;
}

namespace {

// Flushes the directory entry of a rename to the disk. File systems that
// cannot flush a directory (EINVAL) keep their entries by other means.
int SyncDirectory(const std::string& dir) {
  const int fd = Calls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int error = Calls().fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  Calls().close(fd);
  return error;
}

}  // namespace

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const size_t slash = path.rfind('/');
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  constexpr size_t kRandomPart = 6;  // what mkostemp puts for XXXXXX
  DIR* stream = opendir(dir.c_str());
  if (stream == nullptr) return;
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + kRandomPart || name.compare(0, prefix.size(), prefix) != 0 ||
        !std::all_of(name.begin() + prefix.size(), name.end(),
                     [](char c) { return isalnum(static_cast<unsigned char>(c)) != 0; })) {
      continue;
    }
    Calls().unlink((dir + "/" + name).c_str());
  }
  closedir(stream);
}

int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  return ReplaceFileWith(path, mode, [&bytes](int fd) { return WriteAll(fd, bytes); });
}

int ReplaceFileWith(const std::string& path, mode_t mode, const std::function<int(int)>& write) {
  // Beside the file, so the rename stays within one file system; created
  // exclusively under a fresh name (mkostemp), so no link planted there is
  // followed and no other writer's temporary file is touched.
  std::string name = path + ".XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = Calls().mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  name = buffer.data();
  int error = write(fd);
  // mkostemp makes the file 0600; the mode is set before the file appears
  // under its real name.
  if (error == 0 && Calls().fchmod(fd, mode) != 0) error = errno;
  // Root replacing a file of the service's (an operator's `sudo camprop
  // persist forget`) leaves it with its owner and group, which the service
  // needs to read and replace it again.
  struct stat existing;
  if (error == 0 && geteuid() == 0 && Calls().lstat(path.c_str(), &existing) == 0 &&
      S_ISREG(existing.st_mode) && Calls().fchown(fd, existing.st_uid, existing.st_gid) != 0) {
    error = errno;
  }
  if (error == 0 && Calls().fsync(fd) != 0) error = errno;
  if (Calls().close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && Calls().rename(name.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    Calls().unlink(name.c_str());
    return error;
  }
  return SyncDirectory(DirectoryOf(path));
}

}  // namespace camprop
