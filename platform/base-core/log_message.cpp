// LogMessage: builds one line, "[SEVERITY:file(line)] text\n", and emits it
// through the installed handler or to standard error.
#include "base/logging.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <string_view>

namespace logging {

namespace {

constexpr const char* kSeverityNames[LOGGING_NUM_SEVERITIES] = {
    "INFO", "WARNING", "ERROR", "FATAL"};

std::string_view BaseName(const char* file) {
  if (file == nullptr) return std::string_view();
  std::string_view path(file);
  size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Writes all of `text` to standard error, continuing after partial writes
// and interruptions so that a line is never silently cut. A whole line goes
// out in one write() where it can, so lines of different threads do not
// interleave.
void WriteToStderr(const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t written = write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), message_start_(0), file_(file), line_(line) {
  Init(file, line);
}

void LogMessage::Init(const char* file, int line) {
  stream_ << '[';
  if (severity_ >= 0 && severity_ < LOGGING_NUM_SEVERITIES) {
    stream_ << kSeverityNames[severity_];
  } else if (severity_ < 0) {
    // -severity cannot overflow in a long.
    stream_ << "VERBOSE" << -static_cast<long>(severity_);
  } else {
    stream_ << "UNKNOWN";
  }
  stream_ << ':' << BaseName(file) << '(' << line << ")] ";
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  stream_ << '\n';
  std::string str = stream_.str();
  LogMessageHandlerFunction handler = GetLogMessageHandler();
  if (handler != nullptr &&
      handler(severity_, file_, line_, message_start_, str)) {
    return;
  }
  WriteToStderr(str);
  if (severity_ == LOGGING_FATAL) abort();
}

}  // namespace logging
