// Tests of ImageBuffer: what its constructors accept and report, what is
// kept after a failure, equality, set, and getBuffer's copy against
// getRefBuffer's reference.
#include "isphal/ImageBuffer.h"

#include <stdio.h>

#include <string>
#include <typeinfo>

#include "gtest/gtest.h"
#include "tests/isphal/DescribeBuffer.h"
#include "tests/support/report_capture.h"

namespace qvx {
namespace isphal {
namespace {

using isputils_test::DescribeBuffer;
using isputils_test::ReportCapture;

constexpr char kZeroSizeReport[] =
    "ulog 0x40007009 revuvi-ImageBuffer 1 67 "
    "[ImageBuffer] error: Invalid ImageBuffer since width or height is 0";
constexpr char kEmptyBufferReport[] =
    "ulog 0x40007009 revuvi-ImageBuffer 1 72 "
    "[ImageBuffer] error: Invalid ImageBuffer since the given Buffer is empty";

std::string DescribeImage(const ImageBuffer& image) {
  char text[128];
  snprintf(text, sizeof(text), "%lux%lu depth=%lu domain=%d%s", image.getWidth(),
           image.getHeight(), image.getBitDepth(),
           static_cast<int>(image.getImageDomain()), static_cast<bool>(image) ? " valid" : "");
  return text + std::string(" | ") + DescribeBuffer(image.getBuffer());
}

// Counts how often its emptiness is asked and answers as told.
class CountingBuffer : public Buffer {
 public:
  explicit CountingBuffer(bool answer) : Buffer(0x1000, 3, 0, 4096, Pelkor::eImageFormatNv12),
                                answer_(answer) {}
  operator bool() const override {
    ++asked_;
    return answer_;
  }
  int asked() const { return asked_; }

