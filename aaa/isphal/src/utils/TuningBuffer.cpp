// TuningBuffer: storage management, bound-tested word access and contents
// comparison. Every copy, fill and comparison of words is one block
// operation over count x 4 bytes.
#include "isphal/TuningBuffer.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "aaa/isphal/src/utils/ErrorReport.h"

namespace qvx {
namespace isphal {
namespace {

constexpr char kTag[] = "revuvi-TuningBuffer";
constexpr int32_t kInvalidArgument = -EINVAL;
constexpr size_t kWordSize = sizeof(uint32_t);
// From this many words on, count x 4 no longer fits in 64 bits.
constexpr size_t kSaturatedCount = SIZE_MAX / kWordSize + 1;

// The formats are literals so that the error report can append its
// decoration at compile time.
#define TUNING_INDEX_ERROR "[%s] error: the given index(%zu) is out of range(%zu)"
#define TUNING_RANGE_ERROR "[%s] error: the given maximum count (%zu) is out-of-range (%zu)"

// Ends the process after naming the request on standard error. Nothing is
// thrown: a caller built with exceptions could catch std::bad_alloc and go on
// with a buffer that claims words it does not have.
[[noreturn]] void AllocationFailed(size_t count, size_t bytes) {
  char line[128];
  snprintf(line, sizeof(line), "TuningBuffer: cannot allocate %zu words (%zu bytes)\n", count, bytes);
  // A raw write: nothing may wait in a stdio buffer when the process aborts.
  ssize_t ignored = write(STDERR_FILENO, line, strnlen(line, sizeof(line)));
  (void)ignored;
  abort();
}

// Allocates `count` zero words, or ends the process. A count whose byte size
// does not fit in 64 bits asks for the largest size there is, so the request
// fails instead of returning an array that is too short. The allocation
// function is called with the byte size directly so that no compiler-made
// overflow check can throw.
uint32_t* AllocateWords(size_t count) {
  const size_t bytes = count >= kSaturatedCount ? SIZE_MAX : count * kWordSize;
  void* words = ::operator new[](bytes, std::nothrow);
  if (words == nullptr) AllocationFailed(count, bytes);
  memset(words, 0, bytes);
  return static_cast<uint32_t*>(words);
}

void FreeWords(uint32_t* words) { ::operator delete[](words); }

// Installs `storage` as a buffer's own words before releasing the previous
// array, so the buffer never points at freed storage.
void ReplaceStorage(uint32_t*& slot, uint32_t* storage) {
  uint32_t* previous = slot;
  slot = storage;
  if (previous != nullptr) FreeWords(previous);
}

// True when [index, index + count) lies within `limit` words. *end receives
// index + count, saturated at SIZE_MAX when the true sum does not fit, so a
// request that wraps past 2^64 is refused rather than carried out.
bool RangeFits(size_t index, size_t count, size_t limit, size_t* end) {
  if (__builtin_add_overflow(index, count, end)) {
    *end = SIZE_MAX;
    return false;
  }
  return *end <= limit;
}

}  // namespace

TuningBuffer::TuningBuffer() : mData(nullptr), mCount(0), mStorage(nullptr) {}

TuningBuffer::TuningBuffer(size_t count) : TuningBuffer() {
  if (count == 0) return;
  uint32_t* words = AllocateWords(count);
  mCount = count;
  mStorage = words;
  mData = words;
}

TuningBuffer::TuningBuffer(uint32_t* data, size_t count, OpsFlag flag) : TuningBuffer() {
  if (count == 0) return;
  if (flag != COPY) {
    mData = data;
    mCount = count;
    return;
  }
  uint32_t* words = AllocateWords(count);
  memcpy(words, data, count * kWordSize);
  mCount = count;
  mStorage = words;
  mData = words;
}

TuningBuffer::TuningBuffer(const TuningBuffer& other) : TuningBuffer() { *this = other; }

TuningBuffer::TuningBuffer(TuningBuffer&& other) noexcept : TuningBuffer() {
  *this = static_cast<TuningBuffer&&>(other);
}

TuningBuffer::~TuningBuffer() {
  uint32_t* storage = mStorage;
  mStorage = nullptr;
  if (storage != nullptr) FreeWords(storage);
}

TuningBuffer& TuningBuffer::operator=(const TuningBuffer& other) {
  if (&other == this) return *this;
  if (other.mCount == 0) {
    *this = TuningBuffer();
    return *this;
  }
  if (other.mStorage == nullptr) {
    // A wrapping source is copied as a second view of the caller's array.
    ReplaceStorage(mStorage, nullptr);
    mData = other.mData;
    mCount = other.mCount;
    return *this;
  }
  const bool sameCount = mCount == other.mCount;
  ISP_REPORT_DEBUG(kTag, "[%s] same count? --> %d", sameCount ? 1 : 0);
  // The new array is in hand before any member changes.
  if (!sameCount || mStorage == nullptr) ReplaceStorage(mStorage, AllocateWords(other.mCount));
  mCount = other.mCount;
  memcpy(mStorage, other.mStorage, mCount * kWordSize);
  mData = mStorage;
  return *this;
}

TuningBuffer& TuningBuffer::operator=(TuningBuffer&& other) noexcept {
  if (&other == this) return *this;
  mCount = other.mCount;
  if (other.mStorage != nullptr) {
    uint32_t* taken = other.mStorage;
    other.mStorage = nullptr;
    ReplaceStorage(mStorage, taken);
    mData = taken;
  } else {
    ReplaceStorage(mStorage, nullptr);
    mData = other.mData;
  }
  other.mData = nullptr;
  other.mCount = 0;
  return *this;
}

uint32_t* TuningBuffer::getData() { return mData; }

const uint32_t* TuningBuffer::getData() const { return mData; }

size_t TuningBuffer::getCount() const { return mCount; }

bool TuningBuffer::isEmpty() const { return mCount == 0; }

bool TuningBuffer::hasStorage() const { return mStorage != nullptr; }

void TuningBuffer::reset(size_t count) {
  if (count == 0) {
    mData = nullptr;
    mCount = 0;
    ReplaceStorage(mStorage, nullptr);
    return;
  }
  ReplaceStorage(mStorage, AllocateWords(count));
  mData = mStorage;
  mCount = count;
}

int32_t TuningBuffer::clear(size_t index, size_t count) {
  size_t end;
  if (!RangeFits(index, count, mCount, &end)) {
    ISP_REPORT_ERROR(kTag, TUNING_RANGE_ERROR, end, mCount);
    return kInvalidArgument;
  }
  const size_t words = count == 0 ? mCount - index : count;
  if (words > 0) memset(mData + index, 0, words * kWordSize);
  return 0;
}

void TuningBuffer::set(size_t index, uint32_t value) {
  if (index >= mCount) {
    ISP_REPORT_ERROR(kTag, TUNING_INDEX_ERROR, index, mCount == 0 ? 0 : mCount - 1);
    return;
  }
  mData[index] = value;
}

uint32_t TuningBuffer::get(size_t index) const {
  if (index >= mCount) {
    ISP_REPORT_ERROR(kTag, TUNING_INDEX_ERROR, index, mCount == 0 ? 0 : mCount - 1);
    return 0;
  }
  return mData[index];
}

// Chunk copies use memmove: a caller may hand in a source or destination
// that overlaps the buffer's own words (a wrapped array shared with it).
void TuningBuffer::setChunk(size_t index, size_t count, const uint32_t* src) {
  size_t end;
  if (!RangeFits(index, count, mCount, &end)) {
    ISP_REPORT_ERROR(kTag, TUNING_RANGE_ERROR, end, mCount);
    return;
  }
  if (count > 0) memmove(mData + index, src, count * kWordSize);
}

int32_t TuningBuffer::getChunk(size_t index, size_t count, uint32_t* dst) const {
  size_t end;
  if (!RangeFits(index, count, mCount, &end)) {
    ISP_REPORT_ERROR(kTag, TUNING_RANGE_ERROR, end, mCount);
    return kInvalidArgument;
  }
  if (count > 0) memmove(dst, mData + index, count * kWordSize);
  return 0;
}

int32_t TuningBuffer::copyData(const TuningBuffer& other) {
  if (&other == this) return 0;
  if (mCount != other.mCount) return kInvalidArgument;
  // Two wrapping buffers may view overlapping parts of one caller array.
  if (mCount > 0) memmove(mData, other.mData, mCount * kWordSize);
  return 0;
}

bool TuningBuffer::operator==(const TuningBuffer& other) const {
  if (&other == this) return true;
  if (mCount != other.mCount) return false;
  if (mCount == 0) return true;
  if (mData == other.mData) return true;
  return memcmp(mData, other.mData, mCount * kWordSize) == 0;
}

bool TuningBuffer::operator!=(const TuningBuffer& other) const { return !(*this == other); }

#undef TUNING_INDEX_ERROR
#undef TUNING_RANGE_ERROR

}  // namespace isphal
}  // namespace qvx
