// camprop persist forget: removes keys from the saved persist file at once,
// so that from the next boot on their defaults (or nothing) apply. The
// store keeps their values until then; they are marked as no one's setting
// (stored_defaults.h), so a persist watch that starts again meanwhile does
// not save them back.
#include <string.h>

#include <string>
#include <vector>

#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/store_batch.h"
#include "tools/camprop/stored_defaults.h"

namespace camprop {

int RunPersistForget(const std::vector<const char*>& keys, const std::string& path) {
  // The watch saves under the same lock: it reads the file again, so it
  // never writes back what is forgotten here.
  const PersistFileLock lock(path);
  if (lock.error() != 0) {
    Complain("cannot lock the directory of %s: %s", path.c_str(), strerror(lock.error()));
    return kExitFailed;
  }
  PersistedSettings saved;
  bool damaged = false;
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  std::vector<std::string> forgotten;
  for (const char* key : keys) {
    if (saved.erase(key) != 0) {
      forgotten.push_back(key);
    } else {
      Note("%s is not saved in %s", key, path.c_str());
    }
  }
  if (forgotten.empty() && !damaged) return kExitOk;
  if (const int error = WritePersistFile(path, saved)) {
    Complain("cannot save %s: %s", path.c_str(), strerror(error));
    return kExitFailed;
  }
  // Under the store's exclusive lock, as every change of the defaults file.
  StoreBatch store;
  if (store.result().status != ScanStatus::kOk) return kExitOk;  // nothing stored to mark
  PersistedSettings defaults = ReadStoredDefaults();
  for (const std::string& key : forgotten) {
    if (const std::string* value = store.Find(key)) defaults[key] = *value;
  }
  if (const int error = WriteStoredDefaults(defaults)) {
    Complain("cannot mark the forgotten values in %s: %s", kStoredDefaultsPath, strerror(error));
  }
  return kExitOk;
}

}  // namespace camprop
