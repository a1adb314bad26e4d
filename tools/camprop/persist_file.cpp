// Reading the saved persistent properties, and the text they are saved as.
#include "tools/camprop/persist_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "tools/camprop/atomic_file.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/settings_file.h"

namespace camprop {
namespace {

constexpr char kHeader[] =
    "# The persist. properties of the camera stack, restored at every boot by\n"
    "# camprop persist restore. Written by camprop persist watch: edits here are\n"
    "# overwritten at the next change; use camprop set.\n";

// Keeps the damaged file at `path` beside it as PATH.bad, saying so.
void KeepDamagedCopy(const std::string& path, const std::string& bytes, bool move_whole) {
  const std::string copy = path + ".bad";
  // A file too large to read is renamed rather than copied: nothing of it
  // is loaded.
  const int error = move_whole ? (rename(path.c_str(), copy.c_str()) == 0 ? 0 : errno)
                               : ReplaceFile(copy, bytes, 0644);
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
  if (error == EFBIG) {
    Complain("%s %s; nothing of it is restored", path.c_str(), DescribeSettingsError(error));
    *damaged = true;
    KeepDamagedCopy(path, "", true);
    return true;
  }
  if (error != 0) {
    Complain("cannot read %s: %s", path.c_str(), DescribeSettingsError(error));
    return false;
  }
  // Problems and foreign keys are reported in line order.
  size_t skipped = 0;
  auto problem = file.problems.begin();
  for (const Setting& setting : file.settings) {
    for (; problem != file.problems.end() && problem->line < setting.line; ++problem, ++skipped) {
      ReportLine(path, problem->line, problem->reason);
    }
    if (IsPersistKey(setting.key)) {
      (*settings)[setting.key] = setting.value;
    } else {
      ReportLine(path, setting.line, std::string("key does not begin with \"") + kPersistPrefix +
                                         "\"");
      ++skipped;
    }
  }
  for (; problem != file.problems.end(); ++problem, ++skipped) {
    ReportLine(path, problem->line, problem->reason);
  }
  if (skipped == 0) return true;
  *damaged = true;
  Complain("skipped %zu damaged %s of %s", skipped, skipped == 1 ? "line" : "lines",
           path.c_str());
  KeepDamagedCopy(path, file.bytes, false);
  return true;
}

std::string PersistFileText(const PersistedSettings& settings) {
  std::string text = kHeader;
  for (const auto& [key, value] : settings) text += key + "=" + value + "\n";
  return text;
}

}  // namespace camprop
