// Tests of TuningBuffer: the three states, copy depth by the mode of the
// source, storage reuse, moves, bound errors with their report lines and
// statuses and requests at the top of the 64-bit range. Allocations that
// cannot be met have a program of their own (TuningBufferOutOfMemory_test);
// long random operation sequences against a model are the TuningBuffer fuzz
// target's job.
#include "isphal/TuningBuffer.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/report_capture.h"

namespace qvx {
namespace isphal {
namespace {

using isputils_test::ReportCapture;

// Routes reports to the unified logger only, where the text arrives
// undecorated, and checks the module id and length of every line.
class ScopedCapture {
 public:
  ScopedCapture() : capture_(2) {}
  void EnableDebugLines() { capture_.SetDetails(5, 0x40001000); }
  // The lines so far as "tag|details type|text".
  std::vector<std::string> lines() const {
    std::vector<std::string> lines;
    std::istringstream events(capture_.Events());
    std::string event;
    const std::string head = "ulog 0x40007009 ";
    while (std::getline(events, event)) {
      EXPECT_EQ(event.compare(0, head.size(), head), 0) << event;
      std::istringstream fields(event.substr(head.size()));
      std::string tag, type;
      size_t length = 0;
      fields >> tag >> type >> length;
      fields.get();
      std::string text;
      std::getline(fields, text);
      EXPECT_EQ(length, text.size()) << event;
      lines.push_back(tag + "|" + type + "|" + text);
    }
    return lines;
  }

 private:
  ReportCapture capture_;
};

std::string Error(const std::string& text) { return "revuvi-TuningBuffer|1|" + text; }

// "empty", or "owning|wrapping <count>: w0 w1 ...".
std::string Describe(const TuningBuffer& buffer) {
  if (buffer.isEmpty()) {
    std::string state = "empty";
    if (buffer.hasStorage()) state += " with storage";
    if (buffer.getData() != nullptr) state += " with data";
    return state;
  }
  std::string state = buffer.hasStorage() ? "owning " : "wrapping ";
  state += std::to_string(buffer.getCount()) + ":";
  for (size_t i = 0; i < buffer.getCount(); ++i) state += " " + std::to_string(buffer.getData()[i]);
  return state;
}

TuningBuffer Owning(std::vector<uint32_t> words) {
  return TuningBuffer(words.data(), words.size(), TuningBuffer::COPY);
}

TEST(TuningBufferTest, EveryConstructorReachesItsState) {
  uint32_t caller[3] = {7, 8, 9};
  EXPECT_EQ(Describe(TuningBuffer()), "empty");
  EXPECT_EQ(Describe(TuningBuffer(0)), "empty");
  EXPECT_EQ(Describe(TuningBuffer(caller, 0, TuningBuffer::COPY)), "empty");
  EXPECT_EQ(Describe(TuningBuffer(caller, 0, TuningBuffer::WRAP)), "empty");
  EXPECT_EQ(Describe(TuningBuffer(4)), "owning 4: 0 0 0 0");
  EXPECT_EQ(Describe(TuningBuffer(caller, 3, TuningBuffer::COPY)), "owning 3: 7 8 9");
  EXPECT_EQ(Describe(TuningBuffer(caller, 3, TuningBuffer::WRAP)), "wrapping 3: 7 8 9");
  // Every non-zero flag wraps.
  EXPECT_EQ(Describe(TuningBuffer(caller, 2, static_cast<TuningBuffer::OpsFlag>(7))),
            "wrapping 2: 7 8");
}

TEST(TuningBufferTest, CopiedArrayIsIndependentOfTheCaller) {
  uint32_t caller[2] = {1, 2};
  TuningBuffer buffer(caller, 2, TuningBuffer::COPY);
  caller[0] = 100;
  buffer.set(1, 200);
  EXPECT_NE(buffer.getData(), caller);
  EXPECT_EQ(Describe(buffer), "owning 2: 1 200");
  EXPECT_EQ(caller[1], 2u);
}

TEST(TuningBufferTest, WrappedArrayIsWrittenThroughAndNeverFreed) {
  std::unique_ptr<uint32_t[]> caller(new uint32_t[3]{1, 2, 3});
  {
    TuningBuffer buffer(caller.get(), 3, TuningBuffer::WRAP);
    EXPECT_EQ(buffer.getData(), caller.get());
    buffer.set(1, 42);
    TuningBuffer second(buffer);
    second.set(2, 43);
    EXPECT_EQ(second.getData(), caller.get());
    EXPECT_EQ(Describe(buffer), "wrapping 3: 1 42 43");
  }
  // Still allocated (a sanitizer build would flag a free) and unchanged.
  EXPECT_EQ(caller[0], 1u);
  EXPECT_EQ(caller[1], 42u);
  EXPECT_EQ(caller[2], 43u);
}

TEST(TuningBufferTest, CopyAssignReusesStorageOnlyWhenCountsMatch) {
  ScopedCapture capture;
  capture.EnableDebugLines();
  TuningBuffer source = Owning({1, 2, 3, 4, 5, 6, 7, 8});
  TuningBuffer same(8);
  const uint32_t* sameStorage = same.getData();
  same = source;
  EXPECT_EQ(same.getData(), sameStorage);
  EXPECT_NE(same.getData(), source.getData());
  EXPECT_EQ(Describe(same), "owning 8: 1 2 3 4 5 6 7 8");

  TuningBuffer smaller(4);
  smaller = source;
  EXPECT_EQ(Describe(smaller), "owning 8: 1 2 3 4 5 6 7 8");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"revuvi-TuningBuffer|5|[operator=] same count? --> 1",
                                      "revuvi-TuningBuffer|5|[operator=] same count? --> 0"}));
  // A deep copy: the source is not affected by writes to the copy.
  same.set(0, 99);
  EXPECT_EQ(source.get(0), 1u);
}

