// Test support for everything that reports through the ISP utilities' error
// report: records, in arrival order, every line that reaches either sink, the
// platform log (through the logging facility's message handler) and the
// unified logger (through a ULogger subclass installed as sULogger). While a
// ReportCapture lives it owns the unified logger's four settings and the
// facility's handler; its destructor puts all of them back.
//
// Events are rendered as text so that one assertion checks a whole sequence:
//   "log <severity> <line text after the facility's prefix>"
//   "ulog <module id in hex> <tag> <details type> <length> <text>"
//
// Thread-safety: one ReportCapture at a time, made and destroyed on the
// test's main thread; lines may arrive from any thread.
#ifndef TESTS_SUPPORT_REPORT_CAPTURE_H_
#define TESTS_SUPPORT_REPORT_CAPTURE_H_

#include <stdint.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ulog/ULogger.h"

namespace isputils_test {

class ReportCapture : public Pelkor::Utils::ULog::ULogger {
 public:
  // Installs this object as sULogger and as the platform log's line handler,
  // and sets sMode to `mode`; the detail settings are set to 0 (debug lines
  // off) until SetDetails changes them.
  explicit ReportCapture(int32_t mode);
  ~ReportCapture() override;

  void SetMode(int32_t mode);
  void SetDetails(uint32_t level, int32_t mask);

  // Runs `hook` inside every platform log line's delivery, after the line is
  // recorded: lets a test change settings between the two sinks of a report.
  void SetPlatformLineHook(std::function<void()> hook);

  // Every event so far, one per line ("\n"-separated); "" when none.
  std::string Events() const;
  // The event that a unified-logger line of the ISP library with these
  // parts renders as, its length being that of `text`.
  static std::string UlogEvent(const std::string& tag, int32_t detailsType,
                               const std::string& text);
  // The number of events so far.
  size_t EventCount() const;
  void ClearEvents();

  void emitDetails(int32_t moduleId, const char* tag, int32_t detailsType,
                   const char* text, int32_t length) override;

 private:
  static bool HandleLogLine(int severity, const char* file, int line,
                            size_t messageStart, const std::string& str);
  void Record(std::string event);

  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::function<void()> platformLineHook_;

  int32_t savedMode_;
  ULogger* savedLogger_;
  uint32_t savedDetailsLevel_;
  int32_t savedDetailsMask_;
};

// Lets 'D' lines through the platform log in this process: stores log level 3
// in the (private) property store and raises the facility's verbose level for
// the platform log's source file. Must run before the process's first
// platform log call, since the level is read once.
void EnablePlatformDebugLines();

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_REPORT_CAPTURE_H_
