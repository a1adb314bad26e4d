// Tests of the platform log: the filter, the once-read log level, routing to
// the platform logging facility and the local assertion reporter. Every
// scenario that depends on the log level runs in a child process of its own
// with the level property stored in the private /run.
#include "platlog/platform_log.h"

#include <signal.h>
#include <stdint.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/log_service/child_process.h"
#include "tests/log_service/log_capture.h"
#include "tests/support/death_tests.h"
#include "tests/support/small_stack.h"

namespace {

using isputils_test::DiedWriting;
using isputils_test::LogCapture;
using isputils_test::RunWithLevelProperty;

constexpr char kLevelKey[] = "persist.qvx.camera.log_level";
constexpr char kPriorities[] = {'E', 'W', 'I', 'D', 'V'};

// Opens every gate of the facility for this module, so that only the
// filter decides what is logged.
void OpenAllGates() {
  logging::SetMinLogLevel(logging::LOGGING_INFO);
  logging::SetVlogSwitches("", "platform_log=3");
}

// Logs one message of each letter and returns the letters that arrived.
std::string LettersLogged() {
  LogCapture capture;
  for (char letter : kPriorities) platform_log_print(letter, "t", "m");
  std::string letters;
  for (const auto& line : capture.Lines()) letters += line.text.substr(0, 1);
  return letters;
}

TEST(PlatformLogTest, FilterFollowsItsTable) {
  const int levels[] = {INT_MIN, -100, -7, -1, 0, 1, 2, 3, 4, 10, INT_MAX};
  const int others[] = {'e', 'w', 'i', 'd', 'v', 'A', 0, -1, 'E' + 256};
  std::string rendered;
  for (int level : levels) {
    rendered += std::to_string(level) + ":";
    for (char letter : kPriorities) {
      if (test_log_level(letter, level)) rendered += letter;
    }
    for (int other : others) {
      if (test_log_level(other, level)) rendered += "!";
    }
    rendered += " ";
  }
  EXPECT_EQ(rendered,
            "-2147483648:E -100:E -7:E -1:E 0:E 1:EW 2:EWI 3:EWID 4:EWIDV "
            "10:EWIDV 2147483647:EWIDV ");
}

TEST(PlatformLogTest, LevelPropertyValuesGiveTheseLevels) {
  struct Case {
    const char* stored;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, "1:EW"},   {"-1", "1:EW"},      {"", "1:EW"},
      {"0", "0:E"},        {"-7", "-7:E"},      {"10", "10:EWIDV"},
      {"word", "0:E"},     {"2", "2:EWI"},      {"3", "3:EWID"},
      {"4", "4:EWIDV"},
  };
  for (const Case& c : cases) {
    std::string result = RunWithLevelProperty(c.stored, [] {
      OpenAllGates();
      std::string letters = LettersLogged();
      return std::to_string(determine_platform_log_level()) + ":" + letters;
    });
    EXPECT_EQ(result, c.expected) << "stored: " << (c.stored ? c.stored : "(unset)");
  }
}

TEST(PlatformLogTest, LevelIsReadOnceAndNeverRefreshed) {
  auto change_after_first_use = [](const char* first_call) {
    return [first_call] {
      OpenAllGates();
      std::string seen;
      if (first_call[0] == 'd') {
        seen += std::to_string(determine_platform_log_level());
      } else {
        platform_log_print('V', "t", "dropped");  // Filtered, yet fills the level.
      }
      property_set(kLevelKey, "4");
      for (int i = 0; i < 3; ++i) {
        seen += " " + std::to_string(determine_platform_log_level());
      }
      return seen + " " + LettersLogged();
    };
  };
  EXPECT_EQ(RunWithLevelProperty("1", change_after_first_use("determine")),
            "1 1 1 1 EW");
  // An unset property must be cached as the default, not re-read.
  EXPECT_EQ(RunWithLevelProperty(nullptr, change_after_first_use("determine")),
            "1 1 1 1 EW");
  EXPECT_EQ(RunWithLevelProperty("-1", change_after_first_use("print")),
            " 1 1 1 EW");
}

TEST(PlatformLogTest, FilterTestDoesNotFillTheLevel) {
  std::string result = RunWithLevelProperty("1", [] {
    std::string seen = std::to_string(test_log_level('V', 10));
    property_set(kLevelKey, "4");
    return seen + " " + std::to_string(determine_platform_log_level());
  });
  EXPECT_EQ(result, "1 4");
}

