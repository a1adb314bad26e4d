// qvx::isphal::Buffer describes one piece of memory shared with the ISP: a
// virtual address and/or a file descriptor, an offset, a size in bytes, an
// image format and, optionally, image geometry. It is a descriptor and owns
// nothing: building, copying or destroying a Buffer never maps, unmaps,
// duplicates or closes anything. The argument constructors check that the
// address, the descriptor and the size agree; a mismatch is reported through
// the library's error report and leaves an empty Buffer behind.
//
// The class layout and the order of its virtual functions are part of the
// library's binary interface: never reorder, insert or remove members.
//
// Thread-safety: no lock. Concurrent reads of one Buffer are safe; a write
// (reset, assignment) concurrent with any other access to the same Buffer is
// the caller's to prevent.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_BUFFER_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_BUFFER_H_

#include "imageformat/EImageFormat.h"
#include "isphal/export.h"

namespace qvx {
namespace isphal {

// Intentionally copyable: a copy takes every field, the geometry flag
// included, and is neither validated nor reported. Copy assignment keeps the
// target's dynamic type.
class ISPBUFFERS_EXPORT Buffer {
 public:
  // An empty Buffer: every field 0, no geometry. Reports nothing.
  Buffer();

  // Describes `bufferSize` bytes at virtual address `va` and/or descriptor
  // `fd` (0 meaning none; a negative descriptor counts as one), `offset`
  // bytes in, of `format`. Width, height and stride are 0.
  // Either memory is given (va or fd not 0) and bufferSize is not 0, or
  // neither is and bufferSize is 0; otherwise the mismatch is reported and
  // va, fd and bufferSize are cleared, so the Buffer is empty while offset
  // and format keep the values passed. Test the result with isEmpty().
  Buffer(long va, int fd, unsigned long offset, unsigned long bufferSize,
         Pelkor::EImageFormat format);

  // As above, and also stores the image geometry and marks the Buffer as
  // carrying geometry. After a reported mismatch the geometry and the mark
  // are kept.
  Buffer(long va, int fd, unsigned long offset, unsigned long bufferSize,
         Pelkor::EImageFormat format, unsigned long width, unsigned long height,
         unsigned long stride);

  Buffer(const Buffer&) = default;
  Buffer& operator=(const Buffer&) = default;

  // Releases nothing: the memory and the descriptor stay the caller's.
  virtual ~Buffer();

  // True when the buffer size is 0. The exact opposite of operator bool.
  virtual bool isEmpty() const;
  // The stored virtual address, unchanged; 0 when there is none.
  virtual long getVa() const;
  // The stored file descriptor; 0 when there is none.
  virtual int getFd() const;
  // The size of the memory in bytes; 0 for an empty Buffer.
  virtual unsigned long getBufferSize() const;
  // The stored format; never interpreted here.
  virtual Pelkor::EImageFormat getBufferFormat() const;
  // Image geometry as stored; 0 unless the geometry constructor set it.
  virtual unsigned long getWidth() const;
  virtual unsigned long getHeight() const;
  virtual unsigned long getStride() const;
  // The stored offset; never interpreted here.
  virtual unsigned long getOffset() const;

  // With `other` not null, takes over every field of *other as copy
  // assignment does, unchecked and unreported; this Buffer's dynamic type
  // stays. With `other` null, returns to the default-built state (all 0, no
  // geometry). `other` is only read during the call.
  virtual void reset(const Buffer* other);

  // True for the very same object, else when the virtual addresses, the
  // descriptors and the buffer sizes are equal. Offset, format and geometry
  // are deliberately not compared: two descriptors of the same memory are
  // equal however their users view it.
  virtual bool operator==(const Buffer& other) const;
  // The opposite of operator== called virtually, so a derived class's
  // equality counts.
  virtual bool operator!=(const Buffer& other) const;

  // True when the buffer size is not 0.
  virtual operator bool() const;

  // True when the geometry constructor built this Buffer or it took over the
  // fields of one that was. Inline and not virtual, so it adds nothing to
  // the exported interface.
  bool hasGeometry() const { return mHasGeometry; }

 private:
  long mVa;
  int mFd;
  unsigned long mOffset;
  unsigned long mBufferSize;
  Pelkor::EImageFormat mFormat;
  unsigned long mWidth;
  unsigned long mHeight;
  unsigned long mStride;
  bool mHasGeometry;
};

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_BUFFER_H_
