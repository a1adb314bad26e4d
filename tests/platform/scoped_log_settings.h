// Test helper: saves the logging facility's process-wide settings and puts
// them back when it goes out of scope, so a test leaves nothing behind.
//
// Thread-safety: use on the test's main thread only.
#ifndef TESTS_PLATFORM_SCOPED_LOG_SETTINGS_H_
#define TESTS_PLATFORM_SCOPED_LOG_SETTINGS_H_

#include "base/logging.h"

namespace isputils_test {

class ScopedLogSettings {
 public:
  ScopedLogSettings()
      : min_log_level_(logging::GetMinLogLevel()),
        handler_(logging::GetLogMessageHandler()) {}
  ~ScopedLogSettings() {
    logging::SetVlogSwitches("", "");
    logging::SetMinLogLevel(min_log_level_);
    logging::SetLogMessageHandler(handler_);
  }
  ScopedLogSettings(const ScopedLogSettings&) = delete;
  ScopedLogSettings& operator=(const ScopedLogSettings&) = delete;

 private:
  int min_log_level_;
  logging::LogMessageHandlerFunction handler_;
};

}  // namespace isputils_test

#endif  // TESTS_PLATFORM_SCOPED_LOG_SETTINGS_H_
