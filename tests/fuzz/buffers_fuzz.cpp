// Fuzz target of the ISP memory descriptors and the EXIF software-tag
// locator: Buffer and ImageBuffer built, copied, reset, changed in place and
// compared with arbitrary field values, and the locator called with
// arbitrary sizes, markers and module names. Each step is checked against a
// plain model of the rules: the validity rule of a Buffer (memory given
// exactly when the size is not 0, a negative descriptor counting as one),
// what a failed construction clears and keeps, the fields that equality
// compares, the virtual calls a derived Buffer can override, the locator's
// wrapping 32-bit size and sign-extended index, and every report line, its
// tag and its type, cut at 1023 bytes like the report's own buffer.
//
// Reports go to the unified logger only (sMode bit 0 stays clear), where the
// tests' report capture records each line and the session compares it with
// the one the model expects. The process still runs in a private /run in
// case a report ever reaches the platform log, whose level lookup opens the
// property storage file.
//
// Input: one configuration byte (logger mode), then operations of one
// opcode byte and their arguments until the input ends (see Session::Step).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reporting_session.h"
#include "tests/support/report_capture.h"
#include "isphal/Buffer.h"
#include "isphal/ExifSwTag.h"
#include "isphal/ImageBuffer.h"
#include "tests/isphal/DescribeBuffer.h"

namespace {

using Pelkor::EImageFormat;
using isputils_test::ReportCapture;
using qvx::isphal::Buffer;
using qvx::isphal::ImageBuffer;
using qvx::isphal::ImageDomain;

constexpr size_t kBufferSlots = 3;
constexpr size_t kImageSlots = 2;
constexpr size_t kTagWords = 64;
constexpr int kMaxOperations = 96;

using fuzz_support::Fail;
using fuzz_support::Format;

// The fuzz input, with field values aimed at the validity rule's edges.
class Input : public fuzz_support::Input {
 public:
  using fuzz_support::Input::Input;
  // Mostly 0, -1 or a small value, so that the validity rule's edges come
  // up often; otherwise any 64-bit pattern.
  uint64_t Field() {
    switch (Byte() % 4) {
      case 0: return 0;
      case 1: return UINT64_MAX;
      case 2: return Byte();
      default: return Bits(8);
    }
  }
  // A text of up to `limit` bytes, cut at its first NUL.
  std::string Text(size_t limit) {
    const size_t wanted = Bits(2) % (limit + 1);
    std::string text;
    while (text.size() < wanted && !empty()) {
      const char c = static_cast<char>(Byte());
      if (c == '\0') break;
      text.push_back(c);
    }
    return text;
  }
};

// A Buffer whose operator bool and operator== say what the fuzzer chose,
// to show that the calls meant to be virtual are.
class OverridingBuffer : public Buffer {
 public:
  using Buffer::Buffer;
  operator bool() const override {
    ++boolCalls;
    return truth;
  }
  bool operator==(const Buffer&) const override { return equal; }
  bool truth = false;
  bool equal = false;
  mutable int boolCalls = 0;
};

// Every field of a Buffer as the model knows it.
struct BufferModel {
  long va = 0;
  int fd = 0;
  unsigned long offset = 0;
  unsigned long size = 0;
  int32_t format = 0;
  unsigned long width = 0;
  unsigned long height = 0;
  unsigned long stride = 0;
  bool geometry = false;
};

struct ImageModel {
  BufferModel buffer;
  unsigned long width = 0;
  unsigned long height = 0;
  unsigned long bitDepth = 0;
  int32_t domain = 0;
};

bool SameMemory(const BufferModel& a, const BufferModel& b) {
  return a.va == b.va && a.fd == b.fd && a.size == b.size;
}

// Compares every accessor of `b`, called virtually, with the model.
void CheckFields(const Buffer& b, const BufferModel& m, const std::string& where) {
  const bool same = b.getVa() == m.va && b.getFd() == m.fd && b.getOffset() == m.offset &&
                    b.getBufferSize() == m.size &&
                    static_cast<int32_t>(b.getBufferFormat()) == m.format &&
                    b.getWidth() == m.width && b.getHeight() == m.height &&
                    b.getStride() == m.stride && b.hasGeometry() == m.geometry &&
                    b.isEmpty() == (m.size == 0);
  if (!same) Fail("Buffer fields differ from the model", where + ": " + isputils_test::DescribeBuffer(b));
}

class Session : public fuzz_support::ReportingSession<Input> {
 public:
  explicit Session(Input* input) : ReportingSession(input, 12, kMaxOperations) {
    static const int32_t kModes[] = {2, 8, 10, 0};
    SetMode(kModes[in_.Byte() & 3]);
    for (auto& slot : buffers_) slot.emplace();
    for (auto& slot : images_) slot.emplace();
    for (size_t i = 0; i < kTagWords; ++i) tagArea_[i] = static_cast<uint32_t>(i);
  }


