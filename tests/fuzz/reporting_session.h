// The session of a fuzz target whose operations report through the ISP
// library's error report: reads an opcode byte, runs the operation, checks
// the report lines it left against those the model expects, then checks
// the whole state, until the input ends. Derived sessions define the
// operations (Step) and the state check (CheckAll), and push each line the
// model expects onto expected_.
//
// Thread-safety: one session on libFuzzer's one thread.
#ifndef TESTS_FUZZ_REPORTING_SESSION_H_
#define TESTS_FUZZ_REPORTING_SESSION_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tests/support/report_capture.h"

namespace fuzz_support {

template <typename InputType>
class ReportingSession {
 public:
  ReportingSession(InputType* input, int opcodes, int max_operations)
      : in_(*input), opcodes_(opcodes), max_operations_(max_operations) {}
  virtual ~ReportingSession() = default;

  void Run() {
    for (int i = 0; i < max_operations_ && !in_.empty(); ++i) {
      expected_.clear();
      const int opcode = in_.Byte() % opcodes_;
      Step(opcode);
      CheckLines(expected_, capture_.Events(), mode_, opcode);
      capture_.ClearEvents();
      CheckAll(opcode);
    }
  }

 protected:
  // One operation, its arguments read from in_.
  virtual void Step(int opcode) = 0;
  // The whole state against the model, after operation `opcode`.
  virtual void CheckAll(int opcode) = 0;

  // Sets the unified logger's mode (ULogger::sMode), which decides whether
  // report lines are recorded at all.
  void SetMode(int32_t mode) {
    mode_ = mode;
    capture_.SetMode(mode);
  }

  InputType& in_;
  // A base, so set up before any object a derived session holds and put
  // back after the last one is gone.
  isputils_test::ReportCapture capture_{0};
  std::vector<std::string> expected_;

 private:
  const int opcodes_;
  const int max_operations_;
  int32_t mode_ = 0;
};

}  // namespace fuzz_support

#endif  // TESTS_FUZZ_REPORTING_SESSION_H_
