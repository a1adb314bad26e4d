// Tests of the logging facility: the minimum level and its gate, the "--v"
// switch, the message handler, LogMessage's line format and where lines go,
// and the switches taken from the environment.
#include "base/logging.h"

#include <stdlib.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/platform/scoped_log_settings.h"
#include "tests/support/death_tests.h"

namespace {

using isputils_test::DiedWriting;
using isputils_test::ScopedLogSettings;

struct HandledLine {
  int severity;
  std::string file;
  int line;
  size_t message_start;
  std::string str;
};

std::vector<HandledLine>* g_handled = nullptr;
bool g_consume = true;

bool RecordingHandler(int severity, const char* file, int line,
                      size_t message_start, const std::string& str) {
  g_handled->push_back({severity, file, line, message_start, str});
  return g_consume;
}

class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    g_handled = &handled_;
    g_consume = true;
    logging::SetLogMessageHandler(&RecordingHandler);
  }
  void TearDown() override { g_handled = nullptr; }

  ScopedLogSettings restore_;
  std::vector<HandledLine> handled_;
};

TEST_F(LoggingTest, MinLevelGatesSeveritiesAndIsClampedAtFatal) {
  EXPECT_EQ(logging::GetMinLogLevel(), logging::LOGGING_INFO);
  EXPECT_TRUE(logging::ShouldCreateLogMessage(logging::LOGGING_INFO));
  EXPECT_FALSE(logging::ShouldCreateLogMessage(logging::LOGGING_VERBOSE));
  EXPECT_EQ(logging::GetVlogVerbosity(), 0);

  logging::SetMinLogLevel(10);
  EXPECT_EQ(logging::GetMinLogLevel(), logging::LOGGING_FATAL);
  EXPECT_FALSE(logging::ShouldCreateLogMessage(logging::LOGGING_ERROR));
  EXPECT_TRUE(logging::ShouldCreateLogMessage(logging::LOGGING_FATAL));
  EXPECT_EQ(logging::GetVlogVerbosity(), -1);

  logging::SetMinLogLevel(-2);
  EXPECT_TRUE(logging::ShouldCreateLogMessage(-2));
  EXPECT_FALSE(logging::ShouldCreateLogMessage(-3));
  EXPECT_EQ(logging::GetVlogVerbosity(), 2);
}

TEST_F(LoggingTest, VSwitchSetsTheMinLevelToItsNegation) {
  logging::SetVlogSwitches("3", "");
  EXPECT_EQ(logging::GetMinLogLevel(), -3);
  EXPECT_EQ(logging::GetVlogVerbosity(), 3);
  logging::SetVlogSwitches("", "");        // Empty: left alone.
  EXPECT_EQ(logging::GetMinLogLevel(), -3);
  logging::SetVlogSwitches("three", "");   // Malformed: left alone.
  EXPECT_EQ(logging::GetMinLogLevel(), -3);
  logging::SetVlogSwitches("-1", "");
  EXPECT_EQ(logging::GetMinLogLevel(), 1);
  logging::SetVlogSwitches("-2147483648", "");
  EXPECT_EQ(logging::GetMinLogLevel(), logging::LOGGING_FATAL);
}

TEST_F(LoggingTest, LineCarriesSeverityBaseNameAndLine) {
  const int severities[] = {logging::LOGGING_INFO, logging::LOGGING_WARNING,
                            logging::LOGGING_ERROR, -1, -3, 9};
  for (int severity : severities) {
    logging::LogMessage message("dir/sub/file.cc", 42, severity);
    message.stream() << "text " << severity;
  }
  std::string rendered;
  for (const HandledLine& line : handled_) {
    rendered += line.str;
    EXPECT_EQ(line.file, "dir/sub/file.cc");
    EXPECT_EQ(line.line, 42);
    EXPECT_EQ(line.str.substr(line.message_start), "text " + std::to_string(line.severity) + "\n");
  }
  EXPECT_EQ(rendered,
            "[INFO:file.cc(42)] text 0\n"
            "[WARNING:file.cc(42)] text 1\n"
            "[ERROR:file.cc(42)] text 2\n"
            "[VERBOSE1:file.cc(42)] text -1\n"
            "[VERBOSE3:file.cc(42)] text -3\n"
            "[UNKNOWN:file.cc(42)] text 9\n");
}

TEST_F(LoggingTest, ConsumedLinesStayOffStandardError) {
  testing::internal::CaptureStderr();
  { logging::LogMessage("a.cc", 1, logging::LOGGING_ERROR).stream() << "kept"; }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(handled_.size(), 1u);
}

TEST_F(LoggingTest, UnconsumedLinesGoToStandardError) {
  g_consume = false;
  testing::internal::CaptureStderr();
  { logging::LogMessage("a/b.cc", 7, logging::LOGGING_WARNING).stream() << "seen twice"; }
  logging::SetLogMessageHandler(nullptr);
  EXPECT_EQ(logging::GetLogMessageHandler(), nullptr);
  { logging::LogMessage("c.cc", 8, logging::LOGGING_INFO).stream() << "no handler"; }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[WARNING:b.cc(7)] seen twice\n[INFO:c.cc(8)] no handler\n");
  EXPECT_EQ(handled_.size(), 1u);
}

TEST(LoggingDeathTest, UnconsumedFatalAbortsAfterWriting) {
  EXPECT_DEATH(
      { logging::LogMessage("x/y.cc", 5, logging::LOGGING_FATAL).stream() << "boom"; },
      DiedWriting("[FATAL:y.cc(5)] boom\n"));
}

TEST_F(LoggingTest, ConsumedFatalLeavesHandlingToTheHandler) {
  { logging::LogMessage("x.cc", 1, logging::LOGGING_FATAL).stream() << "handled"; }
  ASSERT_EQ(handled_.size(), 1u);
  EXPECT_EQ(handled_[0].str, "[FATAL:x.cc(1)] handled\n");
}

TEST(LoggingDeathTest, EnvironmentSetsTheSwitchesOnceAndCodeWins) {
  // A fresh process is needed: the environment is read on first use.
  isputils_test::UseFreshProcessForDeathTests();
  setenv("BASE_LOG_V", "2", 1);
  setenv("BASE_LOG_VMODULE", "platform_log=4,x/*=1", 1);
  EXPECT_EXIT(
      {
        bool ok = logging::GetMinLogLevel() == -2 &&
                  logging::GetVlogLevelHelper("log_service/platform_log.cpp", 29) == 4 &&
                  logging::GetVlogLevelHelper("x/other.cc", 11) == 1 &&
                  logging::GetVlogLevelHelper("other.cc", 9) == 2;
        setenv("BASE_LOG_V", "5", 1);
        logging::SetVlogSwitches("", "");
        ok = ok && logging::GetMinLogLevel() == -2 &&
             logging::GetVlogLevelHelper("platform_log.cpp", 17) == 2;
        exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
