// The platform logging facility: severities, the minimum log level, per-file
// verbose levels (the "--v" and "--vmodule" switches), a replaceable message
// handler and LogMessage, which builds one line and emits it when destroyed.
// This is the part of the base logging API that the camera stack touches,
// with the same names and meanings, so the full facility can replace it.
//
// Switching logging on without code: the environment variables
// BASE_LOG_V and BASE_LOG_VMODULE are read once, on the first call into
// this library, and act as SetVlogSwitches(BASE_LOG_V, BASE_LOG_VMODULE).
// For example BASE_LOG_V=1 enables verbose level 1 everywhere, and
// BASE_LOG_VMODULE="platform_log=3" enables levels 1 to 3 for the source
// file platform_log.cc/.cpp alone. Calls made later from code win over the
// environment.
//
// Thread-safety: every function may be called from any thread. The minimum
// level and the handler are single atomic values; the verbose patterns are
// guarded by a lock. A LogMessage object belongs to the thread that made it.
#ifndef PLATFORM_BASE_CORE_INCLUDE_BASE_LOGGING_H_
#define PLATFORM_BASE_CORE_INCLUDE_BASE_LOGGING_H_

#include <stddef.h>

#include <ostream>
#include <sstream>
#include <string>

#include "base/base_export.h"

namespace logging {

// A severity: 0 and above are the named ones below; a verbose message of
// verbose level n has severity -n.
using LogSeverity = int;

constexpr LogSeverity LOGGING_VERBOSE = -1;
constexpr LogSeverity LOGGING_INFO = 0;
constexpr LogSeverity LOGGING_WARNING = 1;
constexpr LogSeverity LOGGING_ERROR = 2;
constexpr LogSeverity LOGGING_FATAL = 3;
constexpr LogSeverity LOGGING_NUM_SEVERITIES = 4;

constexpr LogSeverity LOG_VERBOSE = LOGGING_VERBOSE;
constexpr LogSeverity LOG_INFO = LOGGING_INFO;
constexpr LogSeverity LOG_WARNING = LOGGING_WARNING;
constexpr LogSeverity LOG_ERROR = LOGGING_ERROR;
constexpr LogSeverity LOG_FATAL = LOGGING_FATAL;
constexpr LogSeverity LOG_NUM_SEVERITIES = LOGGING_NUM_SEVERITIES;

// Sets the minimum severity that ShouldCreateLogMessage accepts. Values above
// LOGGING_FATAL are lowered to LOGGING_FATAL, so fatal messages always pass.
// Thread-safe.
BASE_EXPORT void SetMinLogLevel(int level);

// Returns the minimum log level; 0 (LOGGING_INFO) unless changed.
// Thread-safe.
BASE_EXPORT int GetMinLogLevel();

// Returns true when a message of `severity` is wanted, that is when it is at
// least the minimum log level. Thread-safe.
BASE_EXPORT bool ShouldCreateLogMessage(int severity);

// Returns the verbose level in force where no "--vmodule" pattern applies:
// max(-1, LOGGING_INFO - GetMinLogLevel()). Thread-safe.
BASE_EXPORT int GetVlogVerbosity();

// Returns the verbose level for the source file `file`, whose text is N - 1
// characters long (N counts the terminating NUL, as sizeof of a literal
// does). The first "--vmodule" pattern that matches decides; a pattern with
// a slash or backslash is matched against the whole path, any other against
// the module name (the base name without its last extension and without a
// trailing "-inl"). Without a match the result is GetVlogVerbosity().
// Reads at most N - 1 bytes of `file`; a NULL `file` or N of 0 counts as an
// empty path. Thread-safe.
BASE_EXPORT int GetVlogLevelHelper(const char* file, size_t N);

// Sets the "--v" and "--vmodule" switches. A non-empty `v` that is a number
// N sets the minimum log level to -N (so verbose levels up to N pass); an
// empty or malformed `v` leaves the level alone. `vmodule` is a
// comma-separated list "pattern=level" ("platform_log=3,foo*=1") that
// replaces the previous list; a level that is no number counts as 0, and
// entries without "=" are skipped. Thread-safe.
BASE_EXPORT void SetVlogSwitches(const std::string& v,
                                 const std::string& vmodule);

// A message handler: receives every finished message with its severity,
// source location, the offset at which the text after the prefix starts, and
// the whole line (newline included). Returning true consumes the message;
// returning false lets it go on to standard error.
typedef bool (*LogMessageHandlerFunction)(int severity, const char* file,
                                          int line, size_t message_start,
                                          const std::string& str);

// Installs `handler` (NULL removes it). The handler is called on the
// logging thread and must be thread-safe itself. Thread-safe.
BASE_EXPORT void SetLogMessageHandler(LogMessageHandlerFunction handler);

// Returns the installed handler, or NULL. Thread-safe.
BASE_EXPORT LogMessageHandlerFunction GetLogMessageHandler();

// One log line. The constructor writes the prefix "[SEVERITY:file(line)] "
// (INFO, WARNING, ERROR, FATAL or VERBOSEn; the base name of `file`); the
// caller writes the message into stream(); the destructor adds a newline
// and emits the line: to the handler if one is installed and it consumes the
// line, else to standard error in one write. An unconsumed FATAL message
// aborts the process after it was written. `file` must outlive the object.
// Not copyable; used by one thread.
class BASE_EXPORT LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  ~LogMessage();

  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  // The stream that receives the message text.
  std::ostream& stream() { return stream_; }

  LogSeverity severity() const { return severity_; }

 private:
  void Init(const char* file, int line);

  LogSeverity severity_;
  std::ostringstream stream_;
  size_t message_start_;  // Offset of the text after the prefix.
  const char* file_;
  int line_;
};

}  // namespace logging

#endif  // PLATFORM_BASE_CORE_INCLUDE_BASE_LOGGING_H_