TEST(PlatformLogTest, ThreadsRacingOnTheFirstCallAgree) {
  std::string result = RunWithLevelProperty("3", [] {
    std::vector<int> levels(8, 0);
    std::vector<std::thread> threads;
    for (int& level : levels) {
      threads.emplace_back([&level] { level = determine_platform_log_level(); });
    }
    for (std::thread& thread : threads) thread.join();
    std::string seen;
    for (int level : levels) seen += std::to_string(level);
    return seen;
  });
  EXPECT_EQ(result, "33333333");
}

TEST(PlatformLogTest, FirstCallWorksOnTheSmallestThreadStack) {
  // The first call reads the level property from the store.
  std::string result = RunWithLevelProperty("2", [] {
    LogCapture capture;
    isputils_test::RunOnSmallestStack([] {
      OpenAllGates();
      platform_log_print('I', "tag", "%s %d", "small stack", 16);
    });
    return std::to_string(determine_platform_log_level()) + " " + capture.Render();
  });
  EXPECT_EQ(result, "2 -1|I [tag] small stack 16");
}

TEST(PlatformLogTest, LettersRouteToTheirGatesAndSeverities) {
  std::string result = RunWithLevelProperty("10", [] {
    std::string out;
    for (int vlevel = 0; vlevel <= 3; ++vlevel) {
      logging::SetVlogSwitches("", "platform_log=" + std::to_string(vlevel));
      LogCapture capture;
      for (char letter : kPriorities) platform_log_print(letter, "tag", "%c", letter);
      out += "v" + std::to_string(vlevel) + "[" + capture.Render() + "]\n";
    }
    logging::SetVlogSwitches("", "platform_log=3");
    for (int min_level : {1, 2, 3}) {
      logging::SetMinLogLevel(min_level);
      LogCapture capture;
      platform_log_print('E', "tag", "e");
      platform_log_print('W', "tag", "w");
      out += "min" + std::to_string(min_level) + "[" + capture.Render() + "]\n";
    }
    return out;
  });
  EXPECT_EQ(result,
            "v0[2|E [tag] E\n1|W [tag] W]\n"
            "v1[2|E [tag] E\n1|W [tag] W\n-1|I [tag] I]\n"
            "v2[2|E [tag] E\n1|W [tag] W\n-1|I [tag] I\n-2|V [tag] V]\n"
            "v3[2|E [tag] E\n1|W [tag] W\n-1|I [tag] I\n-3|D [tag] D\n"
            "-2|V [tag] V]\n"
            "min1[2|E [tag] e\n1|W [tag] w]\n"
            "min2[2|E [tag] e]\n"
            "min3[]\n");
}

TEST(PlatformLogTest, FilterAndGateMustBothPass) {
  std::string result = RunWithLevelProperty("2", [] {
    logging::SetVlogSwitches("", "platform_log=3");
    LogCapture capture;
    platform_log_print('D', "t", "filtered although the gate is open");
    logging::SetVlogSwitches("", "platform_log=0");
    platform_log_print('I', "t", "gate closed although the filter passes");
    return capture.Render();
  });
  EXPECT_EQ(result, "");
}

TEST(PlatformLogTest, FacilitySeesThisModulesPathAndLine) {
  std::string result = RunWithLevelProperty(nullptr, [] {
    LogCapture capture;
    platform_log_print('E', "IspExifSwTag", "[%s] error: %d", "getExifSwTagPointer", 7);
    auto lines = capture.Lines();
    if (lines.size() != 1) return std::string("lines: ") + std::to_string(lines.size());
    return lines[0].file + "|" + std::to_string(lines[0].line > 0) + "|" + lines[0].text;
  });
  EXPECT_EQ(result,
            "log_service/platform_log.cpp|1|"
            "E [IspExifSwTag] [getExifSwTagPointer] error: 7");
}

TEST(PlatformLogTest, PathPatternsMatchTheProjectRelativePath) {
  std::string result = RunWithLevelProperty("4", [] {
    std::string out;
    for (const char* vmodule : {"log_service/*=2", "other/*=2,log_service/platform_lo?.cpp=1",
                                "*/platform_log.cpp=0,platform_log=3"}) {
      logging::SetVlogSwitches("", vmodule);
      out += "[" + LettersLogged() + "]";
    }
    return out;
  });
  EXPECT_EQ(result, "[EWIV][EWI][EW]");
}

