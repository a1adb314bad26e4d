// Test helper: captures the lines that reach the platform logging facility
// by installing a message handler, and renders them as one string so a
// single assertion checks a whole sequence.
//
// Thread-safety: captured lines are guarded by a mutex; one LogCapture may
// be alive at a time (the handler is process-wide).
#ifndef TESTS_LOG_SERVICE_LOG_CAPTURE_H_
#define TESTS_LOG_SERVICE_LOG_CAPTURE_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace isputils_test {

// One line as the facility's handler saw it.
struct CapturedLine {
  int severity;
  std::string file;
  int line;
  std::string text;  // The message after the facility's prefix, no newline.
};

// Installs the capturing handler for its lifetime and restores the previous
// handler afterwards. The handler consumes every line (nothing reaches
// standard error).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedLine> Lines() const;

  // "<severity>|<text>" per line, joined with "\n"; "" when nothing came.
  std::string Render() const;

  void Clear();
};

}  // namespace isputils_test

#endif  // TESTS_LOG_SERVICE_LOG_CAPTURE_H_
