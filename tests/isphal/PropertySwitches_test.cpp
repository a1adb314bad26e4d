// Tests of the debug property switches against a recording property
// accessor. The accessor is bound by the dynamic linker, so the definition
// in this program takes the place of the camera stack's for libispbuffers:
// every call is recorded, with the terms the switches promise (a 128-byte
// zero-filled value buffer, a NULL fallback, the switch key padded to 128
// bytes), and answered from a table the test fills.
#include "isphal/PropertySwitches.h"

#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace {

constexpr char kEnableKey[] = "vendor.debug.aaa.perframe_prop.enable";
constexpr size_t kTextSize = 128;

// The accessor's answer for one key: its result and, unless null, the text
// it writes into the value buffer.
struct Answer {
  int result;
  const char* text;
};

struct Recorder {
  std::mutex mutex;
  std::map<std::string, Answer> answers;
  std::vector<std::string> calls;
  bool termsKept = true;
};

Recorder& TheRecorder() {
  static Recorder recorder;
  return recorder;
}

void SetAnswer(const std::string& key, int result, const char* text) {
  std::lock_guard<std::mutex> lock(TheRecorder().mutex);
  TheRecorder().answers[key] = Answer{result, text};
}

void Store(const std::string& key, const char* text) { SetAnswer(key, 1, text); }

std::vector<std::string> TakeCalls() {
  std::lock_guard<std::mutex> lock(TheRecorder().mutex);
  std::vector<std::string> calls;
  calls.swap(TheRecorder().calls);
  return calls;
}

}  // namespace

namespace Pelkor {
namespace Utils {
namespace Properties {

// Default visibility, so the dynamic linker binds libispbuffers to it.
__attribute__((visibility("default"))) int property_get(const char* key, char* value,
                                                        const char* fallback) {
  Recorder& recorder = TheRecorder();
  std::lock_guard<std::mutex> lock(recorder.mutex);
  recorder.calls.push_back(key);
  // The value buffer is 128 zero bytes and the fallback is NULL.
  for (size_t i = 0; i < kTextSize; ++i) recorder.termsKept &= value[i] == '\0';
  recorder.termsKept &= fallback == nullptr;
  // The switch key arrives as its full 128-byte zero-padded copy.
  if (strcmp(key, kEnableKey) == 0) {
    for (size_t i = sizeof(kEnableKey); i < kTextSize; ++i) recorder.termsKept &= key[i] == '\0';
  }
  auto found = recorder.answers.find(key);
  if (found == recorder.answers.end()) return 0;
  if (found->second.text != nullptr) {
    strncpy(value, found->second.text, kTextSize - 1);
  }
  return found->second.result;
}

}  // namespace Properties
}  // namespace Utils
}  // namespace Pelkor

namespace qvx {
namespace isphal {
namespace {

// "on" or "off": whether GET_PROP reads the probe property right now.
std::string SwitchState() {
  Store("probe", "42");
  const int value = GET_PROP("probe", -5);
  return value == 42 ? "on" : value == -5 ? "off" : "?";
}

TEST(PropertySwitchesTest, SwitchStartsOffAndGetPropDoesNotAsk) {
  Store("isp.level", "9");
  EXPECT_EQ(GET_PROP("isp.level", 3), 3);
  EXPECT_TRUE(TakeCalls().empty());
  EXPECT_EQ(FORCE_GET_PROP("isp.level", 3), 9);
  EXPECT_EQ(TakeCalls(), std::vector<std::string>{"isp.level"});
  EXPECT_TRUE(TheRecorder().termsKept);
}

TEST(PropertySwitchesTest, CheckPropEnFollowsOnlyZeroAndOne) {
  struct Step {
    int result;
    const char* text;
  };
  // Each step sets the enable property, runs CHECK_PROP_EN, probes.
  const Step steps[] = {{1, "1"},  {1, "2"},   {1, "0"},     {1, "10"}, {1, "1"},
                        {1, "-1"}, {0, "0"},   {1, " +1x"},  {1, "word"}, {1, "1"},
                        {1, ""},   {1, "1"},   {1, nullptr}, {1, "1"},  {-1, "0"}};
  std::string states;
  for (const Step& step : steps) {
    SetAnswer(kEnableKey, step.result, step.text);
    CHECK_PROP_EN();
    states += SwitchState() + " ";
  }
  // No value (result 0) keeps the switch; a word, an empty text and an
  // untouched buffer all read as 0 and turn it off; any non-zero result
  // counts as a value.
  EXPECT_EQ(states, "on on off off on on on on off on off on off on off ");
  EXPECT_TRUE(TheRecorder().termsKept);
}

TEST(PropertySwitchesTest, NullKeyGivesFallbackWithoutAsking) {
  Store(kEnableKey, "1");
  CHECK_PROP_EN();
  TakeCalls();
  EXPECT_EQ(GET_PROP(nullptr, 17), 17);
  EXPECT_EQ(FORCE_GET_PROP(nullptr, 18), 18);
  EXPECT_TRUE(TakeCalls().empty());
}

TEST(PropertySwitchesTest, ValuesConvertAsAtoiDoes) {
  Store(kEnableKey, "1");
  CHECK_PROP_EN();
  struct Case {
    int result;
    const char* text;
    int expected;
  };
  const Case cases[] = {{1, "  -12", -12}, {1, "+7", 7},       {1, "12abc", 12},
                        {1, "abc", 0},     {1, nullptr, 0},    {0, "99", 1000},
                        {5, "2147483647", 2147483647}};
  for (const Case& c : cases) {
    SetAnswer("isp.value", c.result, c.text);
    EXPECT_EQ(GET_PROP("isp.value", 1000), c.expected) << (c.text ? c.text : "untouched");
    EXPECT_EQ(FORCE_GET_PROP("isp.value", 1000), c.expected) << (c.text ? c.text : "untouched");
  }
  EXPECT_TRUE(TheRecorder().termsKept);
}

// A GET_PROP racing CHECK_PROP_EN sees either setting, never anything else.
TEST(PropertySwitchesTest, ConcurrentCallersSeeOldOrNewSetting) {
  Store("probe", "42");
  std::thread toggler([] {
    for (int i = 0; i < 2000; ++i) {
      Store(kEnableKey, i % 2 == 0 ? "1" : "0");
      CHECK_PROP_EN();
    }
  });
  int unexpected = 0;
  for (int i = 0; i < 2000; ++i) {
    const int value = GET_PROP("probe", -5);
    unexpected += value != 42 && value != -5;
  }
  toggler.join();
  EXPECT_EQ(unexpected, 0);
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