TEST(TuningBufferTest, CopyAssignOwningOverWrappingTakesOwnStorage) {
  uint32_t caller[3] = {9, 9, 9};
  TuningBuffer destination(caller, 3, TuningBuffer::WRAP);
  // A named source: a temporary would take the move assignment instead.
  const TuningBuffer source = Owning({1, 2, 3});
  destination = source;
  EXPECT_EQ(Describe(destination), "owning 3: 1 2 3");
  EXPECT_NE(destination.getData(), source.getData());
  EXPECT_EQ(std::vector<uint32_t>(caller, caller + 3), (std::vector<uint32_t>{9, 9, 9}));
}

TEST(TuningBufferTest, CopyAssignFromEmptyOrWrappingReleasesStorage) {
  ScopedCapture capture;
  capture.EnableDebugLines();
  TuningBuffer destination(5);
  destination = TuningBuffer();
  EXPECT_EQ(Describe(destination), "empty");

  uint32_t caller[2] = {4, 5};
  TuningBuffer wrapping(caller, 2, TuningBuffer::WRAP);
  destination.reset(6);
  destination = wrapping;
  EXPECT_EQ(destination.getData(), caller);
  EXPECT_EQ(Describe(destination), "wrapping 2: 4 5");
  EXPECT_TRUE(capture.lines().empty());
}

TEST(TuningBufferTest, SelfAssignmentAndSelfCopyChangeNothing) {
  TuningBuffer buffer = Owning({1, 2});
  const uint32_t* data = buffer.getData();
  TuningBuffer& alias = buffer;
  buffer = alias;
  buffer = static_cast<TuningBuffer&&>(alias);
  EXPECT_EQ(buffer.copyData(alias), 0);
  EXPECT_EQ(buffer.getData(), data);
  EXPECT_EQ(Describe(buffer), "owning 2: 1 2");
}

TEST(TuningBufferTest, MovesHandOverAndLeaveTheSourceReusable) {
  TuningBuffer owning = Owning({1, 2, 3});
  const uint32_t* storage = owning.getData();
  TuningBuffer moved(static_cast<TuningBuffer&&>(owning));
  EXPECT_EQ(moved.getData(), storage);
  EXPECT_EQ(Describe(owning), "empty");

  uint32_t caller[2] = {5, 6};
  TuningBuffer wrapping(caller, 2, TuningBuffer::WRAP);
  moved = static_cast<TuningBuffer&&>(wrapping);
  EXPECT_EQ(Describe(moved), "wrapping 2: 5 6");
  EXPECT_EQ(Describe(wrapping), "empty");

  owning.reset(1);
  owning.set(0, 7);
  EXPECT_EQ(Describe(owning), "owning 1: 7");
}

