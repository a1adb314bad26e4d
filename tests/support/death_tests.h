// Death tests that hold both natively and under a user-mode emulator such
// as QEMU's, which runs the cross-built test programs. The emulator differs
// in two ways a death test sees: it writes a line of its own to the
// standard error of a program that a signal kills ("qemu: uncaught target
// signal 6 (Aborted) - core dumped"), and it cannot start the test program
// afresh, as the "threadsafe" death-test style does (the kernel does not
// run a foreign program by itself).
//
// Thread-safety: as GoogleTest's flags and matchers.
#ifndef TESTS_SUPPORT_DEATH_TESTS_H_
#define TESTS_SUPPORT_DEATH_TESTS_H_

#include <ostream>
#include <string>
#include <utility>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace isputils_test {

// Runs the calling test's death tests each in a freshly started copy of the
// program ("threadsafe"), or under an emulator in a fork of this process
// ("fast"): the dying statement then starts from this process's state, so
// it must not depend on state that the test program builds before it.
inline void UseFreshProcessForDeathTests() {
#if defined(ISPUTILS_TEST_EMULATED)
  GTEST_FLAG_SET(death_test_style, "fast");
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
}

// True when `note` is exactly the line that QEMU's user mode adds for a
// program killed by a signal.
inline bool IsEmulatorSignalNote(const std::string& note) {
  static const char kPrefix[] = "qemu: uncaught target signal ";
  return note.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0 && note.back() == '\n' &&
         note.find('\n') == note.size() - 1;
}

// Matches the standard error of a program that wrote exactly `text` before
// it died, with nothing after it but an emulator's note on the signal.
class DiedWritingMatcher : public testing::MatcherInterface<const std::string&> {
 public:
  explicit DiedWritingMatcher(std::string text) : text_(std::move(text)) {}
  bool MatchAndExplain(const std::string& err, testing::MatchResultListener*) const override {
    return err == text_ || (err.size() > text_.size() && err.compare(0, text_.size(), text_) == 0 &&
                            IsEmulatorSignalNote(err.substr(text_.size())));
  }
  void DescribeTo(std::ostream* os) const override {
    *os << "is " << testing::PrintToString(text_)
        << ", optionally followed by an emulator's line on the signal";
  }

 private:
  std::string text_;
};

inline testing::Matcher<const std::string&> DiedWriting(const std::string& text) {
  return testing::MakeMatcher(new DiedWritingMatcher(text));
}

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_DEATH_TESTS_H_
