// A camera module's start-up, using all three libraries as a real module
// would: store and read its settings as system properties, take its log
// level and debug switches from them, log at several priorities, describe
// its ISP memory with Buffer, ImageBuffer and TuningBuffer (with the reports
// that bad descriptions produce), and locate its words in the EXIF
// software-tag area.
//
// Run it through tests/support/private_run (the README's main command does) to
// keep the machine's /run untouched. Platform-log and unified-logger lines go
// to standard error, the module's own summary to standard output.
#include <stdint.h>
#include <stdio.h>

#include "imageformat/EImageFormat.h"
#include "isphal/Buffer.h"
#include "isphal/ExifSwTag.h"
#include "isphal/ImageBuffer.h"
#include "isphal/PropertySwitches.h"
#include "isphal/TuningBuffer.h"
#include "platlog/platform_log.h"
#include "propstore/properties.h"
#include "ulog/ULogger.h"

namespace {

using qvx::isphal::Buffer;
using qvx::isphal::ImageBuffer;
using qvx::isphal::TuningBuffer;

constexpr char kTag[] = "demo-module";

void Section(const char* title) {
  fflush(stderr);
  printf("\n== %s\n", title);
  fflush(stdout);
}

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
  printf("get  vendor.camera.hdr (bool)            = %d\n",
         property_get_bool("vendor.camera.hdr", 0));
}

void LogAtEveryPriority() {
  Section("logging");
  const int level = determine_platform_log_level();
  const char priorities[] = {'E', 'W', 'I', 'D', 'V'};
  printf("log level from persist.qvx.camera.log_level: %d; letters that pass:", level);
  for (char priority : priorities) {
    if (test_log_level(priority, level)) printf(" %c", priority);
  }
  printf("\n");
  fflush(stdout);
  for (char priority : priorities) {
    platform_log_print(priority, kTag, "a '%c' line", priority);
  }
}

void ReadDebugSwitches() {
  Section("debug switches");
  printf("GET_PROP before CHECK_PROP_EN       = %d (switch off: fallback)\n",
         qvx::isphal::GET_PROP("vendor.debug.isp.frames", 1));
  qvx::isphal::CHECK_PROP_EN();
  printf("GET_PROP after CHECK_PROP_EN        = %d\n",
         qvx::isphal::GET_PROP("vendor.debug.isp.frames", 1));
  printf("FORCE_GET_PROP of an unset property = %d\n",
         qvx::isphal::FORCE_GET_PROP("vendor.debug.isp.unset", 7));
}

void DescribeMemory() {
  Section("buffers");
  const Buffer frame(0x7f0000001000L, 42, 0, 1920UL * 1080 * 3 / 2,
                     Pelkor::eImageFormatNv12, 1920, 1080, 1920);
  printf("frame buffer: size %lu, valid %d\n", frame.getBufferSize(),
         static_cast<bool>(frame));
  fflush(stdout);
  const Buffer broken(0x1000, 0, 0, 0, Pelkor::eImageFormatNv12);
  printf("buffer with an address but no size: empty %d\n", broken.isEmpty());
  fflush(stdout);

  const ImageBuffer image(1920, 1080, 10, qvx::isphal::ImageDomain(0), frame);
  printf("image 1920x1080: valid %d, holds %lu bytes\n", static_cast<bool>(image),
         image.getBufferSize());
  fflush(stdout);
  const ImageBuffer flat(0, 1080, 10, qvx::isphal::ImageDomain(0));
  printf("image of width 0: valid %d\n", static_cast<bool>(flat));
  fflush(stdout);

  TuningBuffer tuning(8);
  const uint32_t gains[3] = {0x100, 0x180, 0x200};
  tuning.setChunk(2, 3, gains);
  TuningBuffer copy = tuning;  // owning source: a deep copy
  printf("tuning buffer: %zu words, word 3 = %#x, copy equal %d\n", tuning.getCount(),
         tuning.get(3), copy == tuning);
  fflush(stdout);
  tuning.set(8, 1);  // one past the end: refused and reported
  printf("after an out-of-range set: equal %d, status of clear(6, 3) = %d\n",
         copy == tuning, tuning.clear(6, 3));
}

void LocateExifWords() {
  Section("EXIF software tags");
  uint32_t area[32] = {};
  qvx::isphal::module_exif_info ae = {"AE", 16, area, 10, 15};
  const uint32_t* words = qvx::isphal::getExifSwTagPointer(ae);
  printf("AE words start at index %td\n", words == nullptr ? -1 : words - area);
  fflush(stdout);
  qvx::isphal::module_exif_info awb = {"AWB", 20, area, 10, 15};
  printf("AWB with a mismatched structure: %s\n",
         qvx::isphal::getExifSwTagPointer(awb) == nullptr ? "null" : "found");
}

}  // namespace

int main() {
  // Both sinks of the ISP library's report: the platform log and the
  // unified logger (the stand-in's default logger writes to stderr).
  Pelkor::Utils::ULog::ULogger::sMode = 3;
  StoreAndReadProperties();
  LogAtEveryPriority();
  ReadDebugSwitches();
  DescribeMemory();
  LocateExifWords();
  fflush(stdout);
  return 0;
}
