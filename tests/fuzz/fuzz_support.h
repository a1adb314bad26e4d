// What every fuzz target of the project shares: failing loudly with a
// reason, formatting the texts a model expects, reading the fuzz input a
// byte at a time, moving into a private /run before the first input, and
// comparing the report lines a session recorded with a model's.
//
// Thread-safety: libFuzzer calls a target from one thread; none of this
// locks anything.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H_
#define TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/private_run.h"

namespace fuzz_support {

// Ends the run with a finding: the target's name, what differed, detail.
[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
  fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, detail.c_str());
  abort();
}

// printf into a std::string, cut at 1023 bytes as the libraries' own report
// buffers cut their texts.
inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

// Reads the fuzz input front to back; past its end every byte reads as 0,
// so a short input still drives a whole operation.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // `bytes` bytes (at most 8), little-endian.
  uint64_t Bits(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(Byte()) << (8 * i);
    return value;
  }
  // Up to `count` bytes as they stand, fewer where the input ends.
  std::string Bytes(size_t count) {
    const size_t n = count < size_ - at_ ? count : size_ - at_;
    std::string bytes(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Moves the process into a mount namespace of its own with a tmpfs on /run,
// so the property store's fixed path is the fuzzer's; ends the run if it
// cannot.
inline void EnterPrivateRunOrFail() {
  std::string error;
  if (!isputils_test::EnterPrivateRun(&error)) Fail("cannot make a private /run", error);
}

// One fuzz input run as a session of a target: `SessionType` takes the
// input (as `InputType`, a fuzz_support::Input) and checks every step of
// Run() against its model, failing loudly on a difference. Returns 0, as
// LLVMFuzzerTestOneInput does.
template <typename SessionType, typename InputType>
int RunSession(const uint8_t* data, size_t size) {
  InputType input(data, size);
  SessionType session(&input);
  session.Run();
  return 0;
}

// Defines the libFuzzer entry points of a target whose every input is one
// session (RunSession), in a private /run made before the first input.
#define ISPUTILS_FUZZ_SESSION_TARGET(SessionType, InputType)                 \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                      \
    fuzz_support::EnterPrivateRunOrFail();                                  \
    return 0;                                                               \
  }                                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    return fuzz_support::RunSession<SessionType, InputType>(data, size);    \
  }

// Compares the report lines a capture recorded during one operation (`got`,
// as ReportCapture::Events renders them) with `expected`, the unified-logger
// lines a model predicts when that logger is on: with `mode`
// (ULogger::sMode) selecting it they must match one for one; otherwise
// nothing may have arrived.
inline void CheckLines(const std::vector<std::string>& expected, const std::string& got,
                       int32_t mode, int opcode) {
  std::string wanted;
  if ((mode & 0xA) != 0) {
    for (const std::string& line : expected) wanted += (wanted.empty() ? "" : "\n") + line;
  }
  if (wanted == got) return;
  Fail("report lines", "opcode " + std::to_string(opcode) + "; expected:\n" + wanted +
                           "\ngot:\n" + got);
}

}  // namespace fuzz_support

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H_
