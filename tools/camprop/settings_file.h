// Files of settings, one `key=value` per line: the defaults camprop load
// reads and the settings camprop persist keeps. The rules are sysctl.d's: a
// UTF-8 byte-order mark is skipped; blank lines and lines that begin with
// '#' or ';' are comments; blanks around the key and the value are dropped;
// a line whose key begins with '-' is skipped in silence should it be bad.
// A line is bad without '=', with an empty key, a key of 64 bytes or more,
// a value of 92 or more (the store would cut them), or a control byte
// (never what an operator meant to type).
//
// A file whose first line is kEscapedFormatMark (the saved settings) carries
// any key and value byte for byte: "\\" stands for a backslash, "\xHH" for
// the byte HH.
//
// Thread-safety: keeps no state.
#ifndef TOOLS_CAMPROP_SETTINGS_FILE_H_
#define TOOLS_CAMPROP_SETTINGS_FILE_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace camprop {

// The most bytes read of any settings file, and the most `camprop persist
// watch` ever writes: far beyond any real file of defaults, and small enough
// that a hostile or damaged one costs little. Of a larger file only the
// whole lines within the first this many bytes are read.
inline constexpr size_t kLargestSettingsFile = size_t{16} << 20;

// The start of the first line of a file written with escapes.
inline constexpr char kEscapedFormatMark[] = "# camprop-escaped-settings 1:";

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

// How many refused lines a settings file keeps for a report: a flood of bad
// lines costs neither memory nor a journal full of them, only a count.
inline constexpr size_t kProblemsKept = 10;

// A settings file as read. Intentionally copyable.
struct SettingsFile {
  std::vector<Setting> settings;
  std::vector<SettingsProblem> problems;  // the first kProblemsKept refused lines
  size_t problem_count = 0;               // every refused line
  bool cut = false;   // larger than kLargestSettingsFile: the rest was not read
};

// How a settings file is opened.
enum class LinkPolicy {
  kFollow,  // a link an administrator put there is theirs to make
  kRefuse,  // a file this system writes itself: a link at its path is foreign
};

// Reads and parses the regular file at `path`. Returns 0, or an errno when
// it cannot be read: ENOENT for a missing file; EINVAL for anything but a
// regular file; ELOOP for a link under kRefuse.
int ReadSettingsFile(const std::string& path, LinkPolicy links, SettingsFile* file);

// As ReadSettingsFile, of the file open at `fd`, which stays open.
int ReadSettingsFrom(int fd, SettingsFile* file);

// Why a settings file could not be read, for a complaint: a static text.
const char* DescribeSettingsError(int error);

// Reports a refused line on standard error as "PATH:LINE: reason", the
// form editors and compilers use, after whatever went to standard output;
// at warning priority when standard error is the journal.
void ReportLine(const std::string& path, size_t line, const std::string& reason);

// Reports `problems` (in line order) as ReportLine does, at most
// kProblemsKept of them, then how many of `count` in all were not shown.
void ReportLines(const std::string& path, std::vector<SettingsProblem> problems, size_t count);

// `key=value` and a newline, escaped as a file that begins with
// kEscapedFormatMark holds them: it reads back as exactly this key and value.
std::string EscapedLine(const std::string& key, const std::string& value);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_SETTINGS_FILE_H_
