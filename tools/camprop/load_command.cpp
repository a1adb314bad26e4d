// camprop load: stores the defaults of `key=value` files, as the camera
// properties service does at boot from /etc/camera/properties.d. Every
// file is read and checked before anything is stored, so a typing error in
// one line never leaves the store half-configured.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/camprop/commands.h"
#include "tools/camprop/settings_file.h"

namespace camprop {
namespace {

constexpr char kDefaultsDirectory[] = "/etc/camera/properties.d";
constexpr char kSettingsSuffix[] = ".conf";

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
  for (const std::string& name : names) files->push_back(dir + "/" + name);
  return 0;
}

bool IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

const char* Plural(size_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

}  // namespace

int StoreSettings(const std::vector<Setting>& settings) {
  // A key given twice is stored once, with its last value, so a watcher
  // never sees the value that was overridden.
  std::vector<const Setting*> order;
  std::unordered_map<std::string, size_t> position;
  for (const Setting& setting : settings) {
    const auto [at, added] = position.emplace(setting.key, order.size());
    if (added) {
      order.push_back(&setting);
    } else {
      order[at->second] = &setting;
    }
  }
  for (size_t stored = 0; stored < order.size(); ++stored) {
    // The same checks and complaints as `camprop set`.
    const int status = RunSet(order[stored]->key.c_str(), order[stored]->value.c_str());
    if (status == kExitOk) continue;
    // What stops one key (no directory, a full or read-only file system, no
    // permission) stops the rest alike.
    Complain("stopped after storing %zu of %zu %s", stored, order.size(),
             Plural(order.size(), "property", "properties"));
    return status;
  }
  return kExitOk;
}

int RunLoad(const std::vector<const char*>& operands) {
  std::vector<std::string> files;
  if (operands.empty()) {
    const int error = AddConfFiles(kDefaultsDirectory, &files);
    // No directory, no defaults: nothing to do.
    if (error == ENOENT) return kExitOk;
    if (error != 0) {
      Complain("cannot read %s: %s", kDefaultsDirectory, strerror(error));
      return kExitFailed;
    }
  }
  for (const char* operand : operands) {
    if (!IsDirectory(operand)) {
      files.push_back(operand);
    } else if (const int error = AddConfFiles(operand, &files)) {
      Complain("cannot read %s: %s", operand, strerror(error));
      return kExitFailed;
    }
  }

  std::vector<Setting> settings;
  size_t unreadable = 0, refused = 0;
  for (const std::string& path : files) {
    SettingsFile file;
    if (const int error = ReadSettingsFile(path, LinkPolicy::kFollow, &file)) {
      Complain("cannot read %s: %s", path.c_str(), DescribeSettingsError(error));
      ++unreadable;
      continue;
    }
    for (const SettingsProblem& problem : file.problems) {
      ReportLine(path, problem.line, problem.reason);
    }
    refused += file.problems.size();
    settings.insert(settings.end(), file.settings.begin(), file.settings.end());
  }
  if (unreadable != 0) {
    Complain("nothing stored: %zu %s cannot be read", unreadable,
             Plural(unreadable, "file", "files"));
    return kExitFailed;
  }
  if (refused != 0) {
    Complain("nothing stored: %zu bad %s", refused, Plural(refused, "line", "lines"));
    return kExitUsage;
  }
  return StoreSettings(settings);
}

}  // namespace camprop
