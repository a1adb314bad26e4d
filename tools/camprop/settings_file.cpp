// Reading and checking `key=value` settings files, and writing the escaped
// lines of the saved persist file.
#include "tools/camprop/settings_file.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "property_store/internal/record.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/main.h"

namespace camprop {
namespace {

constexpr char kByteOrderMark[] = "\xef\xbb\xbf";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsControl(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, strlen(prefix), prefix) == 0;
}

// [begin, end) without the blanks at either end.
void Trim(const char** begin, const char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// The first control byte of `text` as "control byte 0xNN in the WHAT", or
// "" when it holds none.
std::string ControlByteIn(const std::string& text, const char* what) {
  for (const char c : text) {
    if (!IsControl(c)) continue;
    char reason[48];
    snprintf(reason, sizeof(reason), "control byte 0x%02x in the %s",
             static_cast<unsigned char>(c), what);
    return reason;
  }
  return "";
}

constexpr char kHexDigits[] = "0123456789abcdef";

int HexDigit(char c) {
  const char* digit = c != '\0' ? strchr(kHexDigits, tolower(c)) : nullptr;
  return digit != nullptr ? static_cast<int>(digit - kHexDigits) : -1;
}

// Replaces the escapes of *text by the bytes they stand for. Returns "" or
// why the text is not sound.
std::string Unescape(std::string* text, const char* what) {
  std::string plain;
  for (size_t i = 0; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '\\') {
      const std::string& t = *text;
      if (i + 1 < t.size() && t[i + 1] == '\\') {
        ++i;
      } else if (i + 3 < t.size() && t[i + 1] == 'x' && HexDigit(t[i + 2]) >= 0 &&
                 HexDigit(t[i + 3]) >= 0) {
        c = static_cast<char>(HexDigit(t[i + 2]) * 16 + HexDigit(t[i + 3]));
        i += 3;
      } else {
        return std::string("bad escape in the ") + what + " (\\\\ or \\xHH)";
      }
      if (c == '\0') return std::string("NUL byte in the ") + what;
    }
    plain += c;
  }
  *text = std::move(plain);
  return "";
}

// Parses one line (without its newline). Returns false for a line that
// holds nothing; otherwise true, with *setting filled or *reason set, and
// *optional telling whether a refusal is to be ignored.
bool ParseLine(const char* begin, const char* end, bool escaped, Setting* setting,
               std::string* reason, bool* optional) {
  Trim(&begin, &end);
  if (begin == end || *begin == '#' || *begin == ';') return false;
  *optional = *begin == '-';
  if (*optional) ++begin;
  const char* equals = static_cast<const char*>(memchr(begin, '=', end - begin));
  if (equals == nullptr) {
    *reason = "no '=' in the line";
    return true;
  }
  const char* key_end = equals;
  const char* value_begin = equals + 1;
  Trim(&begin, &key_end);
  Trim(&value_begin, &end);
  setting->key.assign(begin, key_end);
  setting->value.assign(value_begin, end);
  if (escaped) {
    *reason = Unescape(&setting->key, "key");
    if (reason->empty()) *reason = Unescape(&setting->value, "value");
    if (!reason->empty()) return true;
  }
  char text[96];
  if (setting->key.empty()) {
    *reason = "empty key";
  } else if (setting->key.size() >= PROPERTY_KEY_SIZE) {
    snprintf(text, sizeof(text), "key is %zu bytes long; a key holds at most %d bytes",
             setting->key.size(), PROPERTY_KEY_SIZE - 1);
    *reason = text;
  } else if (setting->value.size() >= PROPERTY_VALUE_SIZE) {
    snprintf(text, sizeof(text), "value is %zu bytes long; a value holds at most %d bytes",
             setting->value.size(), PROPERTY_VALUE_SIZE - 1);
    *reason = text;
  } else if (!escaped) {
    *reason = ControlByteIn(setting->key, "key");
    if (reason->empty()) *reason = ControlByteIn(setting->value, "value");
  }
  return true;
}

// Reads `fd` to its end or to kLargestSettingsFile bytes, whichever comes
// first; *cut tells whether there was more. Returns 0 or the errno of the
// failing read.
int ReadAll(int fd, std::string* bytes, bool* cut) {
  char chunk[16384];
  for (;;) {
    const size_t room = kLargestSettingsFile - bytes->size();
    const ssize_t got = Calls().read(fd, chunk, room < sizeof(chunk) ? room : sizeof(chunk));
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) {
      // At the limit, one more byte tells whether the file goes on.
      char more;
      *cut = room == 0 && Calls().read(fd, &more, 1) == 1;
      return 0;
    }
    bytes->append(chunk, static_cast<size_t>(got));
  }
}

}  // namespace