 private:
  // Slots 0 .. kBufferSlots-1 are plain Buffers, the next one the
  // overriding Buffer.
  size_t AnyBufferSlot() { return in_.Byte() % (kBufferSlots + 1); }
  Buffer& BufferAt(size_t slot) {
    return slot < kBufferSlots ? static_cast<Buffer&>(*buffers_[slot]) : overriding_;
  }
  BufferModel& ModelAt(size_t slot) {
    return slot < kBufferSlots ? bufferModel_[slot] : overridingModel_;
  }

  void ExpectLine(const char* tag, const std::string& text) { expected_.push_back(ReportCapture::UlogEvent(tag, 1, text)); }

  // The argument constructors' model: store, then clear the memory fields
  // after reporting an inconsistent set.
  BufferModel Constructed(long va, int fd, unsigned long offset, unsigned long size,
                          int32_t format, bool geometry, unsigned long width,
                          unsigned long height, unsigned long stride) {
    BufferModel m{va, fd, offset, size, format, width, height, stride, geometry};
    const bool memory = va != 0 || fd != 0;
    if (memory != (size != 0)) {
      ExpectLine("revuvi-Buffer",
                 Format("[Buffer] error: wrong info, va=%lx, fd=%d, bufSize=%zu", va, fd, size));
      m.va = 0;
      m.fd = 0;
      m.size = 0;
    }
    return m;
  }

  void BuildBuffer(size_t slot, bool geometry) {
    const long va = static_cast<long>(in_.Field());
    const int fd = static_cast<int>(in_.Field());
    const unsigned long offset = in_.Field();
    const unsigned long size = in_.Field();
    const int32_t format = static_cast<int32_t>(in_.Bits(4));
    const unsigned long width = geometry ? in_.Field() : 0;
    const unsigned long height = geometry ? in_.Field() : 0;
    const unsigned long stride = geometry ? in_.Field() : 0;
    const auto f = static_cast<EImageFormat>(format);
    ModelAt(slot) = Constructed(va, fd, offset, size, format, geometry, width, height, stride);
    if (slot == kBufferSlots) {
      // Only the Buffer part is replaced, so the dynamic type and the chosen
      // answers of the overriding Buffer stay.
      static_cast<Buffer&>(overriding_) = geometry
          ? Buffer(va, fd, offset, size, f, width, height, stride)
          : Buffer(va, fd, offset, size, f);
      return;
    }
    buffers_[slot].reset();
    if (geometry) {
      buffers_[slot].emplace(va, fd, offset, size, f, width, height, stride);
    } else {
      buffers_[slot].emplace(va, fd, offset, size, f);
    }
  }

  void BuildImage(size_t slot, bool withBuffer) {
    const unsigned long width = in_.Byte() % 3 == 0 ? 0 : in_.Field();
    const unsigned long height = in_.Byte() % 3 == 0 ? 0 : in_.Field();
    const unsigned long bitDepth = in_.Field();
    const int32_t domain = static_cast<int32_t>(in_.Bits(4));
    const size_t source = AnyBufferSlot();
    const int callsBefore = overriding_.boolCalls;
    images_[slot].reset();
    if (withBuffer) {
      images_[slot].emplace(width, height, bitDepth, static_cast<ImageDomain>(domain),
                            BufferAt(source));
    } else {
      images_[slot].emplace(width, height, bitDepth, static_cast<ImageDomain>(domain));
    }
    ImageModel m;
    m.width = width;
    m.height = height;
    m.bitDepth = bitDepth;
    m.domain = domain;
    const bool asked = withBuffer && source == kBufferSlots && width != 0 && height != 0;
    if (overriding_.boolCalls != callsBefore + (asked ? 1 : 0)) {
      Fail("the given Buffer's operator bool", asked ? "not called once, virtually" : "called");
    }
    if (width == 0 || height == 0) {
      ExpectLine("revuvi-ImageBuffer",
                 "[ImageBuffer] error: Invalid ImageBuffer since width or height is 0");
      m.width = m.height = 0;
    } else if (withBuffer) {
      const bool given = source == kBufferSlots ? overriding_.truth : ModelAt(source).size != 0;
      if (given) {
        m.buffer = ModelAt(source);
      } else {
        ExpectLine("revuvi-ImageBuffer",
                   "[ImageBuffer] error: Invalid ImageBuffer since the given Buffer is empty");
        m.width = m.height = 0;
      }
    }
    imageModel_[slot] = m;
  }

