// Tests of the debug property switches through the real property accessor
// stand-in and the property store, in the test's private /run: what a
// developer sets with the store reaches the switches.
#include "isphal/PropertySwitches.h"

#include <string.h>

#include <string>

#include "debugwrapper/Properties.h"
#include "gtest/gtest.h"
#include "propstore/properties.h"

namespace qvx {
namespace isphal {
namespace {

constexpr char kEnableKey[] = "vendor.debug.aaa.perframe_prop.enable";

TEST(PropertySwitchesStoreTest, StoredSwitchGatesGetProp) {
  ASSERT_EQ(property_set("isp.debug.level", "7"), 0);
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 1);
  EXPECT_EQ(FORCE_GET_PROP("isp.debug.level", 1), 7);

  ASSERT_EQ(property_set(kEnableKey, "1"), 0);
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 1);  // not until the next check
  CHECK_PROP_EN();
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 7);

  ASSERT_EQ(property_set(kEnableKey, "2"), 0);
  CHECK_PROP_EN();
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 7);
  ASSERT_EQ(property_set(kEnableKey, "0"), 0);
  CHECK_PROP_EN();
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 1);
}

TEST(PropertySwitchesStoreTest, MissingEmptyOrRefusedPropertiesGiveFallback) {
  ASSERT_EQ(property_set("isp.debug.empty", ""), 0);
  EXPECT_EQ(FORCE_GET_PROP("isp.debug.missing", 4), 4);
  EXPECT_EQ(FORCE_GET_PROP("isp.debug.empty", 4), 4);
  const std::string tooLong(64, 'k');
  EXPECT_EQ(FORCE_GET_PROP(tooLong.c_str(), 4), 4);
  // An empty switch value is no value: the switch keeps its setting.
  ASSERT_EQ(property_set(kEnableKey, "1"), 0);
  CHECK_PROP_EN();
  ASSERT_EQ(property_set(kEnableKey, ""), 0);
  CHECK_PROP_EN();
  ASSERT_EQ(property_set("isp.debug.level", "12 frames"), 0);
  EXPECT_EQ(GET_PROP("isp.debug.level", 1), 12);
}

TEST(PropertySwitchesStoreTest, AccessorReportsWhetherValueHoldsText) {
  using ::Pelkor::Utils::Properties::property_get;
  ASSERT_EQ(property_set("isp.debug.name", "tone"), 0);
  ASSERT_EQ(property_set("isp.debug.empty", ""), 0);
  char value[128];
  memset(value, 0, sizeof(value));
  EXPECT_NE(property_get("isp.debug.name", value, nullptr), 0);
  EXPECT_STREQ(value, "tone");
  EXPECT_EQ(property_get("isp.debug.empty", value, nullptr), 0);
  EXPECT_EQ(property_get("isp.debug.missing", value, nullptr), 0);
  EXPECT_EQ(property_get(std::string(64, 'k').c_str(), value, nullptr), 0);
  memset(value, 0, sizeof(value));
  EXPECT_NE(property_get("isp.debug.missing", value, "dflt"), 0);
  EXPECT_STREQ(value, "dflt");
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
