// camprop load: stores the defaults of `key=value` files, as the camera
// properties service does at boot, with the saved persist. settings, which
// win over the defaults, in one transaction; and camprop persist restore,
// the saved settings alone. A file of defaults is applied whole or not at
// all; damaged lines of the saved file are skipped (persist_file.h).
//
// A persist. key that the store already holds is an operator's setting, a
// forgotten one, or a default stored earlier: load replaces it only in the
// last case (unowned_values.h), so neither a later load nor a restart of
// the service ever puts a default over a setting, or over a value that
// persist forget left to the store until the next boot.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "property_store/internal/status_text.h"
#include "property_store/internal/transaction.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/unowned_values.h"

namespace camprop {
namespace {

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
      ++file.problem_count;
    }
    ReportLines(path, file.problems, file.problem_count);
    if (file.problem_count != 0) {
      Complain("%s not applied: %zu bad %s", path.c_str(), file.problem_count,
               Plural(file.problem_count, "line", "lines"));
      if (*status == kExitOk) *status = kExitUsage;
      continue;
    }
    defaults.insert(defaults.end(), file.settings.begin(), file.settings.end());
  }
  return defaults;
}

// Stores `defaults` (in order, each key once with its last value) and
// `saved` in one transaction; a saved value wins over the default of its
// key. A persist. key that the store holds already is left as it is, unless
// `replace_persist`, or its value is a default stored earlier and not a
// forgotten one (unowned_values.h). The defaults of persist. keys are
// recorded before they are stored, with those they replace, and the record
// pruned to what the store holds after the commit: whatever step fails or
// is killed, every default the store holds is recorded, and the watch never
// takes one for a setting. Returns kExitOk, or kExitFailed after a
// complaint.
int ApplySettings(const Context& context, const std::vector<Setting>& defaults,
                  const PersistedSettings& saved, bool replace_persist) {
  propstore::Transaction store(context.store);
  const auto failed = [&] {
    Complain("cannot store in %s: %s", context.store.path(),
             propstore::Reason(store.status()).c_str());
    return kExitFailed;
  };
  if (!store.status().ok()) return failed();
  UnownedRecords records(context.places);
  records.Open();
  UnownedValues unowned;
  // A record not trusted is written anew, and none of its values counts: no
  // stored value is taken for a default then.
  const std::string untrusted = records.Read(&unowned);
  if (!untrusted.empty() && untrusted.find(" is missing ") == std::string::npos) {
    Complain("%s; it is written anew", untrusted.c_str());
  }
  const auto replaceable = [&](const std::string& key) {
    const std::string* current = store.Find(key);
    return replace_persist || current == nullptr ||
           (Holds(unowned.defaults, key, *current) && !Holds(unowned.forgotten, key, *current));
  };
  std::vector<std::pair<std::string, std::string>> persist_defaults;  // to store
  ValueSets file_defaults;  // of persist. keys, stored or not
  for (const auto& [key, value] : LastValues(defaults)) {
    if (!IsPersistKey(key)) {
      store.Set(key, value);
      continue;
    }
    file_defaults[key] = {value};
    if (replaceable(key) && saved.count(key) == 0) persist_defaults.emplace_back(key, value);
  }
  for (const auto& [key, value] : saved) {
    if (replaceable(key)) store.Set(key, value);
  }
  ValueSets recorded = unowned.defaults;
  for (const auto& [key, values] : file_defaults) recorded[key].insert(*values.begin());
  int record_error = records.WriteDefaults(recorded);
  if (record_error == 0) record_error = records.WriteForgotten(unowned.forgotten);
  const bool defaults_stored = record_error == 0 && !persist_defaults.empty();
  if (defaults_stored) {
    for (const auto& [key, value] : persist_defaults) store.Set(key, value);
  }
  if (!store.Commit().ok()) return failed();
  // Then the defaults of the files (a setting equal to one follows it from
  // then on), and of what was recorded before only what the store holds.
  for (ValueSets* values : {&unowned.defaults, &unowned.forgotten}) {
    for (auto at = values->begin(); at != values->end();) {
      const std::string* current = store.Find(at->first);
      if (current != nullptr && at->second.count(*current) != 0) {
        at->second = {*current};
        ++at;
      } else {
        at = values->erase(at);
      }
    }
  }
  for (const auto& [key, values] : file_defaults) unowned.defaults[key].insert(*values.begin());
  if (record_error == 0) record_error = records.WriteDefaults(unowned.defaults);
  if (record_error == 0) record_error = records.WriteForgotten(unowned.forgotten);
  if (!store.Close().ok()) return failed();
  if (record_error == 0) return kExitOk;
  Complain("cannot record the values nobody set in %s: %s%s", context.places.store_dir.c_str(),
           strerror(record_error),
           defaults_stored || persist_defaults.empty() ? ""
                                                       : "; the defaults of persist. keys are not stored");
  return kExitFailed;
}

}  // namespace

int RunLoad(const Context& context, const std::vector<const char*>& operands,
            const std::string& saved_path) {
  int status = kExitOk;
  std::vector<std::string> files;
  if (operands.empty()) {
    const std::string& dir = context.places.defaults_dir;
    const int error = AddConfFiles(dir, &files);
    // No directory, no defaults; the saved settings still count.
    if (error != 0 && error != ENOENT) {
      Complain("cannot read %s: %s", dir.c_str(), strerror(error));
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
  const int stored = ApplySettings(context, defaults, saved, false);
  return stored != kExitOk ? stored : status;
}

int RunPersistRestore(const Context& context, const std::string& path) {
  PersistedSettings saved;
  bool damaged = false;
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  return ApplySettings(context, {}, saved, true);
}

}  // namespace camprop
