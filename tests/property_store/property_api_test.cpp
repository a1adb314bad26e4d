// The exported property API: key-length refusal and its message, fallbacks,
// the typed readers' conversions and the boolean words.
#include <stdint.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/private_run.h"
#include "tests/support/small_stack.h"

namespace isputils_test {
namespace {

// Each test starts from an empty store in the private /run and leaves an
// empty one behind.
class PropertyApiTest : public testing::Test {
 protected:
  void SetUp() override { ResetStore(); }
  void TearDown() override { ResetStore(); }

  // Result and text of property_get, rendered "<result>:<text>".
  static std::string Get(const std::string& key, const char* fallback) {
    char value[PROPERTY_VALUE_SIZE];
    memset(value, '#', sizeof(value));
    value[sizeof(value) - 1] = '\0';
    const int result = property_get(key.c_str(), value, fallback);
    return std::to_string(result) + ":" + (result < 0 ? "<untouched>" : value);
  }
};

TEST_F(PropertyApiTest, GetReturnsStoredTextOrFallback) {
  ASSERT_EQ(0, property_set("stored", "hello"));
  ASSERT_EQ(0, property_set("empty", ""));
  EXPECT_EQ("5:hello", Get("stored", "fb"));
  EXPECT_EQ("0:", Get("missing", nullptr));
  EXPECT_EQ("3:abc", Get("missing", "abc"));
  EXPECT_EQ("91:" + std::string(91, 'f'), Get("missing", std::string(100, 'f').c_str()));
  // Stored empty counts as stored: the fallback is not used...
  EXPECT_EQ("0:", Get("empty", "fb"));
  // ...but the typed readers, which see length 0, return their fallbacks.
  EXPECT_EQ(7, property_get_int32("empty", 7));
  EXPECT_EQ(INT64_C(-8), property_get_int64("empty", -8));
  EXPECT_EQ(1, property_get_bool("empty", 1));
}

TEST_F(PropertyApiTest, KeysOfSixtyFourBytesAreRefusedWithMessage) {
  const std::string key63(63, 'k');
  const std::string key64(64, 'k');
  ASSERT_EQ(0, property_set(key63.c_str(), "42"));
  testing::internal::CaptureStdout();
  EXPECT_EQ("2:42", Get(key63, nullptr));
  EXPECT_EQ("-1:<untouched>", Get(key64, "fallback"));
  EXPECT_EQ(0, property_get_int32(key64.c_str(), 5));
  EXPECT_EQ(0, property_get_int32_remote(key64.c_str(), 5));
  EXPECT_EQ(0, property_get_int64(key64.c_str(), 5));
  EXPECT_EQ(1, property_get_bool(key64.c_str(), 1));
  EXPECT_EQ(0, property_get_bool(key64.c_str(), 0));
  EXPECT_EQ("-1:<untouched>", Get(std::string(200, 'x'), nullptr));
  // The length is judged before the value buffer is looked at.
  EXPECT_EQ(-1, property_get(key64.c_str(), nullptr, "fallback"));
  const std::string out = testing::internal::GetCapturedStdout();
  std::string expected;
  for (int i = 0; i < 6; ++i) expected += "invalid key length 64\n";
  expected += "invalid key length 200\n";
  expected += "invalid key length 64\n";
  EXPECT_EQ(expected, out);
}

TEST_F(PropertyApiTest, NullArgumentsAreRefusedWithoutTouchingTheFile) {
  ASSERT_EQ(0, property_set("k", "v"));
  const std::string before = ReadStoreFile();
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, property_set(nullptr, "v"));
  EXPECT_EQ(-1, property_set("k", nullptr));
  const std::string set_out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("property_set invalid arguments!\nproperty_set invalid arguments!\n", set_out);

