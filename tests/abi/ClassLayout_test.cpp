// Checks the layouts that other libraries of the camera stack compile
// against: the field offsets of Buffer and ImageBuffer and the virtual-table
// slots of Buffer and of the unified logger's emitDetails. A reordered
// member or virtual function builds cleanly and breaks every caller at run
// time; these tests make it fail here instead.
#include <stdint.h>
#include <string.h>

#include <cstddef>

#include "gtest/gtest.h"
#include "isphal/Buffer.h"
#include "isphal/ImageBuffer.h"
#include "ulog/ULogger.h"

namespace qvx {
namespace isphal {
namespace {

// The virtual-table slot a pointer to a virtual member function names, or -1
// for a non-virtual one, by the Itanium C++ ABI's representation: a pointer
// word and a this-adjustment word. Generic targets mark a virtual function
// in the pointer word, which holds 1 plus the slot's byte offset. Arm
// targets, whose function addresses may be odd, mark it in bit 0 of the
// adjustment word (twice the adjustment, plus 1) and keep the plain byte
// offset in the pointer word.
template <typename MemberFunction>
ptrdiff_t VtableSlot(MemberFunction function) {
  struct Representation {
    ptrdiff_t pointer;
    ptrdiff_t adjustment;
  } representation;
  static_assert(sizeof(function) == sizeof(representation), "Itanium member pointer");
  memcpy(&representation, &function, sizeof(representation));
#if defined(__aarch64__) || defined(__arm__)
  if ((representation.adjustment & 1) == 0) return -1;
  const ptrdiff_t offset = representation.pointer;
#else
  if ((representation.pointer & 1) == 0) return -1;
  const ptrdiff_t offset = representation.pointer - 1;
#endif
  return offset / static_cast<ptrdiff_t>(sizeof(void*));
}

template <typename T>
T ReadAt(const void* object, size_t offset) {
  T value;
  memcpy(&value, static_cast<const unsigned char*>(object) + offset, sizeof(value));
  return value;
}

TEST(ClassLayoutTest, BufferFieldsInDeclaredOrder) {
  const Buffer buffer(0x1111, 0x22, 0x33, 0x44, static_cast<Pelkor::EImageFormat>(0x55),
                      0x66, 0x77, 0x88);
  ASSERT_EQ(sizeof(Buffer), 80u);
  EXPECT_EQ(ReadAt<long>(&buffer, 8), 0x1111);
  EXPECT_EQ(ReadAt<int>(&buffer, 16), 0x22);
  EXPECT_EQ(ReadAt<unsigned long>(&buffer, 24), 0x33u);
  EXPECT_EQ(ReadAt<unsigned long>(&buffer, 32), 0x44u);
  EXPECT_EQ(ReadAt<int32_t>(&buffer, 40), 0x55);
  EXPECT_EQ(ReadAt<unsigned long>(&buffer, 48), 0x66u);
  EXPECT_EQ(ReadAt<unsigned long>(&buffer, 56), 0x77u);
  EXPECT_EQ(ReadAt<unsigned long>(&buffer, 64), 0x88u);
  EXPECT_EQ(ReadAt<unsigned char>(&buffer, 72), 1);
}

TEST(ClassLayoutTest, ImageBufferHoldsItsBufferFirst) {
  const Buffer pixels(0x1000, 0, 0, 64, Pelkor::eImageFormatNv12);
  const ImageBuffer image(0x11, 0x22, 0x33, static_cast<ImageDomain>(0x44), pixels);
  ASSERT_EQ(sizeof(ImageBuffer), 120u);
  EXPECT_EQ(ReadAt<long>(&image, 8 + 8), 0x1000);
  EXPECT_EQ(ReadAt<unsigned long>(&image, 8 + 32), 64u);
  EXPECT_EQ(ReadAt<unsigned long>(&image, 88), 0x11u);
  EXPECT_EQ(ReadAt<unsigned long>(&image, 96), 0x22u);
  EXPECT_EQ(ReadAt<unsigned long>(&image, 104), 0x33u);
  EXPECT_EQ(ReadAt<int32_t>(&image, 112), 0x44);
}

TEST(ClassLayoutTest, BufferVirtualTableOrder) {
  // Slots 0 and 1 hold the destructor's complete and deleting forms.
  EXPECT_EQ(VtableSlot(&Buffer::isEmpty), 2);
  EXPECT_EQ(VtableSlot(&Buffer::getVa), 3);
  EXPECT_EQ(VtableSlot(&Buffer::getFd), 4);
  EXPECT_EQ(VtableSlot(&Buffer::getBufferSize), 5);
  EXPECT_EQ(VtableSlot(&Buffer::getBufferFormat), 6);
  EXPECT_EQ(VtableSlot(&Buffer::getWidth), 7);
  EXPECT_EQ(VtableSlot(&Buffer::getHeight), 8);
  EXPECT_EQ(VtableSlot(&Buffer::getStride), 9);
  EXPECT_EQ(VtableSlot(&Buffer::getOffset), 10);
  EXPECT_EQ(VtableSlot(&Buffer::reset), 11);
  EXPECT_EQ(VtableSlot(&Buffer::operator==), 12);
  EXPECT_EQ(VtableSlot(&Buffer::operator!=), 13);
  EXPECT_EQ(VtableSlot(&Buffer::operator bool), 14);
}

TEST(ClassLayoutTest, ImageBufferOperationsAreNotVirtual) {
  EXPECT_EQ(VtableSlot(&ImageBuffer::getWidth), -1);
  EXPECT_EQ(VtableSlot(&ImageBuffer::operator==), -1);
  EXPECT_EQ(VtableSlot(&ImageBuffer::operator bool), -1);
}

TEST(ClassLayoutTest, EmitDetailsIsTheFourthVirtualFunction) {
  EXPECT_EQ(VtableSlot(&Pelkor::Utils::ULog::ULogger::emitDetails), 3);
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
