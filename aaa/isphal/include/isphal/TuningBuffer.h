// TuningBuffer: a counted array of 32-bit tuning words for the ISP layer.
// A buffer is in one of three states:
//   empty     getCount() 0, no storage, getData() null;
//   owning    it allocated its words itself (zero-filled) and frees them;
//   wrapping  it views an array its caller owns and never frees it.
// Copies follow the mode of the source: copying an owning buffer gives a
// deep copy, copying a wrapping buffer gives a second view of the same caller
// array, copying an empty buffer empties the destination. Moves hand storage
// over and leave the source empty and reusable.
//
// Bound errors are reported through the library's error report (tag
// "revuvi-TuningBuffer") and leave the buffer and the caller's memory
// unchanged. An allocation that cannot be met (always so for 2^62 words or
// more) ends the process after a line on standard error naming the request;
// nothing is thrown, and no operation ever goes on with a short array.
//
// Thread-safety: none inside. Use each buffer from one thread at a time;
// buffers that wrap the same caller array share its words unsynchronised.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_TUNINGBUFFER_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_TUNINGBUFFER_H_

#include <stddef.h>
#include <stdint.h>

#include "isphal/BaseObject.h"
#include "isphal/export.h"

namespace qvx {
namespace isphal {

// Intentionally copyable; see the file comment for what a copy shares.
class ISPBUFFERS_EXPORT TuningBuffer : public BaseObject {
 public:
  // What the array constructor does with the caller's array. Every non-zero
  // value acts as WRAP.
  enum OpsFlag : int32_t {
    COPY = 0,  // copy the words into storage the buffer owns
    WRAP = 1,  // view the caller's array; the caller keeps ownership
  };

  // An empty buffer.
  TuningBuffer();
  // `count` zero words in storage the buffer owns; empty when count is 0.
  explicit TuningBuffer(size_t count);
  // Empty when count is 0, whatever `data` and `flag` are. With COPY, owns a
  // copy of the `count` words at `data`; with WRAP, views `data`, which the
  // caller keeps alive and at least `count` words long while any buffer
  // views it.
  // REQUIRES: data points to `count` words when count > 0.
  TuningBuffer(uint32_t* data, size_t count, OpsFlag flag);
  // Starts empty, then copy-assigns `other`.
  TuningBuffer(const TuningBuffer& other);
  // Starts empty, then move-assigns `other`; `other` is left empty.
  TuningBuffer(TuningBuffer&& other) noexcept;
  // Frees the buffer's own storage; never touches a wrapped array.
  virtual ~TuningBuffer();

  // Deep copy from an owning buffer (reusing this buffer's storage when it
  // owns one of the same count), shallow view of a wrapping one, empty from
  // an empty one. Self-assignment changes nothing.
  TuningBuffer& operator=(const TuningBuffer& other);
  // Takes `other`'s storage or view without copying words; `other` becomes
  // empty. Self-assignment changes nothing.
  TuningBuffer& operator=(TuningBuffer&& other) noexcept;

  // The first word of the view; null when empty.
  uint32_t* getData();
  const uint32_t* getData() const;
  // Number of words in the view.
  size_t getCount() const;
  // True when the count is 0.
  bool isEmpty() const;
  // True when the buffer owns its words.
  bool hasStorage() const;

  // Re-creates the buffer with `count` zero words in freshly allocated
  // storage (even for an unchanged count), or empties it for 0. A wrapped
  // array is left untouched and no longer viewed.
  void reset(size_t count);
  // Zeroes `count` words from `index`; a count of 0 means every word from
  // `index` to the end. Returns 0, or -22 after reporting a range beyond the
  // buffer (nothing is changed then). Clearing a wrapping buffer clears the
  // caller's array.
  int32_t clear(size_t index, size_t count);
  // Stores `value` at `index`; reports a bad index and writes nothing.
  void set(size_t index, uint32_t value);
  // The word at `index`; 0 after reporting a bad index.
  uint32_t get(size_t index) const;
  // Copies `count` words from `src` to `index`; reports a range beyond the
  // buffer and writes nothing. A count of 0 copies nothing.
  // REQUIRES: src points to `count` words.
  void setChunk(size_t index, size_t count, const uint32_t* src);
  // Copies `count` words at `index` to `dst` and returns 0; returns -22 after
  // reporting a range beyond the buffer, leaving dst untouched.
  // REQUIRES: dst has room for `count` words.
  int32_t getChunk(size_t index, size_t count, uint32_t* dst) const;
  // Copies all words of `other` into this buffer's view when the counts are
  // equal and returns 0; returns -22 without a report otherwise. Neither
  // buffer changes mode.
  int32_t copyData(const TuningBuffer& other);

  // Equality of contents: equal counts and equal words. Mode and storage are
  // not compared.
  bool operator==(const TuningBuffer& other) const;
  bool operator!=(const TuningBuffer& other) const;

 private:
  uint32_t* mData;     // the view; null when empty
  size_t mCount;       // words in the view
  uint32_t* mStorage;  // owned words, or null when not owning
};

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_TUNINGBUFFER_H_
