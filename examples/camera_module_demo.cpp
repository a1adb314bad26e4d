// What a camera module does with the utility layer at start-up: store its
// settings as system properties and read them back, as text and typed.
// Run it through scripts/private-run.sh (the README's main command does) to
// keep the machine's /run untouched.
#include <stdio.h>

#include "propstore/properties.h"

namespace {

void Section(const char* title) { printf("\n== %s\n", title); }

void StoreAndReadProperties() {
  Section("properties");
  const struct {
    const char* key;
    const char* value;
  } settings[] = {
      {"persist.qvx.camera.log_level", "3"},
      {"vendor.debug.aaa.perframe_prop.enable", "1"},
      {"vendor.debug.isp.frames", "12"},
      {"vendor.camera.hdr", "on"},
  };
  for (const auto& setting : settings) {
    const int result = property_set(setting.key, setting.value);
    printf("set  %-40s = %-4s -> %s\n", setting.key, setting.value,
           result == 0 ? "stored" : "NOT stored");
  }
  char value[PROPERTY_VALUE_SIZE];
  const int length = property_get("vendor.camera.hdr", value, "off");
  printf("get  vendor.camera.hdr (text)            = \"%s\" (%d bytes)\n", value, length);
  property_get("vendor.camera.missing", value, "fallback");
  printf("get  vendor.camera.missing (text)        = \"%s\"\n", value);
  printf("get  vendor.debug.isp.frames (int32)     = %d\n",
         property_get_int32("vendor.debug.isp.frames", -1));
  printf("get  vendor.debug.isp.frames (int64)     = %lld\n",
         static_cast<long long>(property_get_int64("vendor.debug.isp.frames", -1)));
  printf("get  vendor.camera.hdr (bool)            = %d\n",
         property_get_bool("vendor.camera.hdr", 0));
}

}  // namespace

int main() {
  StoreAndReadProperties();
  return 0;
}
