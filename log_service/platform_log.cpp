// The platform log: the once-read log level, the priority filter, routing of
// messages to the platform logging facility and the local assertion
// reporter.
//
// Thread-safety: the only shared state is the cached log level, a relaxed
// atomic 32-bit integer. Threads racing on the first call may each read the
// level property; every one of them stores a valid level, so any winner is
// fine. Everything else lives on the calling thread's stack.
#include "platlog/platform_log.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "base/logging.h"
#include "propstore/properties.h"

namespace {

constexpr char kLogLevelProperty[] = "persist.qvx.camera.log_level";
constexpr int32_t kLevelUnread = -1;
constexpr int32_t kDefaultLogLevel = 1;

constexpr size_t kMessageBufferSize = 1024;
constexpr size_t kAssertBufferSize = 512;

// The facility matches its per-file verbose setting against this path, so
// it must stay the project-relative name of this file (the build maps
// __FILE__ to it); sizeof counts the NUL, as the facility expects.
constexpr char kSourcePath[] = __FILE__;

// Constant-initialised, so loading the library runs no constructor.
std::atomic<int32_t> gCachedLogLevel{kLevelUnread};

// How one priority letter reaches the platform logging facility.
struct Route {
  char prefix[3];        // The letter and a blank.
  bool verbose;          // Gated by the per-file verbose level, else severity.
  int gate;              // The verbose level needed, or the severity asked.
  logging::LogSeverity severity;
};

// 'V' needs verbose level 2 and 'D' level 3, although the filter passes 'D'
// at a lower log level than 'V': callers and deployed settings rely on it.
const Route* RouteOf(int priority) {
  static constexpr Route kError = {"E ", false, logging::LOGGING_ERROR,
                                   logging::LOGGING_ERROR};
  static constexpr Route kWarning = {"W ", false, logging::LOGGING_WARNING,
                                     logging::LOGGING_WARNING};
  static constexpr Route kInfo = {"I ", true, 1, -1};
  static constexpr Route kDebug = {"D ", true, 3, -3};
  static constexpr Route kVerbose = {"V ", true, 2, -2};
  switch (priority) {
    case 'E': return &kError;
    case 'W': return &kWarning;
    case 'I': return &kInfo;
    case 'D': return &kDebug;
    case 'V': return &kVerbose;
    default: return nullptr;
  }
}

bool GateAllows(const Route& route) {
  if (!route.verbose) return logging::ShouldCreateLogMessage(route.gate);
  return logging::GetVlogLevelHelper(kSourcePath, sizeof(kSourcePath)) >=
         route.gate;
}

// Reads the level property; the slow path of the first call only.
__attribute__((noinline)) int32_t ReadLogLevel() {
  int32_t level = property_get_int32(kLogLevelProperty, kLevelUnread);
  // A stored -1 means "not set" as well, and keeping -1 in the cache would
  // re-read the property on every call.
  if (level == kLevelUnread) level = kDefaultLogLevel;
  gCachedLogLevel.store(level, std::memory_order_relaxed);
  return level;
}

// The exported entry points call these directly rather than each other, so
// a dropped message costs no call through the library's own PLT.
inline int32_t LogLevel() {
  int32_t level = gCachedLogLevel.load(std::memory_order_relaxed);
  return level != kLevelUnread ? level : ReadLogLevel();
}

// The lowest log level at which each letter passes, indexed from 'D' to 'W';
// a value that is no priority letter never passes. A table rather than a
// switch keeps the dropped path free of an indirect jump.
constexpr int kFirstLetter = 'D';
constexpr int64_t kNever = INT64_MAX;
constexpr int64_t kMinLevelOfLetter['W' - 'D' + 1] = {
    /* D */ 3,      /* E */ INT64_MIN, kNever, kNever, kNever,
    /* I */ 2,      kNever, kNever, kNever, kNever, kNever, kNever, kNever,
    kNever, kNever, kNever, kNever, kNever,
    /* V */ 4,      /* W */ 1,
};

inline bool PassesFilter(int priority, int level) {
  unsigned index = static_cast<unsigned>(priority) - kFirstLetter;
  if (index >= sizeof(kMinLevelOfLetter) / sizeof(kMinLevelOfLetter[0])) return false;
  return static_cast<int64_t>(level) >= kMinLevelOfLetter[index];
}

// Everything after the filter, kept out of platform_log_print so that the
// dropped path needs no large frame and saves no registers. Also the path of
// the first call, which still has to read the level.
__attribute__((noinline)) void PrintIfPasses(int priority, const char* tag,
                                             const char* format, va_list args) {
  if (!PassesFilter(priority, LogLevel())) return;
  // A NULL format has nothing to say; formatting it would crash.
  if (format == nullptr) return;

  char message[kMessageBufferSize];
  memset(message, 0, sizeof(message));
  vsnprintf(message, sizeof(message), format, args);

  const Route* route = RouteOf(priority);
  if (route == nullptr || !GateAllows(*route)) return;

  logging::LogMessage log_message(kSourcePath, __LINE__, route->severity);
  log_message.stream() << route->prefix << "[" << (tag != nullptr ? tag : "")
                       << "] " << message;
}

}  // namespace

extern "C" {

int determine_platform_log_level(void) { return LogLevel(); }

int test_log_level(int priority, int level) { return PassesFilter(priority, level); }

int platform_log_print(int priority, const char* tag, const char* format, ...) {
  // The filter runs first: a dropped message reads neither tag nor format.
  int32_t level = gCachedLogLevel.load(std::memory_order_relaxed);
  if (level != kLevelUnread && !PassesFilter(priority, level)) return 0;
  va_list args;
  va_start(args, format);
  PrintIfPasses(priority, tag, format, args);
  va_end(args);
  return 0;
}

}  // extern "C"

void __local_log_assert(const char* condition, const char* /*unused*/,
                        const char* format, ...) {
  char text[kAssertBufferSize];
  memset(text, 0, sizeof(text));
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
  } else if (condition != nullptr) {
    snprintf(text, sizeof(text), "Assertion failed: %s", condition);
  } else {
    snprintf(text, sizeof(text), "%s", "Unspecified assertion failed");
  }
  // Raw writes: the process is about to abort, so nothing may sit in a
  // stdio buffer, and the results do not matter.
  ssize_t ignored = write(STDERR_FILENO, text, strnlen(text, sizeof(text)));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  abort();
}
