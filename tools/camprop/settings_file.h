// Files of settings, one `key=value` per line, as `camprop load` reads them
// from /etc/camera/properties.d and `camprop persist` keeps them in
// /var/lib/camera/persist.properties. The rules are those of sysctl.d:
// blank lines and lines whose first non-blank byte is '#' are skipped, and
// blanks (spaces, tabs, carriage returns) around the key and the value are
// dropped. A line is refused when it has no '=', its key is empty or of 64
// bytes or more, its value of 92 bytes or more, or either holds a control
// byte: the store would cut such a key or value, and a control byte is
// never what an operator meant to type.
//
// Thread-safety: keeps no state.
#ifndef TOOLS_CAMPROP_SETTINGS_FILE_H_
#define TOOLS_CAMPROP_SETTINGS_FILE_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace camprop {

// One `key=value` line. Intentionally copyable.
struct Setting {
  std::string key;
  std::string value;
  size_t line = 0;  // from 1
};

// One refused line. Intentionally copyable.
struct SettingsProblem {
  size_t line = 0;  // from 1
  std::string reason;
};

// A settings file as read. Intentionally copyable.
struct SettingsFile {
  std::string bytes;  // the whole file as it was read
  std::vector<Setting> settings;
  std::vector<SettingsProblem> problems;
};

// How a settings file is opened.
enum class LinkPolicy {
  kFollow,  // a link an administrator put there is theirs to make
  kRefuse,  // a file this system writes itself: a link at its path is foreign
};

// Reads and parses the regular file at `path`. Returns 0, or an errno when
// it cannot be read: ENOENT for a missing file; EFBIG for one larger than
// any settings file (16 MiB), which is left unread; EINVAL for anything
// but a regular file; ELOOP for a link under kRefuse.
int ReadSettingsFile(const std::string& path, LinkPolicy links, SettingsFile* file);

// Why a settings file could not be read, for a complaint: a static text.
const char* DescribeSettingsError(int error);

// Reports a refused line on standard error as "PATH:LINE: reason", the
// form editors and compilers use, after whatever went to standard output.
void ReportLine(const std::string& path, size_t line, const std::string& reason);

// True when `key=value`, written as one line, reads back as exactly this
// key and value under the rules above.
bool FitsOnALine(const std::string& key, const std::string& value);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_SETTINGS_FILE_H_
