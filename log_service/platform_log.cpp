// The platform log: the once-read log level, the priority filter, routing of
// messages to the platform logging facility and the local assertion
// reporter.
#include "platlog/platform_log.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <array>
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

// Constant-initialised, so loading the library runs no constructor. Threads
// racing on the first call may each read the level property; every one of
// them stores a valid level, so any winner is fine.
std::atomic<int32_t> gCachedLogLevel{kLevelUnread};

// What the platform log does with one priority letter: the lowest log level
// at which the filter passes it, and how it reaches the platform logging
// facility.
struct LetterRule {
  int64_t min_level;             // kNever for a value that is no letter
  char prefix[3];                // the letter and a blank
  bool verbose;                  // gated by the per-file verbose level, else severity
  int gate;                      // the verbose level needed, or the severity asked
  logging::LogSeverity severity;
};

constexpr int64_t kNever = INT64_MAX;
constexpr int kFirstLetter = 'D';
constexpr int kLastLetter = 'W';
constexpr size_t kLetterCount = kLastLetter - kFirstLetter + 1;

// Indexed by letter - 'D', so the dropped path is one bounds test and one
// load, with no indirect jump. 'V' needs verbose level 2 and 'D' level 3,
// although the filter passes 'D' at a lower log level than 'V': callers and
// deployed settings rely on it.
constexpr std::array<LetterRule, kLetterCount> BuildLetterRules() {
  std::array<LetterRule, kLetterCount> rules{};
  for (LetterRule& rule : rules) rule = {kNever, "", false, 0, 0};
  rules['E' - kFirstLetter] = {INT64_MIN, "E ", false, logging::LOGGING_ERROR,
                               logging::LOGGING_ERROR};
  rules['W' - kFirstLetter] = {1, "W ", false, logging::LOGGING_WARNING,
                               logging::LOGGING_WARNING};
  rules['I' - kFirstLetter] = {2, "I ", true, 1, -1};
  rules['D' - kFirstLetter] = {3, "D ", true, 3, -3};
  rules['V' - kFirstLetter] = {4, "V ", true, 2, -2};
  return rules;
}
constexpr std::array<LetterRule, kLetterCount> kLetterRules = BuildLetterRules();

constexpr bool EveryRuleNamesItsLetter() {
  for (size_t i = 0; i < kLetterCount; ++i) {
    const LetterRule& rule = kLetterRules[i];
    const bool is_letter = rule.min_level != kNever;
    if (is_letter != (rule.prefix[0] == static_cast<char>(kFirstLetter + i))) return false;
    if (is_letter && rule.prefix[1] != ' ') return false;
  }
  return true;
}
static_assert(EveryRuleNamesItsLetter(), "a letter's rule sits at its own index");

// The rule of `priority`, or null for a value that is no priority letter.
inline const LetterRule* RuleOf(int priority) {
  const unsigned index = static_cast<unsigned>(priority) - kFirstLetter;
  if (index >= kLetterCount || kLetterRules[index].min_level == kNever) return nullptr;
  return &kLetterRules[index];
}

inline bool PassesFilter(int priority, int level) {
  const unsigned index = static_cast<unsigned>(priority) - kFirstLetter;
  // No level reaches kNever, so the gaps between the letters need no test.
  return index < kLetterCount && static_cast<int64_t>(level) >= kLetterRules[index].min_level;
}

bool GateAllows(const LetterRule& rule) {
  if (!rule.verbose) return logging::ShouldCreateLogMessage(rule.gate);
  return logging::GetVlogLevelHelper(kSourcePath, sizeof(kSourcePath)) >= rule.gate;
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

// Everything after the filter, kept out of platform_log_print so that the
// dropped path needs no large frame and saves no registers. Also the path of
// the first call, which still has to read the level.
__attribute__((noinline)) void PrintIfPasses(int priority, const char* tag,
                                             const char* format, va_list args) {
  if (!PassesFilter(priority, LogLevel())) return;
  // A NULL format has nothing to say; formatting it would crash.
  if (format == nullptr) return;

  // Formatting comes before the facility's gate on purpose: every message
  // that passes the filter reads its arguments, whatever the facility's
  // switches say, so a bad argument fails in testing and not first on a
  // device where someone turned verbose logging on. Do not swap the two.
  char message[kMessageBufferSize];
  memset(message, 0, sizeof(message));
  vsnprintf(message, sizeof(message), format, args);

  const LetterRule& rule = *RuleOf(priority);  // the filter passed: a letter
  if (!GateAllows(rule)) return;

  logging::LogMessage log_message(kSourcePath, __LINE__, rule.severity);
  log_message.stream() << rule.prefix << "[" << (tag != nullptr ? tag : "") << "] "
                       << message;
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
