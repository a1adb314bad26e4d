// The debug property switches. Properties are read through the camera
// stack's property accessor, bound by the dynamic linker, never through the
// property store directly, so a device's own accessor decides where the
// settings come from.
#include "isphal/PropertySwitches.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "debugwrapper/Properties.h"

namespace qvx {
namespace isphal {
namespace {

constexpr size_t kPropertyTextSize = 128;

// Zero-padded to its full width; CHECK_PROP_EN hands the accessor a copy of
// all 128 bytes.
constexpr char kPerFramePropKey[kPropertyTextSize] = "vendor.debug.aaa.perframe_prop.enable";

// Per-frame property reading enabled. Off at load; only CHECK_PROP_EN writes
// it. Relaxed ordering: it guards no other data.
std::atomic<bool> sPropEnable{false};

// Reads `key` into a zero-filled 128-byte buffer and converts it; returns
// `fallback` when the accessor says the property has no value.
int ReadIntProperty(const char* key, int fallback) {
  char value[kPropertyTextSize];
  memset(value, 0, sizeof(value));
  if (::Pelkor::Utils::Properties::property_get(key, value, nullptr) == 0) return fallback;
  // The accessor writes at most 127 bytes and a NUL; the last byte stays
  // zero whatever it does, so atoi never runs off the buffer.
  value[kPropertyTextSize - 1] = '\0';
  return atoi(value);
}

}  // namespace

void CHECK_PROP_EN() {
  char key[kPropertyTextSize];
  memcpy(key, kPerFramePropKey, sizeof(key));
  char value[kPropertyTextSize];
  memset(value, 0, sizeof(value));
  if (::Pelkor::Utils::Properties::property_get(key, value, nullptr) == 0) return;
  value[kPropertyTextSize - 1] = '\0';
  const int enable = atoi(value);
  if (enable == 0) {
    sPropEnable.store(false, std::memory_order_relaxed);
  } else if (enable == 1) {
    sPropEnable.store(true, std::memory_order_relaxed);
  }
}

int GET_PROP(const char* key, int fallback) {
  if (key == nullptr) return fallback;
  if (!sPropEnable.load(std::memory_order_relaxed)) return fallback;
  return ReadIntProperty(key, fallback);
}

int FORCE_GET_PROP(const char* key, int fallback) {
  if (key == nullptr) return fallback;
  return ReadIntProperty(key, fallback);
}

}  // namespace isphal
}  // namespace qvx
