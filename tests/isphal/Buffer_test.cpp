// Tests of Buffer: what its constructors accept, report and clear, reset,
// equality, and the virtual operations a derived class can override.
#include "isphal/Buffer.h"

#include <typeinfo>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/isphal/DescribeBuffer.h"
#include "tests/support/report_capture.h"

namespace qvx {
namespace isphal {
namespace {

using isputils_test::DescribeBuffer;
using isputils_test::ReportCapture;

constexpr Pelkor::EImageFormat kNv12 = Pelkor::eImageFormatNv12;
constexpr Pelkor::EImageFormat kRaw10 = Pelkor::eImageFormatRaw10;

// A Buffer whose owner keeps its own notion of emptiness and equality.
class PinnedBuffer : public Buffer {
 public:
  using Buffer::Buffer;
  bool operator==(const Buffer&) const override { return false; }
  operator bool() const override { return false; }
};

TEST(BufferTest, DefaultIsEmptyAndSilent) {
  ReportCapture capture(3);
  Buffer buffer;
  EXPECT_EQ(DescribeBuffer(buffer), "va=0 fd=0 offset=0 size=0 format=0 geometry=0x0/0 empty");
  EXPECT_EQ(capture.Events(), "");
}

TEST(BufferTest, ConstructorKeepsConsistentMemoryAndClearsTheRest) {
  const struct {
    long va;
    int fd;
    unsigned long size;
    const char* state;
    const char* report;  // unified-logger text, "" when nothing is reported
  } cases[] = {
      {0x1000, 0, 4096, "va=1000 fd=0 offset=8 size=4096 format=1 geometry=0x0/0 true", ""},
      {0, 5, 4096, "va=0 fd=5 offset=8 size=4096 format=1 geometry=0x0/0 true", ""},
      {0x1000, 7, 64, "va=1000 fd=7 offset=8 size=64 format=1 geometry=0x0/0 true", ""},
      {0, 0, 0, "va=0 fd=0 offset=8 size=0 format=1 geometry=0x0/0 empty", ""},
      {0x1000, 0, 0, "va=0 fd=0 offset=8 size=0 format=1 geometry=0x0/0 empty",
       "ulog 0x40007009 revuvi-Buffer 1 52 [Buffer] error: wrong info, va=1000, fd=0, bufSize=0"},
      {0, 0, 64, "va=0 fd=0 offset=8 size=0 format=1 geometry=0x0/0 empty",
       "ulog 0x40007009 revuvi-Buffer 1 50 [Buffer] error: wrong info, va=0, fd=0, bufSize=64"},
      // A negative descriptor is still a descriptor, so it needs a size.
      {0, -1, 0, "va=0 fd=0 offset=8 size=0 format=1 geometry=0x0/0 empty",
       "ulog 0x40007009 revuvi-Buffer 1 50 [Buffer] error: wrong info, va=0, fd=-1, bufSize=0"},
  };
  for (const auto& c : cases) {
    ReportCapture capture(2);
    Buffer buffer(c.va, c.fd, 8, c.size, kNv12);
    EXPECT_EQ(DescribeBuffer(buffer), c.state) << "va " << c.va << " fd " << c.fd;
    EXPECT_EQ(capture.Events(), c.report) << "va " << c.va << " fd " << c.fd;
  }
}

TEST(BufferTest, ReportTextsForBothSinks) {
  ReportCapture capture(3);
  Buffer buffer(0, 0, 0, 16, kNv12);
  EXPECT_THAT(capture.Events(),
              ::testing::MatchesRegex(
                  "log 2 E \\[revuvi-Buffer\\] \\[Buffer\\] error: wrong info, va=0, fd=0, "
                  "bufSize=16 \\(Buffer\\)\\{#[0-9]+:aaa/isphal/src/utils/Buffer\\.cpp\\}\n"
                  "ulog 0x40007009 revuvi-Buffer 1 50 "
                  "\\[Buffer\\] error: wrong info, va=0, fd=0, bufSize=16"));
}

TEST(BufferTest, RecoveryHappensWithNoSinkSelected) {
  ReportCapture capture(0);
  Buffer buffer(0x2000, 3, 0, 0, kNv12);
  EXPECT_TRUE(buffer.isEmpty());
  EXPECT_EQ(buffer.getFd(), 0);
  EXPECT_EQ(capture.Events(), "");
}

TEST(BufferTest, GeometrySurvivesAReport) {
  ReportCapture capture(2);
  Buffer buffer(0x1000, 0, 4, 0, kRaw10, 640, 480, 800);
  EXPECT_EQ(DescribeBuffer(buffer),
            "va=0 fd=0 offset=4 size=0 format=4 geometry=640x480/800 has-geometry empty");
  EXPECT_EQ(capture.EventCount(), 1u);
}

TEST(BufferTest, ResetCopiesOrClearsEveryField) {
  ReportCapture capture(3);
  const Buffer geometry(0x1000, 9, 16, 4096, kRaw10, 640, 480, 800);
  Buffer plain(0x3000, 0, 0, 128, kNv12);

  plain.reset(&geometry);
  EXPECT_EQ(DescribeBuffer(plain), DescribeBuffer(geometry));
  plain.reset(&plain);
  EXPECT_EQ(DescribeBuffer(plain), DescribeBuffer(geometry));
  plain.reset(nullptr);
  EXPECT_EQ(DescribeBuffer(plain), DescribeBuffer(Buffer()));
  EXPECT_EQ(capture.Events(), "");
}

TEST(BufferTest, ResetKeepsTheDynamicType) {
  PinnedBuffer pinned(0x1000, 0, 0, 64, kNv12);
  const Buffer source(0x2000, 0, 0, 32, kNv12);
  pinned.reset(&source);
  Buffer& asBase = pinned;
  EXPECT_EQ(typeid(asBase), typeid(PinnedBuffer));
  EXPECT_EQ(asBase.getVa(), 0x2000);
  EXPECT_FALSE(static_cast<bool>(asBase));  // still PinnedBuffer's own answer
}

TEST(BufferTest, EqualityComparesMemoryOnly) {
  const Buffer a(0x1000, 4, 0, 4096, kNv12);
  const Buffer sameMemory(0x1000, 4, 64, 4096, kRaw10, 640, 480, 800);
  EXPECT_TRUE(a == sameMemory);
  EXPECT_FALSE(a != sameMemory);
  EXPECT_TRUE(a == a);

  EXPECT_TRUE(a != Buffer(0x1001, 4, 0, 4096, kNv12));
  EXPECT_TRUE(a != Buffer(0x1000, 5, 0, 4096, kNv12));
  EXPECT_TRUE(a != Buffer(0x1000, 4, 0, 4097, kNv12));
}

TEST(BufferTest, InequalityDispatchesToTheDerivedEquality) {
  const PinnedBuffer pinned(0x1000, 0, 0, 64, kNv12);
  const Buffer& asBase = pinned;
  EXPECT_TRUE(asBase != Buffer(0x1000, 0, 0, 64, kNv12));
  EXPECT_FALSE(static_cast<bool>(asBase));
  EXPECT_FALSE(asBase.isEmpty());  // isEmpty looks at the size alone
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