  void Locate() {
    const std::string name = in_.Text(1100);
    const int32_t eStart = static_cast<int32_t>(in_.Byte() % 2 ? in_.Bits(4) : in_.Byte() % 40);
    // Often a marker pair a few tags apart and the size that matches it.
    const int32_t eEnd = in_.Byte() % 2
        ? static_cast<int32_t>(static_cast<uint32_t>(eStart) + in_.Byte() % 8)
        : static_cast<int32_t>(in_.Bits(4));
    const int32_t expectedSize =
        static_cast<int32_t>((static_cast<uint32_t>(eEnd) - static_cast<uint32_t>(eStart) - 1u) * 4u);
    const int32_t srcSize = in_.Byte() % 2 ? expectedSize : static_cast<int32_t>(in_.Bits(4));
    const bool nullArea = in_.Byte() % 4 == 0;
    qvx::isphal::module_exif_info info{name.c_str(), srcSize, nullArea ? nullptr : tagArea_,
                                       eStart, eEnd};
    const qvx::isphal::module_exif_info before = info;
    const uint32_t* result = qvx::isphal::getExifSwTagPointer(info);
    if (memcmp(&before, &info, sizeof(info)) != 0) Fail("the locator wrote its argument", name);
    uintptr_t expected = 0;
    if (srcSize == expectedSize && !nullArea) {
      const int32_t index = static_cast<int32_t>(static_cast<uint32_t>(eStart) + 1u);
      expected = reinterpret_cast<uintptr_t>(tagArea_) +
                 static_cast<uintptr_t>(static_cast<intptr_t>(index) * 4);
    }
    if (srcSize != expectedSize) {
      ExpectLine("IspExifSwTag",
                 Format("[getExifSwTagPointer] error: %s exif struct not sync with EXIF SW_TAG "
                        "eNum. src_buf_size(%d) eNumSize(%d) eStart(%d) eEnd(%d)",
                        name.c_str(), srcSize, expectedSize, eStart, eEnd));
      ExpectLine("IspExifSwTag",
                 Format("[getExifSwTagPointer] error: Error: %s exif struct not match EXIF "
                        "SW_TAG eNum\nTRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK",
                        name.c_str()));
    }
    if (reinterpret_cast<uintptr_t>(result) != expected) {
      Fail("locator result", Format("eStart %d eEnd %d size %d", eStart, eEnd, srcSize));
    }
  }

