// What the fuzz targets of the buffer library share: a unified logger that
// records every details line the library's error report emits, the check
// of those lines against the ones a model expects, and the entry that runs
// one session over an input and turns the logger off again.
//
// Thread-safety: libFuzzer calls a target from one thread; none of this
// locks anything.
#ifndef FUZZ_REPORT_CAPTURE_H_
#define FUZZ_REPORT_CAPTURE_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "ulog/ULogger.h"

namespace fuzz_support {

// One details line: its tag, its details type (1 error, 5 debug), its text.
struct Line {
  std::string tag;
  int32_t type;
  std::string text;
  bool operator==(const Line& o) const { return tag == o.tag && type == o.type && text == o.text; }
};

// Records every details line and checks the parts that never vary: the
// library's module id, and a length that is exactly the text handed over,
// never more than the report's 1023 bytes.
class CapturingLogger : public Pelkor::Utils::ULog::ULogger {
 public:
  void emitDetails(int32_t moduleId, const char* tag, int32_t detailsType, const char* text,
                   int32_t length) override {
    constexpr int32_t kIspHalModuleId = 0x40007009;
    if (moduleId != kIspHalModuleId) Fail("module id", std::to_string(moduleId));
    const size_t kept = strnlen(text, 1024);
    if (kept > 1023 || length < 0 || static_cast<size_t>(length) != kept) {
      Fail("length", std::to_string(length) + " for " + text);
    }
    lines.push_back({tag, detailsType, text});
  }
  std::vector<Line> lines;
};

// The logger every buffer-library target installs.
inline CapturingLogger& Logger() {
  static CapturingLogger logger;
  return logger;
}

// Compares the lines recorded since the last Logger().lines.clear() with
// `expected`, which are the lines the model predicts when the unified
// logger is on: with `mode` (ULogger::sMode) selecting it, they must match
// one for one; otherwise nothing may have arrived.
inline void CheckLines(const std::vector<Line>& expected, int32_t mode, int opcode) {
  const std::vector<Line> wanted = (mode & 0xA) != 0 ? expected : std::vector<Line>();
  const std::vector<Line>& got = Logger().lines;
  if (wanted == got) return;
  std::string detail = "opcode " + std::to_string(opcode) + "; expected:";
  for (const Line& line : wanted) {
    detail += "\n  " + line.tag + " " + std::to_string(line.type) + " " + line.text;
  }
  detail += "\ngot:";
  for (const Line& line : got) {
    detail += "\n  " + line.tag + " " + std::to_string(line.type) + " " + line.text;
  }
  Fail("report lines", detail);
}

// Runs one Session (constructed from the input, then Run()) and leaves the
// unified logger switched off, so that nothing between inputs reaches it.
template <class Session, class SessionInput>
int RunSession(const uint8_t* data, size_t size) {
  SessionInput in(data, size);
  {
    Session session(&in);
    session.Run();
  }
  Pelkor::Utils::ULog::ULogger::sMode = 0;
  return 0;
}

}  // namespace fuzz_support

#endif  // FUZZ_REPORT_CAPTURE_H_
