// camprop load: stores the defaults of `key=value` files, as the camera
// properties service does at boot from /etc/camera/properties.d, together
// with the saved persist. settings, which win over the defaults. Each file
// is applied whole or not at all: one with a bad line is reported and left
// out, and every other file still counts. Everything is stored in one pass
// under one exclusive lock (store_batch.h).
//
// A persist. key that the store already holds is an operator's setting, or
// a default stored earlier: load replaces it only in the second case (its
// value is still the one kept in stored_defaults.h), so neither a later
// load nor a restart of the service ever puts a default over a setting.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/store_batch.h"
#include "tools/camprop/stored_defaults.h"

namespace camprop {
namespace {

constexpr char kDefaultsDirectory[] = "/etc/camera/properties.d";
constexpr char kSettingsSuffix[] = ".conf";

const char* Plural(size_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

// True for what sysctl.d leaves out of a directory in silence: a
// directory, and a file masked by a link to /dev/null.
bool IsSkippedEntry(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;  // reported when read
  return S_ISDIR(info.st_mode) ||
         (S_ISCHR(info.st_mode) && major(info.st_rdev) == 1 && minor(info.st_rdev) == 3);
}

// Appends the *.conf files of `dir` to *files in name order (bytewise, as
// the C locale sorts), leaving out hidden ones as a shell's *.conf does.
// Returns 0, or the errno of opening the directory.
int AddConfFiles(const std::string& dir, std::vector<std::string>* files) {
  DIR* stream = opendir(dir.c_str());
  if (stream == nullptr) return errno;
  std::vector<std::string> names;
  const size_t suffix = sizeof(kSettingsSuffix) - 1;
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name[0] == '.' || name.size() <= suffix ||
        name.compare(name.size() - suffix, suffix, kSettingsSuffix) != 0) {
      continue;
    }
    names.push_back(name);
  }
  closedir(stream);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    if (!IsSkippedEntry(path)) files->push_back(path);
  }
  return 0;
}

bool IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Each key once, at its first place, with its last value: a watcher never
// sees a value that a later line overrides.
std::vector<std::pair<std::string, std::string>> LastValues(const std::vector<Setting>& lines) {
  std::vector<std::pair<std::string, std::string>> values;
  std::unordered_map<std::string, size_t> position;
  for (const Setting& line : lines) {
    const auto [at, added] = position.emplace(line.key, values.size());
    if (added) {
      values.emplace_back(line.key, line.value);
    } else {
      values[at->second].second = line.value;
    }
  }
  return values;
}

// The defaults of `files`, file by file; *status becomes kExitFailed for a
// file that cannot be read, kExitUsage for one with a bad line (unless
// already kExitFailed). Neither kind of file contributes anything.
std::vector<Setting> ReadDefaults(const std::vector<std::string>& files, int* status) {
  std::vector<Setting> defaults;
  for (const std::string& path : files) {
    SettingsFile file;
    if (const int error = ReadSettingsFile(path, LinkPolicy::kFollow, &file)) {
      Complain("cannot read %s: %s; none of it is stored", path.c_str(),
               DescribeSettingsError(error));
      *status = kExitFailed;
      continue;
    }
    if (file.cut) {
      file.problems.push_back({0, "larger than 16 MiB, more than any file of defaults holds"});
    }
    for (const SettingsProblem& problem : file.problems) {
      ReportLine(path, problem.line, problem.reason);
    }
    if (!file.problems.empty()) {
      Complain("%s not applied: %zu bad %s", path.c_str(), file.problems.size(),
               Plural(file.problems.size(), "line", "lines"));
      if (*status == kExitOk) *status = kExitUsage;
      continue;
    }
    defaults.insert(defaults.end(), file.settings.begin(), file.settings.end());
  }
  return defaults;
}

}  // namespace

int ApplySettings(const std::vector<Setting>& defaults, const PersistedSettings& saved,
                  bool replace_persist) {
  StoreBatch batch;
  if (batch.result().status != ScanStatus::kOk) {
    Complain("cannot store in %s: %s", propstore::kStoragePath,
             DescribeUpdateFailure(batch.result()));
    return kExitFailed;
  }
  const PersistedSettings stored_defaults = ReadStoredDefaults();
  const auto set_persist = [&](const std::string& key, const std::string& value) {
    const std::string* current = batch.Find(key);
    const auto stored_default = stored_defaults.find(key);
    if (replace_persist || current == nullptr ||
        (stored_default != stored_defaults.end() && *current == stored_default->second)) {
      batch.Set(key, value);
    }
  };
  PersistedSettings new_defaults;
  for (const auto& [key, value] : LastValues(defaults)) {
    if (!IsPersistKey(key)) {
      batch.Set(key, value);
      continue;
    }
    new_defaults[key] = value;
    const auto setting = saved.find(key);
    set_persist(key, setting != saved.end() ? setting->second : value);
  }
  for (const auto& [key, value] : saved) {
    if (new_defaults.count(key) == 0) set_persist(key, value);
  }
  // A default dropped from the files still describes a value nobody set.
  for (const auto& [key, value] : stored_defaults) {
    const std::string* current = batch.Find(key);
    if (current != nullptr && *current == value) new_defaults.emplace(key, value);
  }
  bool stored = batch.Commit();
  // Without them the watch would take the defaults just stored for settings.
  int defaults_error = 0;
  if (stored && new_defaults != stored_defaults) defaults_error = WriteStoredDefaults(new_defaults);
  stored = batch.Close() && stored;
  if (!stored) {
    Complain("cannot store in %s: %s", propstore::kStoragePath,
             DescribeUpdateFailure(batch.result()));
    return kExitFailed;
  }
  if (defaults_error == 0) return kExitOk;
  Complain("cannot keep the defaults of persist. keys in %s: %s", kStoredDefaultsPath,
           strerror(defaults_error));
  return kExitFailed;
}

int RunLoad(const std::vector<const char*>& operands, const std::string& saved_path) {
  int status = kExitOk;
  std::vector<std::string> files;
  if (operands.empty()) {
    const int error = AddConfFiles(kDefaultsDirectory, &files);
    // No directory, no defaults; the saved settings still count.
    if (error != 0 && error != ENOENT) {
      Complain("cannot read %s: %s", kDefaultsDirectory, strerror(error));
      status = kExitFailed;
    }
  }
  for (const char* operand : operands) {
    if (!IsDirectory(operand)) {
      if (!IsSkippedEntry(operand)) files.push_back(operand);
    } else if (const int error = AddConfFiles(operand, &files)) {
      Complain("cannot read %s: %s", operand, strerror(error));
      status = kExitFailed;
    }
  }
  const std::vector<Setting> defaults = ReadDefaults(files, &status);
  PersistedSettings saved;
  bool damaged = false;
  // A saved file that cannot be read fails the load, after the defaults.
  if (!ReadPersistFile(saved_path, &saved, &damaged)) status = kExitFailed;
  const int stored = ApplySettings(defaults, saved, false);
  return stored != kExitOk ? stored : status;
}

}  // namespace camprop
