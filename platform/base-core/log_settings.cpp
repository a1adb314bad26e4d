// The minimum log level, the message handler and the one-time reading of
// the environment switches.
#include <stdlib.h>

#include <algorithm>
#include <atomic>

#include "base/logging.h"
#include "platform/base-core/log_state.h"

namespace logging {

namespace {

// Constant-initialised: no static constructor runs when the library loads.
// Relaxed: a reader sees either the old or the new value, both valid.
std::atomic<int> g_min_log_level{LOGGING_INFO};
std::atomic<LogMessageHandlerFunction> g_log_message_handler{nullptr};

bool ApplyEnvironment() {
  const char* v = getenv(internal::kVlogEnvironmentVariable);
  const char* vmodule = getenv(internal::kVmoduleEnvironmentVariable);
  if (v != nullptr || vmodule != nullptr) {
    internal::ApplyVlogSwitches(v != nullptr ? v : "",
                                vmodule != nullptr ? vmodule : "");
  }
  return true;
}

}  // namespace

namespace internal {

void EnsureEnvironmentApplied() {
  static const bool applied = ApplyEnvironment();
  (void)applied;
}

void StoreMinLogLevel(int level) {
  g_min_log_level.store(std::min(level, LOGGING_FATAL),
                        std::memory_order_relaxed);
}

}  // namespace internal

void SetMinLogLevel(int level) {
  internal::EnsureEnvironmentApplied();
  internal::StoreMinLogLevel(level);
}

int GetMinLogLevel() {
  internal::EnsureEnvironmentApplied();
  return g_min_log_level.load(std::memory_order_relaxed);
}

bool ShouldCreateLogMessage(int severity) {
  return severity >= GetMinLogLevel();
}

int GetVlogVerbosity() {
  return std::max(LOGGING_VERBOSE, LOGGING_INFO - GetMinLogLevel());
}

void SetLogMessageHandler(LogMessageHandlerFunction handler) {
  g_log_message_handler.store(handler, std::memory_order_release);
}

LogMessageHandlerFunction GetLogMessageHandler() {
  return g_log_message_handler.load(std::memory_order_acquire);
}

}  // namespace logging