TEST(PlatformLogTest, MessagesAreCutAt1023Characters) {
  std::string result = RunWithLevelProperty(nullptr, [] {
    LogCapture capture;
    std::string long_text(2000, 'x');
    platform_log_print('E', "t", "%s", long_text.c_str());
    std::string exact(1023, 'y');
    platform_log_print('E', "t", "%s", exact.c_str());
    std::string out;
    for (const auto& line : capture.Lines()) out += std::to_string(line.text.size()) + " ";
    return out;
  });
  // "E [t] " is six characters before the message.
  EXPECT_EQ(result, "1029 1029 ");
}

TEST(PlatformLogTest, EmptyMessageLeavesPrefixAndTag) {
  std::string result = RunWithLevelProperty(nullptr, [] {
    LogCapture capture;
    platform_log_print('E', "tag", "%s", "");
    platform_log_print('W', "", "%s", "");
    return capture.Render();
  });
  EXPECT_EQ(result, "2|E [tag] \n1|W [] ");
}

TEST(PlatformLogTest, DroppedMessagesNeverReadTagOrFormat) {
  std::string result = RunWithLevelProperty("10", [] {
    OpenAllGates();
    // Reading either text would fault; a call through a pointer skips the
    // compile-time format check.
    const char* unreadable = reinterpret_cast<const char*>(uintptr_t{8});
    int (*print)(int, const char*, const char*, ...) = &platform_log_print;
    LogCapture capture;
    std::string results;
    for (int priority : {int{'e'}, int{'v'}, 0, int{'X'}, 1000}) {
      results += std::to_string(print(priority, unreadable, unreadable));
    }
    return results + "[" + capture.Render() + "]";
  });
  EXPECT_EQ(result, "00000[]");
  EXPECT_EQ(RunWithLevelProperty("0", [] {
              const char* unreadable = reinterpret_cast<const char*>(uintptr_t{8});
              int (*print)(int, const char*, const char*, ...) = &platform_log_print;
              return std::to_string(print('W', unreadable, unreadable));
            }),
            "0");
}

TEST(PlatformLogTest, NullTagOrFormatDoesNotCrash) {
  std::string result = RunWithLevelProperty(nullptr, [] {
    LogCapture capture;
    const char* null_text = nullptr;
    int (*print)(int, const char*, const char*, ...) = &platform_log_print;
    std::string results = std::to_string(print('E', null_text, "m %d", 1));
    results += std::to_string(print('E', "t", null_text));
    return results + "[" + capture.Render() + "]";
  });
  EXPECT_EQ(result, "00[2|E [] m 1]");
}

TEST(PlatformLogTest, UnhandledLinesReachStandardErrorWhole) {
  std::string result = RunWithLevelProperty(nullptr, [] {
    testing::internal::CaptureStderr();
    platform_log_print('E', "tag", "to %s", "stderr");
    return testing::internal::GetCapturedStderr();
  });
  EXPECT_THAT(result, testing::MatchesRegex(
                          "\\[ERROR:platform_log\\.cpp\\([0-9]+\\)\\] E \\[tag\\] to stderr\n"));
}

TEST(PlatformLogDeathTest, AssertWithoutTextsSaysUnspecified) {
  EXPECT_EXIT(__local_log_assert(nullptr, nullptr, nullptr),
              testing::KilledBySignal(SIGABRT),
              DiedWriting("Unspecified assertion failed\n"));
}

TEST(PlatformLogDeathTest, AssertWithConditionNamesIt) {
  EXPECT_EXIT(__local_log_assert("x > 0", "ignored", nullptr),
              testing::KilledBySignal(SIGABRT),
              DiedWriting("Assertion failed: x > 0\n"));
}

TEST(PlatformLogDeathTest, AssertWithFormatWritesOnlyTheMessage) {
  EXPECT_EXIT(__local_log_assert("x > 0", nullptr, "bad value %d in %s", 42, "frame"),
              testing::KilledBySignal(SIGABRT),
              DiedWriting("bad value 42 in frame\n"));
}

TEST(PlatformLogDeathTest, AssertTextIsCutAt511Characters) {
  std::string long_text(700, 'a');
  EXPECT_EXIT(__local_log_assert(nullptr, nullptr, "%s", long_text.c_str()),
              testing::KilledBySignal(SIGABRT),
              DiedWriting(std::string(511, 'a') + "\n"));
  std::string long_condition(700, 'c');
  EXPECT_EXIT(__local_log_assert(long_condition.c_str(), nullptr, nullptr),
              testing::KilledBySignal(SIGABRT),
              DiedWriting("Assertion failed: " + std::string(511 - 18, 'c') + "\n"));
}

}  // namespace
