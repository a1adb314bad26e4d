// Stand-in for the camera stack's image-format enumeration. The ISP utilities
// only store and hand back these values, never interpret them, so the
// stand-in names a handful of common layouts; on a device the real outside
// header takes its place. The enumeration is 32 bits wide and 0 means that
// the format is unknown, which is what a default-built descriptor holds.
//
// Thread-safety: declarations only.
#ifndef PLATFORM_IMAGE_FORMAT_INCLUDE_IMAGEFORMAT_EIMAGEFORMAT_H_
#define PLATFORM_IMAGE_FORMAT_INCLUDE_IMAGEFORMAT_EIMAGEFORMAT_H_

#include <stdint.h>

namespace Pelkor {

// Pixel layout of an image buffer. Values are part of the binary interface
// shared with the rest of the camera stack: never renumber them.
enum EImageFormat : int32_t {
  eImageFormatUnknown = 0,
  // Semi-planar 4:2:0, Y plane then interleaved CbCr.
  eImageFormatNv12 = 1,
  // Semi-planar 4:2:0, Y plane then interleaved CrCb.
  eImageFormatNv21 = 2,
  // Packed 4:2:2, Y0 Cb Y1 Cr.
  eImageFormatYuyv = 3,
  // Bayer raw, 10 bits a sample, packed.
  eImageFormatRaw10 = 4,
  // Bayer raw, 12 bits a sample, packed.
  eImageFormatRaw12 = 5,
  // Bayer raw, 16 bits a sample.
  eImageFormatRaw16 = 6,
  // Opaque bytes (encoded images, statistics).
  eImageFormatBlob = 7,
};

static_assert(sizeof(EImageFormat) == 4, "EImageFormat is a 32-bit enumeration");

}  // namespace Pelkor

#endif  // PLATFORM_IMAGE_FORMAT_INCLUDE_IMAGEFORMAT_EIMAGEFORMAT_H_
