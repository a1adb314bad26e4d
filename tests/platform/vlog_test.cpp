// Tests of the logging facility's "--v" / "--vmodule" rules: pattern
// matching, module names, path patterns, first-match order and fallbacks.
#include "base/vlog.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "gtest/gtest.h"
#include "tests/platform/scoped_log_settings.h"

namespace {

using isputils_test::ScopedLogSettings;

int LevelOf(const std::string& file) {
  return logging::GetVlogLevelHelper(file.c_str(), file.size() + 1);
}

// The verbose level of each file, as blank-separated "file=level" words, so
// that one assertion checks a whole table.
std::string LevelsOf(std::initializer_list<const char*> files) {
  std::string levels;
  for (const char* file : files) {
    levels += (levels.empty() ? "" : " ") + std::string(file) + "=" + std::to_string(LevelOf(file));
  }
  return levels;
}

TEST(VlogTest, PatternMustMatchTheWholeText) {
  struct Case {
    const char* text;
    const char* pattern;
    bool matches;
  };
  const Case cases[] = {
      {"platform_log", "platform_log", true},
      {"platform_log", "platform_lo", false},
      {"platform_lo", "platform_log", false},
      {"platform_log", "platform*", true},
      {"platform_log", "*log", true},
      {"platform_log", "*", true},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "?", false},
      {"platform_log", "platform_lo?", true},
      {"platform_log", "platform_?", false},
      {"aXbYc", "a*b*c", true},
      {"abcbcd", "a*bcd", true},   // The star must give back what it took.
      {"abcbce", "a*bcd", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*b", true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*b", false},
      {"a*b", "a*b", true},
      {"ab", "a**b", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(logging::MatchVlogPattern(c.text, c.pattern), c.matches)
        << "'" << c.text << "' against '" << c.pattern << "'";
  }
}

TEST(VlogTest, SeparatorsMatchEitherKind) {
  EXPECT_TRUE(logging::MatchVlogPattern("a\\b/c.cc", "a/b\\c.cc"));
  EXPECT_TRUE(logging::MatchVlogPattern("a\\b\\c.cc", "a/*/c.cc"));
  EXPECT_FALSE(logging::MatchVlogPattern("a_b/c.cc", "a/b/c.cc"));
  EXPECT_TRUE(logging::MatchVlogPattern("a/b", "a?b"));  // "?" takes a separator too.
}

TEST(VlogTest, ModuleIsTheBaseNameWithoutExtensionOrInl) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "foo=2");
  // Only the last extension goes; directories are not the module.
  EXPECT_EQ("a/b/foo.cc=2 a\\b\\foo.cpp=2 foo-inl.h=2 foo=2 foo.tar.gz=0 foo/bar.cc=0 foobar.cc=0",
            LevelsOf({"a/b/foo.cc", "a\\b\\foo.cpp", "foo-inl.h", "foo", "foo.tar.gz",
                      "foo/bar.cc", "foobar.cc"}));
}

TEST(VlogTest, PatternsWithSlashesMatchTheWholePath) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "log_service/*=3,*\\legacy\\*=1");
  EXPECT_EQ("log_service/platform_log.cpp=3 log_service\\platform_log.cpp=3 "
            "src/log_service/platform_log.cpp=0 src/legacy/old.cc=1",
            LevelsOf({"log_service/platform_log.cpp", "log_service\\platform_log.cpp",
                      "src/log_service/platform_log.cpp", "src/legacy/old.cc"}));
  // A module pattern never sees the directories.
  logging::SetVlogSwitches("", "log_service*=3");
  EXPECT_EQ("log_service/platform_log.cpp=0", LevelsOf({"log_service/platform_log.cpp"}));
}

TEST(VlogTest, FirstMatchingPatternWins) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "foo*=1,foobar=4");
  EXPECT_EQ("foobar.cc=1", LevelsOf({"foobar.cc"}));
  logging::SetVlogSwitches("", "foobar=4,foo*=1");
  EXPECT_EQ("foobar.cc=4 food.cc=1", LevelsOf({"foobar.cc", "food.cc"}));
}

TEST(VlogTest, UnmatchedFilesGetTheVLevel) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "");
  EXPECT_EQ("any.cc=0", LevelsOf({"any.cc"}));
  logging::SetVlogSwitches("2", "foo=5");
  EXPECT_EQ("any.cc=2 foo.cc=5", LevelsOf({"any.cc", "foo.cc"}));
  logging::SetMinLogLevel(logging::LOGGING_WARNING);
  EXPECT_EQ("any.cc=-1", LevelsOf({"any.cc"}));
  // An empty list clears the patterns set before.
  logging::SetVlogSwitches("", "");
  EXPECT_EQ("foo.cc=-1", LevelsOf({"foo.cc"}));
}

TEST(VlogTest, MalformedEntriesAreSkippedOrCountAsZero) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("3", "foo=x,bar=,baz,=7,qux=2x,neg=-2,ok=2");
  // "baz" has no '=': no pattern at all.
  EXPECT_EQ("foo.cc=0 bar.cc=0 baz.cc=3 qux.cc=0 neg.cc=-2 ok.cc=2 =3",
            LevelsOf({"foo.cc", "bar.cc", "baz.cc", "qux.cc", "neg.cc", "ok.cc", ""}));
}

TEST(VlogTest, LookupReadsNoFurtherThanTheGivenSize) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "foo=2,foo.ccX=4");
  // Not NUL-terminated where the size says it ends.
  const char unterminated[] = {'f', 'o', 'o', '.', 'c', 'c', 'X'};
  EXPECT_EQ(logging::GetVlogLevelHelper(unterminated, 7), 2);
  EXPECT_EQ(logging::GetVlogLevelHelper(nullptr, 0), 0);
  EXPECT_EQ(logging::GetVlogLevelHelper("foo.cc", 0), 0);
}

TEST(VlogTest, LookupsDuringSwitchChangesSeeOneWholeList) {
  ScopedLogSettings restore;
  logging::SetVlogSwitches("", "foo=1");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        int level = LevelOf("dir/foo.cc");
        if (level != 1 && level != 2) bad.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    logging::SetVlogSwitches("", i % 2 ? "foo=1" : "bar=7,foo*=2");
  }
  stop.store(true);
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
