// qvx::isphal::ImageBuffer describes an image held in one Buffer: the
// image's width, height, bit depth and domain, together with the Buffer that
// holds the pixels. Its argument constructors insist on a non-zero width and
// height and, when a Buffer is given, on a non-empty one; a failure is
// reported through the library's error report and leaves an ImageBuffer
// whose width and height are 0 (operator bool false). Like Buffer it is a
// descriptor and owns nothing.
//
// The class layout is part of the library's binary interface: never reorder,
// insert or remove members, and keep every operation but the destructor
// non-virtual.
//
// Thread-safety: no lock. Concurrent reads are safe; a write concurrent with
// any other access to the same ImageBuffer is the caller's to prevent.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_IMAGEBUFFER_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_IMAGEBUFFER_H_

#include <stdint.h>

#include "isphal/Buffer.h"
#include "isphal/export.h"

namespace qvx {
namespace isphal {

// Where in the pipeline an image lives. Stored and handed back, never
// interpreted by this library; 0 is what a default-built ImageBuffer holds.
enum ImageDomain : int32_t {
  kImageDomainUnknown = 0,
  // Sensor samples before demosaicing.
  kImageDomainRaw = 1,
  // Luma/chroma after the ISP's colour conversion.
  kImageDomainYuv = 2,
  // Demosaiced red/green/blue.
  kImageDomainRgb = 3,
};

// Intentionally copyable: a copy takes every field, the held Buffer by its
// own copy.
class ISPBUFFERS_EXPORT ImageBuffer {
 public:
  // An invalid ImageBuffer: empty Buffer, width, height and bit depth 0,
  // domain 0. Reports nothing.
  ImageBuffer();

  // An image of `width` x `height` at `bitDepth` in `domain`, with an empty
  // Buffer. A zero width or height is reported and leaves width and height
  // 0; bit depth and domain keep the values passed.
  ImageBuffer(unsigned long width, unsigned long height, unsigned long bitDepth,
              ImageDomain domain);

  // As above, held in a copy of `buffer` (its Buffer fields only: the copy
  // is a plain Buffer whatever the dynamic type of `buffer`). `buffer` is
  // tested with its virtual operator bool and must test true, or the failure
  // is reported and the ImageBuffer is left invalid with an empty Buffer.
  // With a zero width or height `buffer` is not looked at. `buffer` is only
  // read during the call.
  ImageBuffer(unsigned long width, unsigned long height, unsigned long bitDepth,
              ImageDomain domain, const Buffer& buffer);

  ImageBuffer(const ImageBuffer&) = default;
  ImageBuffer& operator=(const ImageBuffer&) = default;

  // Destroys the held Buffer, which releases nothing.
  virtual ~ImageBuffer();

  // A copy of the held Buffer; changing it leaves this ImageBuffer as it is.
  Buffer getBuffer() const;
  // The held Buffer itself, for reading or changing it in place. The
  // reference lives as long as this ImageBuffer.
  Buffer& getRefBuffer();

  // Overwrites width, height, bit depth and domain. Checks and reports
  // nothing, so it can make the ImageBuffer valid or invalid.
  void set(unsigned long width, unsigned long height, unsigned long bitDepth,
           ImageDomain domain);

  // The held Buffer's virtual address, descriptor and size.
  long getVa() const;
  int getFd() const;
  unsigned long getBufferSize() const;

  // The image's own geometry, as stored.
  unsigned long getWidth() const;
  unsigned long getHeight() const;
  unsigned long getBitDepth() const;
  ImageDomain getImageDomain() const;

  // True for the very same object, else when widths, heights and the held
  // Buffers (address, descriptor, size) are equal. Bit depth and domain are
  // not compared.
  bool operator==(const ImageBuffer& other) const;
  // The opposite of operator==.
  bool operator!=(const ImageBuffer& other) const;

  // True when width and height are both non-zero; says nothing about the
  // held Buffer.
  operator bool() const;

 private:
  Buffer mBuffer;
  unsigned long mWidth;
  unsigned long mHeight;
  unsigned long mBitDepth;
  ImageDomain mImageDomain;
};

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_IMAGEBUFFER_H_
