// The persist. values that are no one's setting, kept beside the store.
#include "tools/camprop/stored_defaults.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "tools/camprop/main.h"
#include "tools/camprop/settings_file.h"

namespace camprop {

PersistedSettings ReadStoredDefaults(const std::string& path) {
  PersistedSettings defaults;
  SettingsFile file;
  if (ReadSettingsFile(path, LinkPolicy::kRefuse, &file) != 0) return defaults;
  for (const Setting& setting : file.settings) defaults[setting.key] = setting.value;
  return defaults;
}

int WriteStoredDefaults(const std::string& path, const PersistedSettings& defaults) {
  std::string text = std::string(kEscapedFormatMark) +
                     " persist. values that camprop load stored as defaults\n";
  for (const auto& [key, value] : defaults) text += EscapedLine(key, value);
  // Rewritten in place under the store's lock, never renamed over: in the
  // sticky /run/camera only its owner could rename over the file, and a
  // camera process's view of it never matters before the lock is released.
  // An existing file is opened without O_CREAT, which a sticky directory
  // would refuse for a file of another user (fs.protected_regular).
  int fd = Calls().open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0 && errno == ENOENT) {
    if (defaults.empty()) return 0;
    fd = Calls().open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
  }
  if (fd < 0) return errno;
  int error = Calls().ftruncate(fd, 0) == 0 ? 0 : errno;
  for (size_t done = 0; error == 0 && done < text.size();) {
    const ssize_t wrote = Calls().pwrite(fd, text.data() + done, text.size() - done,
                                 static_cast<off_t>(done));
    if (wrote < 0 && errno != EINTR) error = errno;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  if (Calls().close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace camprop
