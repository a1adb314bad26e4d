// camprop persist restore: stores back the persist. properties that
// `camprop persist watch` saved, as the camera properties service does at
// every boot, after the defaults. Damaged lines are reported and skipped
// (persist_file.h); they never keep the sound ones from being restored.
#include <string>

#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"

namespace camprop {

int RunPersistRestore(const std::string& path) {
  PersistedSettings saved;
  bool damaged = false;
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  return ApplySettings({}, saved, true);
}

}  // namespace camprop