TEST(TuningBufferTest, ResetAlwaysStartsOverWithZeroWords) {
  TuningBuffer buffer = Owning({1, 2, 3});
  const uint32_t* before = buffer.getData();
  buffer.reset(3);
  EXPECT_NE(buffer.getData(), before);
  EXPECT_EQ(Describe(buffer), "owning 3: 0 0 0");
  buffer.reset(0);
  EXPECT_EQ(Describe(buffer), "empty");

  uint32_t caller[2] = {8, 9};
  TuningBuffer wrapping(caller, 2, TuningBuffer::WRAP);
  wrapping.reset(2);
  EXPECT_EQ(Describe(wrapping), "owning 2: 0 0");
  EXPECT_EQ(caller[0], 8u);
  EXPECT_EQ(caller[1], 9u);
}

TEST(TuningBufferTest, ClearCountZeroMeansToTheEnd) {
  ScopedCapture capture;
  TuningBuffer buffer = Owning({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(buffer.clear(2, 0), 0);
  EXPECT_EQ(Describe(buffer), "owning 8: 1 2 0 0 0 0 0 0");
  buffer = Owning({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(buffer.clear(8, 0), 0);
  EXPECT_EQ(buffer.clear(1, 2), 0);
  EXPECT_EQ(Describe(buffer), "owning 8: 1 0 0 4 5 6 7 8");
  EXPECT_EQ(buffer.clear(6, 3), -22);
  EXPECT_EQ(buffer.clear(9, 0), -22);
  EXPECT_EQ(Describe(buffer), "owning 8: 1 0 0 4 5 6 7 8");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                Error("[clear] error: the given maximum count (9) is out-of-range (8)"),
                Error("[clear] error: the given maximum count (9) is out-of-range (8)")}));
}

TEST(TuningBufferTest, ClearingAWrappingBufferClearsTheCallerArray) {
  uint32_t caller[3] = {1, 2, 3};
  TuningBuffer buffer(caller, 3, TuningBuffer::WRAP);
  EXPECT_EQ(buffer.clear(0, 0), 0);
  EXPECT_EQ(caller[0] | caller[1] | caller[2], 0u);
}

TEST(TuningBufferTest, BadIndexIsReportedAndNothingWritten) {
  ScopedCapture capture;
  TuningBuffer buffer = Owning({1, 2, 3, 4, 5, 6, 7, 8});
  buffer.set(8, 5);
  EXPECT_EQ(buffer.get(8), 0u);
  TuningBuffer empty;
  empty.set(0, 5);
  EXPECT_EQ(empty.get(0), 0u);
  EXPECT_EQ(Describe(buffer), "owning 8: 1 2 3 4 5 6 7 8");
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                Error("[set] error: the given index(8) is out of range(7)"),
                Error("[get] error: the given index(8) is out of range(7)"),
                Error("[set] error: the given index(0) is out of range(0)"),
                Error("[get] error: the given index(0) is out of range(0)")}));
}

TEST(TuningBufferTest, BadChunkIsReportedAndNothingCopied) {
  ScopedCapture capture;
  TuningBuffer buffer = Owning({1, 2, 3, 4, 5, 6, 7, 8});
  const uint32_t source[4] = {9, 9, 9, 9};
  uint32_t destination[4] = {5, 5, 5, 5};
  buffer.setChunk(5, 4, source);
  EXPECT_EQ(buffer.getChunk(5, 4, destination), -22);
  EXPECT_EQ(buffer.getChunk(8, 0, destination), 0);
  EXPECT_EQ(Describe(buffer), "owning 8: 1 2 3 4 5 6 7 8");
  EXPECT_EQ(destination[0] + destination[1] + destination[2] + destination[3], 20u);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                Error("[setChunk] error: the given maximum count (9) is out-of-range (8)"),
                Error("[getChunk] error: the given maximum count (9) is out-of-range (8)")}));

  buffer.setChunk(6, 2, source);
  EXPECT_EQ(buffer.getChunk(5, 3, destination), 0);
  EXPECT_EQ(destination[0], 6u);
  EXPECT_EQ(destination[2], 9u);
  EXPECT_EQ(destination[3], 5u);
}

