// Test directories and whole-file reads and writes.
#include "tests/support/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace isputils_test {

TempDir::TempDir(mode_t mode) {
  const char* tmp = getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/isputils.XXXXXX";
  if (mkdtemp(name.data()) == nullptr || chmod(name.c_str(), mode) != 0) abort();
  path_ = name;
}

TempDir::~TempDir() { RemoveTree(path_); }

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  DIR* dir = opendir(path_.c_str());
  while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  if (dir != nullptr) closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  const auto remove_entry = [](const char* entry, const struct stat*, int type, struct FTW*) {
    // A directory the test left without permissions is opened again first.
    if (type == FTW_DNR) chmod(entry, 0700);
    remove(entry);
    return 0;
  };
  nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string ReadFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "<none>";
  std::string bytes;
  char chunk[65536];
  ssize_t got;
  while ((got = read(fd, chunk, sizeof(chunk))) > 0) bytes.append(chunk, static_cast<size_t>(got));
  close(fd);
  return got < 0 ? "<none>" : bytes;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return close(fd) == 0 && written;
}

}  // namespace isputils_test