  void Step(int opcode) override {
    switch (opcode) {
      case 0: {  // default construction
        const size_t s = in_.Byte() % kBufferSlots;
        buffers_[s].reset();
        buffers_[s].emplace();
        bufferModel_[s] = BufferModel();
        break;
      }
      case 1:  // the five-argument constructor
      case 2:  // the geometry constructor
        BuildBuffer(AnyBufferSlot(), opcode == 2);
        break;
      case 3: {  // reset from another Buffer, from itself, or to nothing
        const size_t s = AnyBufferSlot();
        const size_t t = in_.Byte() % (kBufferSlots + 2);
        if (t == kBufferSlots + 1) {
          BufferAt(s).reset(nullptr);
          ModelAt(s) = BufferModel();
        } else {
          BufferAt(s).reset(&BufferAt(t));
          ModelAt(s) = ModelAt(t);
        }
        break;
      }
      case 4: {  // copy assignment or copy construction from any Buffer
        const size_t s = in_.Byte() % kBufferSlots;
        const size_t t = AnyBufferSlot();
        if (in_.Byte() & 1) {
          *buffers_[s] = BufferAt(t);
        } else if (t != s) {
          const Buffer copy(BufferAt(t));
          buffers_[s].reset();
          buffers_[s].emplace(copy);
        }
        bufferModel_[s] = ModelAt(t);
        break;
      }
      case 5: {  // comparison, the overriding Buffer's answers included
        const size_t s = AnyBufferSlot();
        const size_t t = AnyBufferSlot();
        const bool equal = BufferAt(s) == BufferAt(t);
        const bool expected = s == kBufferSlots ? overriding_.equal
                              : s == t         ? true
                                               : SameMemory(ModelAt(s), ModelAt(t));
        if (equal != expected) Fail("Buffer ==", Format("slots %zu %zu", s, t));
        if ((BufferAt(s) != BufferAt(t)) == expected) Fail("Buffer != is not the negation", "");
        if (static_cast<bool>(BufferAt(s)) !=
            (s == kBufferSlots ? overriding_.truth : ModelAt(s).size != 0)) {
          Fail("Buffer operator bool", Format("slot %zu", s));
        }
        break;
      }
      case 6:  // the overriding Buffer's answers
        overriding_.truth = in_.Byte() & 1;
        overriding_.equal = in_.Byte() & 1;
        break;
      case 7:
      case 8:
        BuildImage(in_.Byte() % kImageSlots, opcode == 8);
        break;
      case 9: {  // set, or change the held Buffer in place, or through a copy
        const size_t s = in_.Byte() % kImageSlots;
        ImageModel& m = imageModel_[s];
        switch (in_.Byte() % 3) {
          case 0:
            m.width = in_.Field();
            m.height = in_.Field();
            m.bitDepth = in_.Field();
            m.domain = static_cast<int32_t>(in_.Bits(4));
            images_[s]->set(m.width, m.height, m.bitDepth, static_cast<ImageDomain>(m.domain));
            break;
          case 1: {
            const size_t t = in_.Byte() % (kBufferSlots + 2);
            if (t > kBufferSlots) {
              images_[s]->getRefBuffer().reset(nullptr);
              m.buffer = BufferModel();
            } else {
              images_[s]->getRefBuffer().reset(&BufferAt(t));
              m.buffer = ModelAt(t);
            }
            break;
          }
          default: {
            Buffer copy = images_[s]->getBuffer();
            CheckFields(copy, m.buffer, "getBuffer");
            copy.reset(nullptr);
            break;
          }
        }
        break;
      }
      case 10: {  // image comparison and copy assignment
        const size_t s = in_.Byte() % kImageSlots;
        const size_t t = in_.Byte() % kImageSlots;
        const ImageModel& a = imageModel_[s];
        const ImageModel& b = imageModel_[t];
        const bool expected = s == t || (a.width == b.width && a.height == b.height &&
                                         SameMemory(a.buffer, b.buffer));
        if ((*images_[s] == *images_[t]) != expected) Fail("ImageBuffer ==", "");
        if ((*images_[s] != *images_[t]) == expected) Fail("ImageBuffer != is not the negation", "");
        if (in_.Byte() & 1) {
          *images_[s] = *images_[t];
          imageModel_[s] = imageModel_[t];
        }
        break;
      }
      default:
        Locate();
        break;
    }
  }

  void CheckAll(int opcode) override {
    const std::string op = "after opcode " + std::to_string(opcode);
    for (size_t s = 0; s <= kBufferSlots; ++s) {
      CheckFields(BufferAt(s), ModelAt(s), op + ", buffer " + std::to_string(s));
    }
    for (size_t s = 0; s < kImageSlots; ++s) {
      const ImageBuffer& image = *images_[s];
      const ImageModel& m = imageModel_[s];
      const std::string where = op + ", image " + std::to_string(s);
      CheckFields(images_[s]->getRefBuffer(), m.buffer, where + " (held)");
      const bool same = image.getWidth() == m.width && image.getHeight() == m.height &&
                        image.getBitDepth() == m.bitDepth &&
                        static_cast<int32_t>(image.getImageDomain()) == m.domain &&
                        image.getVa() == m.buffer.va && image.getFd() == m.buffer.fd &&
                        image.getBufferSize() == m.buffer.size &&
                        static_cast<bool>(image) == (m.width != 0 && m.height != 0);
      if (!same) Fail("ImageBuffer fields differ from the model", where);
    }
  }

  std::optional<Buffer> buffers_[kBufferSlots];
  BufferModel bufferModel_[kBufferSlots];
  OverridingBuffer overriding_;
  BufferModel overridingModel_;
  std::optional<ImageBuffer> images_[kImageSlots];
  ImageModel imageModel_[kImageSlots];
  uint32_t tagArea_[kTagWords];
};

}  // namespace

ISPUTILS_FUZZ_SESSION_TARGET(Session, Input)
