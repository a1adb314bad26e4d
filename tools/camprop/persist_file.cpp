// Reading the saved persistent properties, and the text they are saved as.
#include "tools/camprop/persist_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

// Keeps the damaged file at `path` beside it as PATH.bad (what was read of
// it), saying so.
void KeepDamagedCopy(const std::string& path, const std::string& bytes) {
  const std::string copy = path + ".bad";
  const int error = ReplaceFile(copy, bytes, kSavedFileMode);
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
  // Problems and foreign keys are reported in line order.
  size_t skipped = 0;
  auto problem = file.problems.begin();
  for (Setting& setting : file.settings) {
    for (; problem != file.problems.end() && problem->line < setting.line; ++problem, ++skipped) {
      ReportLine(path, problem->line, problem->reason);
    }
    if (IsPersistKey(setting.key)) {
      (*settings)[setting.key] = std::move(setting.value);
    } else {
      ReportLine(path, setting.line, std::string("key does not begin with \"") + kPersistPrefix +
                                         "\"");
      ++skipped;
    }
  }
  for (; problem != file.problems.end(); ++problem, ++skipped) {
    ReportLine(path, problem->line, problem->reason);
  }
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
  KeepDamagedCopy(path, file.bytes);
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
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  fd_ = Calls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  while (Calls().flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error_ = errno;
    break;
  }
}

PersistFileLock::~PersistFileLock() {
  if (fd_ >= 0) Calls().close(fd_);
}

}  // namespace camprop