int ReadSettingsFile(const std::string& path, LinkPolicy links, SettingsFile* file) {
  *file = SettingsFile();
  // O_NONBLOCK: a FIFO at the path cannot hang the open (a boot waits on
  // this); it is then refused as not a regular file.
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  if (links == LinkPolicy::kRefuse) flags |= O_NOFOLLOW;
  const int fd = Calls().open(path.c_str(), flags, 0);
  if (fd < 0) return errno;
  const int error = ReadSettingsFrom(fd, file);
  Calls().close(fd);
  return error;
}

int ReadSettingsFrom(int fd, SettingsFile* file) {
  *file = SettingsFile();
  struct stat info;
  if (Calls().fstat(fd, &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EINVAL;
  // Room for what the file holds, so the text is not grown by doubling.
  std::string bytes;
  bytes.reserve(static_cast<size_t>(info.st_size) < kLargestSettingsFile
                    ? static_cast<size_t>(info.st_size)
                    : kLargestSettingsFile);
  if (const int error = ReadAll(fd, &bytes, &file->cut)) return error;

  size_t start = StartsWith(bytes, 0, kByteOrderMark) ? sizeof(kByteOrderMark) - 1 : 0;
  const bool escaped = StartsWith(bytes, start, kEscapedFormatMark);
  const char* at = bytes.data() + start;
  const char* end = bytes.data() + bytes.size();
  // Of a file cut short, the line the cut went through is not read.
  if (file->cut) {
    while (end > at && end[-1] != '\n') --end;
  }
  for (size_t line = 1; at < end; ++line) {
    const char* newline = static_cast<const char*>(memchr(at, '\n', end - at));
    const char* line_end = newline != nullptr ? newline : end;
    Setting setting;
    std::string reason;
    bool optional = false;
    if (ParseLine(at, line_end, escaped, &setting, &reason, &optional)) {
      if (reason.empty()) {
        setting.line = line;
        file->settings.push_back(std::move(setting));
      } else if (!optional && file->problem_count++ < kProblemsKept) {
        file->problems.push_back({line, std::move(reason)});
      }
    }
    at = newline != nullptr ? newline + 1 : end;
  }
  return 0;
}

const char* DescribeSettingsError(int error) {
  switch (error) {
    case ELOOP:
      return "is a symbolic link, which is not followed";
    case EINVAL:
      return "is not a regular file";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return strerror(error);
  }
}

void ReportLine(const std::string& path, size_t line, const std::string& reason) {
  fflush(stdout);
  fprintf(stderr, "%s%s:%zu: %s\n", WarningPrefix(), path.c_str(), line, reason.c_str());
}

void ReportLines(const std::string& path, std::vector<SettingsProblem> problems, size_t count) {
  std::sort(problems.begin(), problems.end(),
            [](const SettingsProblem& a, const SettingsProblem& b) { return a.line < b.line; });
  if (problems.size() > kProblemsKept) problems.resize(kProblemsKept);
  for (const SettingsProblem& problem : problems) ReportLine(path, problem.line, problem.reason);
  if (count > problems.size()) {
    Complain("%s: %zu more bad lines not shown", path.c_str(), count - problems.size());
  }
}

std::string EscapedLine(const std::string& key, const std::string& value) {
  std::string line;
  line.reserve(4 * (key.size() + value.size()) + 2);  // room for every byte escaped
  const auto append = [&line](const std::string& text, bool is_key) {
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const bool edge = i == 0 || i + 1 == text.size();
      // What the reader would otherwise take for something else: its escape
      // character, a control byte, a blank it trims, the key's end, and a
      // comment or an ignored-failure mark at the start of the line.
      const bool escape = c == '\\' || IsControl(c) || (edge && c == ' ') ||
                          (is_key && (c == '=' || (i == 0 && (c == '#' || c == ';' || c == '-'))));
      if (!escape) {
        line += c;
      } else if (c == '\\') {
        line += "\\\\";
      } else {
        const unsigned char byte = static_cast<unsigned char>(c);
        const char hex[] = {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xf]};
        line.append(hex, sizeof(hex));
      }
    }
  };
  append(key, true);
  line += '=';
  append(value, false);
  line += '\n';
  return line;
}

}  // namespace camprop
