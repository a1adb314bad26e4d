// Reading the saved persistent properties, and the text they are saved as.
#include "tools/camprop/persist_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/camprop/atomic_file.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/main.h"
#include "tools/camprop/settings_file.h"

namespace camprop {
namespace {

// The mark of the escaped format first: every key and value comes back
// byte for byte.
constexpr char kHeader[] =
    " the persist. properties of the camera stack,\n"
    "# stored at every boot by camprop load. Written by camprop persist watch:\n"
    "# edits here are lost at the next change; use camprop set and camprop\n"
    "# persist forget. In keys and values \\\\ is a backslash, \\xHH the byte HH.\n";

// Copies the file open at `in` to `out`, the holes of a sparse file left
// holes: the copy costs what the file stores, not the size it claims.
int CopySparse(int in, int out) {
  std::string piece(64 * 1024, '\0');
  struct stat info;
  if (Calls().fstat(in, &info) != 0) return errno;
  for (off_t at = 0; at < info.st_size;) {
    const off_t data = Calls().lseek(in, at, SEEK_DATA);
    if (data < 0) break;  // ENXIO: holes to the end
    const off_t hole = Calls().lseek(in, data, SEEK_HOLE);
    if (hole < 0) return errno;
    for (at = data; at < hole;) {
      const size_t wanted = static_cast<size_t>(std::min<off_t>(hole - at, piece.size()));
      const ssize_t got = Calls().pread(in, &piece[0], wanted, at);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return got == 0 ? EIO : errno;
      const ssize_t put = Calls().pwrite(out, piece.data(), static_cast<size_t>(got), at);
      if (put != got) return put < 0 ? errno : ENOSPC;  // short: the disk is full
      at += got;
    }
  }
  return Calls().ftruncate(out, info.st_size) == 0 ? 0 : errno;
}

// Keeps the damaged file at `path` beside it as PATH.bad, whole, saying so.
void KeepDamagedCopy(const std::string& path) {
  const std::string copy = path + ".bad";
  const int in = Calls().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  const int error = in < 0 ? errno : ReplaceFileWith(copy, kSavedFileMode, [in](int out) {
    return CopySparse(in, out);
  });
  if (in >= 0) Calls().close(in);
  if (error == 0) {
    Complain("kept the damaged file as %s", copy.c_str());
  } else {
    Complain("cannot keep the damaged file as %s: %s", copy.c_str(), strerror(error));
  }
}

}  // namespace

bool IsPersistKey(const std::string& key) {
  return key.compare(0, sizeof(kPersistPrefix) - 1, kPersistPrefix) == 0;
}

bool ReadPersistFile(const std::string& path, PersistedSettings* settings, bool* damaged) {
  settings->clear();
  *damaged = false;
  SettingsFile file;
  const int error = ReadSettingsFile(path, LinkPolicy::kRefuse, &file);
  if (error == ENOENT) return true;
  if (error != 0) {
    Complain("cannot read %s: %s", path.c_str(), DescribeSettingsError(error));
    return false;
  }
  // Foreign keys are bad lines too, reported with the others in line order.
  std::vector<SettingsProblem> bad = std::move(file.problems);
  size_t skipped = file.problem_count;
  for (Setting& setting : file.settings) {
    if (IsPersistKey(setting.key)) {
      (*settings)[setting.key] = std::move(setting.value);
    } else if (skipped++ < kProblemsKept) {
      bad.push_back({setting.line, std::string("key does not begin with \"") + kPersistPrefix + "\""});
    }
  }
  ReportLines(path, std::move(bad), skipped);
  if (file.cut) {
    Complain("%s is larger than %zu MiB, more than camprop persist watch writes; what lies "
             "beyond is not read", path.c_str(), kLargestSettingsFile >> 20);
  }
  if (skipped == 0 && !file.cut) return true;
  *damaged = true;
  if (skipped != 0) {
    Complain("skipped %zu damaged %s of %s", skipped, skipped == 1 ? "line" : "lines",
             path.c_str());
  }
  KeepDamagedCopy(path);
  return true;
}

int WritePersistFile(const std::string& path, const PersistedSettings& settings) {
  return ReplaceFileWith(path, kSavedFileMode, [&settings](int fd) {
    // Written a piece at a time: the file may be as large as a restore
    // reads, and the settings are in memory already.
    constexpr size_t kPiece = 64 * 1024;
    std::string piece = std::string(kEscapedFormatMark) + kHeader;
    for (const auto& [key, value] : settings) {
      piece += EscapedLine(key, value);
      if (piece.size() < kPiece) continue;
      if (const int error = WriteAll(fd, piece)) return error;
      piece.clear();
    }
    return WriteAll(fd, piece);
  });
}

size_t PersistFileHeaderSize() { return sizeof(kEscapedFormatMark) - 1 + sizeof(kHeader) - 1; }

PersistFileLock::PersistFileLock(const std::string& path) {
  // A file that only its owner may open: whoever may read the directory
  // (the group camera) could otherwise hold a lock and keep saves waiting.
  fd_ = Calls().open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  // One that root makes is the service's, the owner of the directory.
  struct stat file, dir;
  if (geteuid() == 0 && Calls().fstat(fd_, &file) == 0 && file.st_uid == 0 &&
      Calls().stat(DirectoryOf(path).c_str(), &dir) == 0 && dir.st_uid != 0) {
    Calls().fchown(fd_, dir.st_uid, dir.st_gid);
  }
  // Once a stop is requested, no signal is left to end a wait.
  while (Calls().flock(fd_, StopRequested() ? LOCK_EX | LOCK_NB : LOCK_EX) != 0) {
    if (errno == EINTR && !StopRequested()) continue;
    error_ = errno;
    Calls().close(fd_);
    fd_ = -1;
    return;
  }
  // No other writer is live now: what a killed one left goes.
  RemoveLeftoverTemporaries(path);
}

PersistFileLock::~PersistFileLock() {
  if (fd_ >= 0) Calls().close(fd_);
}

}  // namespace camprop
