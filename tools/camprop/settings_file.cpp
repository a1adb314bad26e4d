// Reading and checking `key=value` settings files.
#include "tools/camprop/settings_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "property_store/internal/storage_file.h"

namespace camprop {
namespace {

// Far beyond any real settings file (a line holds at most about 160 bytes
// of text), and small enough that a hostile or damaged one read whole
// costs little: a sparse file of any size is refused unread.
constexpr off_t kLargestFile = off_t{16} << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool IsControl(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
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

// Parses one line (without its newline). Returns false for a line that
// holds nothing; otherwise true, with *setting filled or *reason set.
bool ParseLine(const char* begin, const char* end, Setting* setting, std::string* reason) {
  Trim(&begin, &end);
  if (begin == end || *begin == '#') return false;
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
  } else {
    *reason = ControlByteIn(setting->key, "key");
    if (reason->empty()) *reason = ControlByteIn(setting->value, "value");
  }
  return true;
}

// Reads the whole of `fd`, whose size is known to be below kLargestFile.
// Returns 0 or the errno of the failing read.
int ReadAll(int fd, std::string* bytes) {
  char chunk[16384];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A file that grows while it is read is cut at the limit.
    if (bytes->size() + static_cast<size_t>(got) > static_cast<size_t>(kLargestFile)) {
      return EFBIG;
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
  const int fd = open(path.c_str(), flags);
  if (fd < 0) return errno;
  struct stat info;
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
  } else if (info.st_size > kLargestFile) {
    error = EFBIG;
  } else {
    error = ReadAll(fd, &file->bytes);
  }
  close(fd);
  if (error != 0) return error;

  const char* at = file->bytes.data();
  const char* const end = at + file->bytes.size();
  for (size_t line = 1; at < end; ++line) {
    const char* newline = static_cast<const char*>(memchr(at, '\n', end - at));
    const char* line_end = newline != nullptr ? newline : end;
    Setting setting;
    std::string reason;
    if (ParseLine(at, line_end, &setting, &reason)) {
      if (reason.empty()) {
        setting.line = line;
        file->settings.push_back(std::move(setting));
      } else {
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
    case EFBIG:
      return "is larger than 16 MiB, more than any settings file holds";
    case EACCES:
    case EPERM:
      return "permission denied";
    default:
      return strerror(error);
  }
}

void ReportLine(const std::string& path, size_t line, const std::string& reason) {
  fflush(stdout);
  fprintf(stderr, "%s:%zu: %s\n", path.c_str(), line, reason.c_str());
}

bool FitsOnALine(const std::string& key, const std::string& value) {
  if (key.empty() || key.size() >= PROPERTY_KEY_SIZE || value.size() >= PROPERTY_VALUE_SIZE ||
      key[0] == '#' || key.find('=') != std::string::npos) {
    return false;
  }
  for (const std::string* text : {&key, &value}) {
    if (!text->empty() && (IsBlank(text->front()) || IsBlank(text->back()))) return false;
    if (!ControlByteIn(*text, "").empty()) return false;
  }
  return true;
}

}  // namespace camprop
