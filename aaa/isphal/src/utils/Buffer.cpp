// Buffer: a memory descriptor that checks its address, descriptor and size
// at construction and reports a mismatch. Owns nothing.
#include "isphal/Buffer.h"

#include "aaa/isphal/src/utils/ErrorReport.h"

namespace qvx {
namespace isphal {
namespace {

constexpr char kTag[] = "revuvi-Buffer";

// A literal, so that the error report appends its decoration at compile
// time; named, so that the report is one line: the line it gives is that of
// the whole statement whatever the compiler (GCC names a statement over
// several lines by its first line, clang by its last).
#define BUFFER_INFO_ERROR "[%s] error: wrong info, va=%lx, fd=%d, bufSize=%zu"

// Either memory and a size, or neither. A descriptor of 0 is no descriptor;
// a negative one still counts, so that a failed open passed in by mistake is
// caught rather than taken for "no memory".
bool IsConsistent(long va, int fd, unsigned long bufferSize) {
  const bool hasMemory = va != 0 || fd != 0;
  return hasMemory == (bufferSize != 0);
}

}  // namespace

// Other libraries of the camera stack compile against this layout.
static_assert(sizeof(Buffer) == 80, "Buffer layout is part of the binary interface");

Buffer::Buffer()
    : mVa(0),
      mFd(0),
      mOffset(0),
      mBufferSize(0),
      mFormat(static_cast<Pelkor::EImageFormat>(0)),
      mWidth(0),
      mHeight(0),
      mStride(0),
      mHasGeometry(false) {}

Buffer::Buffer(long va, int fd, unsigned long offset, unsigned long bufferSize,
               Pelkor::EImageFormat format)
    : Buffer(va, fd, offset, bufferSize, format, 0, 0, 0) {
  mHasGeometry = false;
}

Buffer::Buffer(long va, int fd, unsigned long offset, unsigned long bufferSize,
               Pelkor::EImageFormat format, unsigned long width,
               unsigned long height, unsigned long stride)
    : mVa(va),
      mFd(fd),
      mOffset(offset),
      mBufferSize(bufferSize),
      mFormat(format),
      mWidth(width),
      mHeight(height),
      mStride(stride),
      mHasGeometry(true) {
  if (IsConsistent(va, fd, bufferSize)) return;
  ISP_REPORT_ERROR(kTag, BUFFER_INFO_ERROR, static_cast<unsigned long>(va), fd, bufferSize);
  // Only the memory is dropped: offset, format and geometry stay for the
  // caller's diagnostics.
  mVa = 0;
  mFd = 0;
  mBufferSize = 0;
}

Buffer::~Buffer() = default;

bool Buffer::isEmpty() const { return mBufferSize == 0; }

long Buffer::getVa() const { return mVa; }

int Buffer::getFd() const { return mFd; }

unsigned long Buffer::getBufferSize() const { return mBufferSize; }

Pelkor::EImageFormat Buffer::getBufferFormat() const { return mFormat; }

unsigned long Buffer::getWidth() const { return mWidth; }

unsigned long Buffer::getHeight() const { return mHeight; }

unsigned long Buffer::getStride() const { return mStride; }

unsigned long Buffer::getOffset() const { return mOffset; }

void Buffer::reset(const Buffer* other) {
  if (other != nullptr) {
    *this = *other;
  } else {
    *this = Buffer();
  }
}

bool Buffer::operator==(const Buffer& other) const {
  if (&other == this) return true;
  return mVa == other.mVa && mFd == other.mFd && mBufferSize == other.mBufferSize;
}

bool Buffer::operator!=(const Buffer& other) const { return !(*this == other); }

Buffer::operator bool() const { return mBufferSize != 0; }

}  // namespace isphal
}  // namespace qvx