// Index plus count past 2^64 must not wrap to a small end that passes the
// bound test; the message shows the end saturated at the largest value.
TEST(TuningBufferTest, RequestsPastTheTopOfTheRangeAreRefused) {
  ScopedCapture capture;
  uint32_t caller[4] = {1, 2, 3, 4};
  TuningBuffer buffer(caller, 4, TuningBuffer::WRAP);
  uint32_t destination[1] = {77};
  EXPECT_EQ(buffer.clear(1, SIZE_MAX), -22);
  EXPECT_EQ(buffer.clear(SIZE_MAX, 2), -22);
  buffer.setChunk(2, SIZE_MAX - 1, destination);
  EXPECT_EQ(buffer.getChunk(SIZE_MAX, 1, destination), -22);
  buffer.set(SIZE_MAX, 5);
  EXPECT_EQ(buffer.get(SIZE_MAX), 0u);
  EXPECT_EQ(Describe(buffer), "wrapping 4: 1 2 3 4");
  EXPECT_EQ(destination[0], 77u);
  const std::string top = "18446744073709551615";
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                Error("[clear] error: the given maximum count (" + top + ") is out-of-range (4)"),
                Error("[clear] error: the given maximum count (" + top + ") is out-of-range (4)"),
                Error("[setChunk] error: the given maximum count (" + top + ") is out-of-range (4)"),
                Error("[getChunk] error: the given maximum count (" + top + ") is out-of-range (4)"),
                Error("[set] error: the given index(" + top + ") is out of range(3)"),
                Error("[get] error: the given index(" + top + ") is out of range(3)")}));
}

TEST(TuningBufferTest, CopyDataNeedsEqualCountsAndFillsTheView) {
  ScopedCapture capture;
  TuningBuffer four(4);
  TuningBuffer five = Owning({1, 2, 3, 4, 5});
  EXPECT_EQ(four.copyData(five), -22);
  EXPECT_EQ(Describe(four), "owning 4: 0 0 0 0");
  EXPECT_EQ(five.copyData(four), -22);  // never reads past the shorter source
  EXPECT_EQ(Describe(five), "owning 5: 1 2 3 4 5");
  EXPECT_TRUE(capture.lines().empty());

  uint32_t caller[5] = {};
  TuningBuffer wrapping(caller, 5, TuningBuffer::WRAP);
  EXPECT_EQ(wrapping.copyData(five), 0);
  EXPECT_EQ(Describe(wrapping), "wrapping 5: 1 2 3 4 5");
  EXPECT_EQ(caller[4], 5u);
  EXPECT_TRUE(TuningBuffer().copyData(TuningBuffer()) == 0);
}

TEST(TuningBufferTest, EqualityComparesContentsOnly) {
  uint32_t caller[3] = {1, 2, 3};
  const TuningBuffer wrapping(caller, 3, TuningBuffer::WRAP);
  const TuningBuffer owning = Owning({1, 2, 3});
  const TuningBuffer differs = Owning({1, 2, 4});
  const TuningBuffer shorter = Owning({1, 2});
  const TuningBuffer sameView(caller, 3, TuningBuffer::WRAP);
  const TuningBuffer shorterView(caller, 2, TuningBuffer::WRAP);
  struct Case {
    const TuningBuffer& left;
    const TuningBuffer& right;
    bool equal;
  };
  const TuningBuffer empty;
  const Case cases[] = {{empty, TuningBuffer(), true}, {owning, wrapping, true},
                        {wrapping, sameView, true},    {owning, differs, false},
                        {owning, shorter, false},      {empty, shorter, false},
                        {wrapping, shorterView, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.left == c.right, c.equal) << Describe(c.left) << " vs " << Describe(c.right);
    EXPECT_EQ(c.left != c.right, !c.equal);
  }
}

TEST(TuningBufferTest, IdIsTheObjectAddressAndLayoutIsFixed) {
  TuningBuffer buffer = Owning({1, 2});
  TuningBuffer copy(buffer);
  EXPECT_EQ(buffer.getId(), reinterpret_cast<uintptr_t>(&buffer));
  EXPECT_EQ(copy.getId(), reinterpret_cast<uintptr_t>(&copy));
  // Table pointer, then mData, mCount, mStorage: other libraries build
  // against this layout.
  static_assert(sizeof(TuningBuffer) == 4 * sizeof(void*), "layout");
  uintptr_t words[4];
  memcpy(words, static_cast<const void*>(&buffer), sizeof(words));
  EXPECT_EQ(words[1], reinterpret_cast<uintptr_t>(buffer.getData()));
  EXPECT_EQ(words[2], 2u);
  EXPECT_EQ(words[3], reinterpret_cast<uintptr_t>(buffer.getData()));
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