 private:
  bool answer_;
  mutable int asked_ = 0;
};

const Buffer kPixels(0x1000, 3, 256, 4096, Pelkor::eImageFormatRaw10, 640, 480, 800);

TEST(ImageBufferTest, ValidWithoutABuffer) {
  ReportCapture capture(3);
  EXPECT_EQ(DescribeImage(ImageBuffer()),
            "0x0 depth=0 domain=0 | va=0 fd=0 offset=0 size=0 format=0 geometry=0x0/0 empty");
  ImageBuffer image(1920, 1080, 10, kImageDomainRaw);
  EXPECT_EQ(DescribeImage(image),
            "1920x1080 depth=10 domain=1 valid | va=0 fd=0 offset=0 size=0 format=0 "
            "geometry=0x0/0 empty");
  EXPECT_EQ(image.getVa(), 0);
  EXPECT_EQ(image.getFd(), 0);
  EXPECT_EQ(image.getBufferSize(), 0u);
  EXPECT_EQ(capture.Events(), "");
}

TEST(ImageBufferTest, ZeroWidthOrHeightIsReportedAndInvalidates) {
  ReportCapture capture(2);
  const ImageBuffer noWidth(0, 1080, 10, kImageDomainYuv);
  const ImageBuffer noHeight(1920, 0, 12, kImageDomainRgb, kPixels);
  EXPECT_EQ(DescribeImage(noWidth), "0x0 depth=10 domain=2 | " + DescribeBuffer(Buffer()));
  EXPECT_EQ(DescribeImage(noHeight), "0x0 depth=12 domain=3 | " + DescribeBuffer(Buffer()));
  EXPECT_EQ(capture.Events(), std::string(kZeroSizeReport) + "\n" + kZeroSizeReport);
}

TEST(ImageBufferTest, ZeroWidthNeverAsksTheBuffer) {
  ReportCapture capture(2);
  const CountingBuffer pixels(true);
  const ImageBuffer image(0, 1080, 10, kImageDomainRaw, pixels);
  EXPECT_EQ(pixels.asked(), 0);
  EXPECT_EQ(capture.Events(), kZeroSizeReport);
}

TEST(ImageBufferTest, EmptyBufferIsReportedAndInvalidates) {
  ReportCapture capture(2);
  const ImageBuffer image(1920, 1080, 10, kImageDomainRaw, Buffer());
  EXPECT_EQ(DescribeImage(image), "0x0 depth=10 domain=1 | " + DescribeBuffer(Buffer()));
  EXPECT_EQ(capture.Events(), kEmptyBufferReport);
}

TEST(ImageBufferTest, DerivedBufferDecidesItsOwnEmptiness) {
  ReportCapture capture(2);
  const CountingBuffer refusing(false);
  const ImageBuffer refused(1920, 1080, 10, kImageDomainRaw, refusing);
  EXPECT_EQ(refusing.asked(), 1);
  EXPECT_FALSE(static_cast<bool>(refused));
  EXPECT_EQ(refused.getBufferSize(), 0u);
  EXPECT_EQ(capture.Events(), kEmptyBufferReport);

  // An accepted derived Buffer is held as a plain Buffer.
  const CountingBuffer accepting(true);
  const ImageBuffer accepted(1920, 1080, 10, kImageDomainRaw, accepting);
  EXPECT_TRUE(static_cast<bool>(accepted));
  EXPECT_EQ(typeid(accepted.getBuffer()), typeid(Buffer));
  EXPECT_EQ(DescribeBuffer(accepted.getBuffer()).find("va=1000 fd=3 offset=0 size=4096"), 0u);
}

TEST(ImageBufferTest, HoldsEveryFieldOfTheGivenBuffer) {
  ReportCapture capture(3);
  const ImageBuffer image(1920, 1080, 10, kImageDomainRaw, kPixels);
  EXPECT_EQ(DescribeBuffer(image.getBuffer()), DescribeBuffer(kPixels));
  EXPECT_EQ(image.getVa(), 0x1000);
  EXPECT_EQ(image.getFd(), 3);
  EXPECT_EQ(image.getBufferSize(), 4096u);
  EXPECT_EQ(capture.Events(), "");
}

TEST(ImageBufferTest, EqualityIgnoresDepthDomainAndBufferLayout) {
  const ImageBuffer image(1920, 1080, 10, kImageDomainRaw, kPixels);
  const Buffer samePixelsOtherLayout(0x1000, 3, 0, 4096, Pelkor::eImageFormatNv12);
  EXPECT_TRUE(image == ImageBuffer(1920, 1080, 12, kImageDomainYuv, samePixelsOtherLayout));
  EXPECT_FALSE(image != ImageBuffer(1920, 1080, 12, kImageDomainYuv, kPixels));
  EXPECT_TRUE(image == image);

  EXPECT_TRUE(image != ImageBuffer(1920, 1088, 10, kImageDomainRaw, kPixels));
  EXPECT_TRUE(image != ImageBuffer(1280, 1080, 10, kImageDomainRaw, kPixels));
  EXPECT_TRUE(image != ImageBuffer(1920, 1080, 10, kImageDomainRaw,
                                   Buffer(0x1000, 3, 256, 2048, Pelkor::eImageFormatRaw10)));
}

TEST(ImageBufferTest, SetChangesValidityWithoutReport) {
  ReportCapture capture(3);
  ImageBuffer image(1920, 1080, 10, kImageDomainRaw, kPixels);
  image.set(0, 1080, 8, kImageDomainYuv);
  EXPECT_FALSE(static_cast<bool>(image));
  EXPECT_EQ(image.getBufferSize(), 4096u);

  ImageBuffer failed(0, 0, 10, kImageDomainRaw);
  capture.ClearEvents();
  failed.set(640, 480, 8, kImageDomainRgb);
  EXPECT_EQ(DescribeImage(failed), "640x480 depth=8 domain=3 valid | " + DescribeBuffer(Buffer()));
  EXPECT_EQ(capture.Events(), "");
}

TEST(ImageBufferTest, GetBufferCopiesAndGetRefBufferShares) {
  ImageBuffer image(1920, 1080, 10, kImageDomainRaw, kPixels);
  Buffer copy = image.getBuffer();
  copy.reset(nullptr);
  EXPECT_EQ(DescribeBuffer(image.getBuffer()), DescribeBuffer(kPixels));

  image.getRefBuffer().reset(nullptr);
  EXPECT_EQ(DescribeBuffer(image.getBuffer()), DescribeBuffer(Buffer()));
  EXPECT_EQ(image.getBufferSize(), 0u);
  EXPECT_TRUE(static_cast<bool>(image));  // validity is the image's geometry alone
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
