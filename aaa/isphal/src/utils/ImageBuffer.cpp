// ImageBuffer: image geometry plus the Buffer that holds the pixels,
// checked at construction. Owns nothing.
#include "isphal/ImageBuffer.h"

#include "aaa/isphal/src/utils/ErrorReport.h"

namespace qvx {
namespace isphal {
namespace {

constexpr char kTag[] = "revuvi-ImageBuffer";

}  // namespace

// Other libraries of the camera stack compile against this layout.
static_assert(sizeof(ImageBuffer) == 120,
              "ImageBuffer layout is part of the binary interface");

ImageBuffer::ImageBuffer()
    : mBuffer(), mWidth(0), mHeight(0), mBitDepth(0), mImageDomain(kImageDomainUnknown) {}

ImageBuffer::ImageBuffer(unsigned long width, unsigned long height,
                         unsigned long bitDepth, ImageDomain domain)
    : mBuffer(), mWidth(width), mHeight(height), mBitDepth(bitDepth), mImageDomain(domain) {
  if (mWidth == 0 || mHeight == 0) {
    ISP_REPORT_ERROR(kTag, "[%s] error: Invalid ImageBuffer since width or height is 0");
    mWidth = 0;
    mHeight = 0;
  }
}

ImageBuffer::ImageBuffer(unsigned long width, unsigned long height,
                         unsigned long bitDepth, ImageDomain domain,
                         const Buffer& buffer)
    : mBuffer(), mWidth(width), mHeight(height), mBitDepth(bitDepth), mImageDomain(domain) {
  if (mWidth == 0 || mHeight == 0) {
    ISP_REPORT_ERROR(kTag, "[%s] error: Invalid ImageBuffer since width or height is 0");
    mWidth = 0;
    mHeight = 0;
    return;
  }
  // Asked virtually: a derived Buffer may have its own idea of emptiness.
  if (!static_cast<bool>(buffer)) {
    ISP_REPORT_ERROR(kTag, "[%s] error: Invalid ImageBuffer since the given Buffer is empty");
    mWidth = 0;
    mHeight = 0;
    return;
  }
  // Buffer's own copy assignment: the held Buffer stays a plain Buffer.
  mBuffer = buffer;
}

ImageBuffer::~ImageBuffer() = default;

Buffer ImageBuffer::getBuffer() const { return mBuffer; }

Buffer& ImageBuffer::getRefBuffer() { return mBuffer; }

void ImageBuffer::set(unsigned long width, unsigned long height,
                      unsigned long bitDepth, ImageDomain domain) {
  mWidth = width;
  mHeight = height;
  mBitDepth = bitDepth;
  mImageDomain = domain;
}

// The held Buffer is always exactly a Buffer, so its accessors are called
// directly rather than through the virtual table.
long ImageBuffer::getVa() const { return mBuffer.Buffer::getVa(); }

int ImageBuffer::getFd() const { return mBuffer.Buffer::getFd(); }

unsigned long ImageBuffer::getBufferSize() const {
  return mBuffer.Buffer::getBufferSize();
}

unsigned long ImageBuffer::getWidth() const { return mWidth; }

unsigned long ImageBuffer::getHeight() const { return mHeight; }

unsigned long ImageBuffer::getBitDepth() const { return mBitDepth; }

ImageDomain ImageBuffer::getImageDomain() const { return mImageDomain; }

bool ImageBuffer::operator==(const ImageBuffer& other) const {
  if (&other == this) return true;
  if (mWidth != other.mWidth || mHeight != other.mHeight) return false;
  return mBuffer.Buffer::operator==(other.mBuffer);
}

bool ImageBuffer::operator!=(const ImageBuffer& other) const { return !(*this == other); }

ImageBuffer::operator bool() const { return mWidth != 0 && mHeight != 0; }

}  // namespace isphal
}  // namespace qvx