  testing::internal::CaptureStdout();
  char value[PROPERTY_VALUE_SIZE] = "untouched";
  EXPECT_EQ(-1, property_get(nullptr, value, "fb"));
  EXPECT_STREQ("untouched", value);
  EXPECT_EQ(-1, property_get("k", nullptr, "fb"));
  EXPECT_EQ(0, property_get_int32(nullptr, 9));
  EXPECT_EQ(0, property_get_int64(nullptr, 9));
  EXPECT_EQ(1, property_get_bool(nullptr, 1));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(before, ReadStoreFile());
}

TEST_F(PropertyApiTest, IntegerReadersConvertLikeAtoi) {
  struct Case {
    const char* stored;
    int32_t int32;
    int64_t int64;
  } cases[] = {
      {"42", 42, 42},
      {" -7", -7, -7},
      {"12abc", 12, 12},
      {"abc", 0, 0},
      {"0x1f", 0, 0},
      {"+3", 3, 3},
      {"8589934592", static_cast<int32_t>(atoi("8589934592")), INT64_C(8589934592)},
      {"-9223372036854775807", atoi("-9223372036854775807"), -INT64_C(9223372036854775807)},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(0, property_set("n", c.stored));
    EXPECT_EQ(c.int32, property_get_int32("n", 99)) << c.stored;
    EXPECT_EQ(c.int32, property_get_int32_remote("n", 99)) << c.stored;
    EXPECT_EQ(c.int64, property_get_int64("n", 99)) << c.stored;
  }
  EXPECT_EQ(99, property_get_int32("missing", 99));
  EXPECT_EQ(-(INT64_C(1) << 40), property_get_int64("missing", -(INT64_C(1) << 40)));
}

TEST_F(PropertyApiTest, BooleanReaderAcceptsExactWordsOnly) {
  const char* truthy[] = {"1", "y", "yes", "true", "on"};
  const char* falsy[] = {"0", "n", "no", "false", "off"};
  const char* other[] = {"2", "Y", "YES", "True", "ON", "No", "N", "FALSE", "OFF", "Off",
                         " yes", "yes ", "yess", "x", "onn", "t"};
  for (const char* text : truthy) {
    ASSERT_EQ(0, property_set("b", text));
    EXPECT_EQ(1, property_get_bool("b", 0)) << text;
  }
  for (const char* text : falsy) {
    ASSERT_EQ(0, property_set("b", text));
    EXPECT_EQ(0, property_get_bool("b", 1)) << text;
  }
  for (const char* text : other) {
    ASSERT_EQ(0, property_set("b", text));
    EXPECT_EQ(1, property_get_bool("b", 1)) << text;
    EXPECT_EQ(0, property_get_bool("b", 0)) << text;
    EXPECT_EQ(1, property_get_bool("b", -3)) << text;  // any non-zero is 1
  }
  EXPECT_EQ(1, property_get_bool("missing", 2));
}

TEST_F(PropertyApiTest, SetWithoutDirectoryFailsAndReadersFallBack) {
  ASSERT_EQ(0, rmdir(kStorageDir));
  EXPECT_EQ(-1, property_set("k", "5"));
  EXPECT_EQ(11, property_get_int32("k", 11));
  EXPECT_EQ("0:", Get("k", nullptr));
}

TEST_F(PropertyApiTest, EveryCallWorksOnTheSmallestThreadStack) {
  // A store larger than one read buffer, so that scans refill it.
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(0, property_set(("key." + std::to_string(i)).c_str(), "v"));
  }
  std::string seen;
  ASSERT_TRUE(RunOnSmallestStack([&seen] {
    seen += std::to_string(property_set("small.stack", "12")) + " ";
    seen += std::to_string(property_set("key.199", "34")) + " ";
    seen += Get("small.stack", nullptr) + " " + Get("absent", "fb") + " ";
    seen += std::to_string(property_get_int32("key.199", 0)) + " ";
    seen += std::to_string(property_get_int64("small.stack", 0)) + " ";
    seen += std::to_string(property_get_bool("absent", 1)) + " ";
    seen += std::to_string(update_property("key.0", "0")) + " ";
    char value[PROPERTY_VALUE_SIZE];
    seen += std::to_string(fetch_property("key.0", value)) + value;
  }));
  EXPECT_EQ("0 0 2:12 2:fb 34 12 1 0 10", seen);
}

}  // namespace
}  // namespace isputils_test
