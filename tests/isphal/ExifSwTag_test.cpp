// Tests of the EXIF software-tag locator: the address it finds, its wrapping
// 32-bit size arithmetic and sign-extended index, and the two error lines of
// a size mismatch on both sinks.
#include "isphal/ExifSwTag.h"

#include <stdint.h>

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/support/report_capture.h"

namespace qvx {
namespace isphal {
namespace {

using isputils_test::ReportCapture;

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

TEST(ExifSwTagTest, MatchingSizesGiveTheModulesFirstWord) {
  ReportCapture capture(3);
  uint32_t area[32] = {};
  module_exif_info five{"AE", 16, area, 10, 15};
  EXPECT_EQ(Address(getExifSwTagPointer(five)), Address(area) + 44);
  module_exif_info none{"AF", 0, area, 10, 11};
  EXPECT_EQ(getExifSwTagPointer(none), &area[11]);
  module_exif_info noArea{"AWB", 16, nullptr, 10, 15};
  EXPECT_EQ(getExifSwTagPointer(noArea), nullptr);
  EXPECT_EQ(capture.Events(), "");
}

// The size is (eEnd - eStart - 1) x 4 in 32 bits, wrapping; the word index
// eStart + 1 is a signed 32-bit value widened with its sign.
TEST(ExifSwTagTest, ArithmeticWrapsIn32BitsAndIndexIsSignExtended) {
  ReportCapture capture(2);
  uint32_t area[8] = {};
  module_exif_info before{"LSC", 8, &area[4], -3, 0};
  EXPECT_EQ(getExifSwTagPointer(before), &area[2]);
  module_exif_info wrappedSize{"NR", 0, area, 0, 0x40000001};
  EXPECT_EQ(getExifSwTagPointer(wrappedSize), &area[1]);
  module_exif_info top{"TOP", 0, area, INT32_MAX, INT32_MIN};
  EXPECT_EQ(Address(getExifSwTagPointer(top)), Address(area) - (uintptr_t{1} << 33));
  EXPECT_EQ(capture.Events(), "");
}

TEST(ExifSwTagTest, MismatchReportsTwoLinesAndGivesNull) {
  ReportCapture capture(2);
  uint32_t area[32] = {};
  module_exif_info info{"AE", 20, area, 10, 15};
  EXPECT_EQ(getExifSwTagPointer(info), nullptr);
  const std::string first =
      "[getExifSwTagPointer] error: AE exif struct not sync with EXIF SW_TAG eNum. "
      "src_buf_size(20) eNumSize(16) eStart(10) eEnd(15)";
  const std::string second =
      "[getExifSwTagPointer] error: Error: AE exif struct not match EXIF SW_TAG eNum\n"
      "TRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK";
  EXPECT_EQ(capture.Events(),
            "ulog 0x40007009 IspExifSwTag 1 " + std::to_string(first.size()) + " " + first +
                "\nulog 0x40007009 IspExifSwTag 1 " + std::to_string(second.size()) + " " +
                second);
  EXPECT_EQ(info.src_buf_size, 20);
  EXPECT_EQ(info.sw_tag_buf, area);
}

TEST(ExifSwTagTest, EqualMarkersExpectMinusFourEvenWithoutArea) {
  ReportCapture capture(2);
  module_exif_info info{"AF", 0, nullptr, 5, 5};
  EXPECT_EQ(getExifSwTagPointer(info), nullptr);
  EXPECT_THAT(capture.Events(),
              ::testing::StartsWith("ulog 0x40007009 IspExifSwTag 1 122 [getExifSwTagPointer] "
                                    "error: AF exif struct not sync with EXIF SW_TAG eNum. "
                                    "src_buf_size(0) eNumSize(-4) eStart(5) eEnd(5)\n"));
  EXPECT_EQ(capture.EventCount(), 2u);
}

// On the platform log the decoration follows the second line of the second
// message, and each message reaches both sinks before the next one starts.
TEST(ExifSwTagTest, PlatformLogLinesAreDecoratedAfterTheLastLine) {
  ReportCapture capture(3);
  module_exif_info info{"AE", 20, nullptr, 10, 15};
  EXPECT_EQ(getExifSwTagPointer(info), nullptr);
  EXPECT_THAT(
      capture.Events(),
      ::testing::MatchesRegex(
          "log 2 E \\[IspExifSwTag\\] \\[getExifSwTagPointer\\] error: AE exif struct not sync "
          "with EXIF SW_TAG eNum\\. src_buf_size\\(20\\) eNumSize\\(16\\) eStart\\(10\\) "
          "eEnd\\(15\\) \\(getExifSwTagPointer\\)\\{#[0-9]+:aaa/isphal/src/utils/ExifSwTag\\.cpp\\}\n"
          "ulog 0x40007009 IspExifSwTag 1 [0-9]+ \\[getExifSwTagPointer\\] error: AE [^\n]*\n"
          "log 2 E \\[IspExifSwTag\\] \\[getExifSwTagPointer\\] error: Error: AE exif struct not "
          "match EXIF SW_TAG eNum\n"
          "TRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK \\(getExifSwTagPointer\\)"
          "\\{#[0-9]+:aaa/isphal/src/utils/ExifSwTag\\.cpp\\}\n"
          "ulog 0x40007009 IspExifSwTag 1 [0-9]+ \\[getExifSwTagPointer\\] error: Error: AE "
          "exif struct not match EXIF SW_TAG eNum\nTRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK"));
}

TEST(ExifSwTagTest, SilentLoggerStillGivesNull) {
  ReportCapture capture(0);
  uint32_t area[4] = {};
  module_exif_info info{"AE", 4, area, 0, 3};
  EXPECT_EQ(getExifSwTagPointer(info), nullptr);
  EXPECT_EQ(capture.Events(), "");
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
