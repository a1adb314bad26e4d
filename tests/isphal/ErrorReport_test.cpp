// Tests of the error report: which sinks each sMode value selects, the exact
// texts each sink receives, the debug gate, and cut or failed formatting.
#include "aaa/isphal/src/utils/ErrorReport.h"

#include <stdint.h>
#include <wchar.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/report_capture.h"

namespace qvx {
namespace isphal {
namespace {

using isputils_test::ReportCapture;

constexpr char kFile[] = "tests/isphal/ErrorReport_test.cpp";

// Reports one error line from a function named "Reporter"; returns the line
// of the reporting statement.
int Reporter(int value) {
  const int line = __LINE__ + 1;
  ISP_REPORT_ERROR("revuvi-Test", "[%s] error: value=%d", value);
  return line;
}

void DebugReporter(int same) {
  ISP_REPORT_DEBUG("revuvi-Test", "[%s] same count? --> %d", same);
}

TEST(ErrorReportTest, ModeSelectsSinks) {
  const int line = Reporter(0);
  const std::string logLine = "log 2 E [revuvi-Test] [Reporter] error: value=7 (Reporter){#" +
                              std::to_string(line) + ":" + kFile + "}";
  const std::string ulogLine = "ulog 0x40007009 revuvi-Test 1 25 [Reporter] error: value=7";
  const struct {
    int32_t mode;
    std::string expected;
  } cases[] = {
      {0, ""},
      {1, logLine},
      {2, ulogLine},
      {3, logLine + "\n" + ulogLine},  // the platform log first
      {4, ""},
      {8, ulogLine},
      {10, ulogLine},
  };
  for (const auto& c : cases) {
    ReportCapture capture(c.mode);
    Reporter(7);
    EXPECT_EQ(capture.Events(), c.expected) << "sMode " << c.mode;
  }
}

TEST(ErrorReportTest, ModeIsReadAgainForTheUnifiedLogger) {
  ReportCapture capture(1);
  capture.SetPlatformLineHook([&capture] { capture.SetMode(2); });
  Reporter(1);
  ASSERT_EQ(capture.EventCount(), 2u);
  EXPECT_NE(capture.Events().find("ulog 0x40007009 revuvi-Test 1 25 [Reporter]"),
            std::string::npos);
}

TEST(ErrorReportTest, LongMessageIsCutWithinTheBuffer) {
  ReportCapture capture(2);
  const std::string longText(3000, 'x');
  ISP_REPORT_ERROR("revuvi-Test", "[%s] error: %s", longText.c_str());
  const std::string expectedText = ("[TestBody] error: " + longText).substr(0, 1023);
  EXPECT_EQ(capture.Events(), "ulog 0x40007009 revuvi-Test 1 1023 " + expectedText);
}

TEST(ErrorReportTest, FormatterFailureSkipsOnlyTheUnifiedLogger) {
  ReportCapture capture(3);
  // No multibyte form exists for this character, so formatting fails.
  const wchar_t unencodable[] = {static_cast<wchar_t>(0x110000), 0};
  ISP_REPORT_ERROR("revuvi-Test", "[%s] error: %ls", unencodable);
  ASSERT_EQ(capture.EventCount(), 1u);
  EXPECT_EQ(capture.Events().rfind("log 2 E [revuvi-Test] [TestBody] error: ", 0), 0u);
}

class ErrorReportDebugTest : public ::testing::Test {
 protected:
  void SetUp() override { isputils_test::EnablePlatformDebugLines(); }
};

TEST_F(ErrorReportDebugTest, GatePassesWithLevelAndBothMaskParts) {
  ReportCapture capture(3);
  capture.SetDetails(5, 0x40001000);
  DebugReporter(1);
  EXPECT_EQ(capture.Events(),
            "log -3 D [revuvi-Test] [DebugReporter] same count? --> 1\n"
            "ulog 0x40007009 revuvi-Test 5 33 [DebugReporter] same count? --> 1");

  capture.ClearEvents();
  capture.SetMode(2);
  capture.SetDetails(5, 0x40002000);  // each group bit passes alone
  DebugReporter(1);
  EXPECT_EQ(capture.Events(), "ulog 0x40007009 revuvi-Test 5 33 [DebugReporter] same count? --> 1");

  capture.ClearEvents();
  capture.SetMode(8);
  // Unsigned comparison: the largest level passes.
  capture.SetDetails(0xFFFFFFFFu, 0x40004000);
  DebugReporter(0);
  EXPECT_EQ(capture.Events(),
            "ulog 0x40007009 revuvi-Test 5 33 [DebugReporter] same count? --> 0");
}

TEST_F(ErrorReportDebugTest, GateStopsBothSinks) {
  ReportCapture capture(3);
  const struct {
    uint32_t level;
    int32_t mask;
  } closed[] = {{4, 0x40007000}, {0, 0x40001000}, {5, 0x40000000}, {5, 0x7000}, {5, 0}};
  for (const auto& c : closed) {
    capture.SetDetails(c.level, c.mask);
    DebugReporter(1);
    EXPECT_EQ(capture.Events(), "") << "level " << c.level << " mask " << c.mask;
  }
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
