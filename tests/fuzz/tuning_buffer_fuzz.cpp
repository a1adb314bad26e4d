// Fuzz target of TuningBuffer: sequences of constructions, copies, moves,
// resets and word and chunk accesses on a few buffers, some of them wrapping
// caller arrays, each step checked against a plain std::vector model of the
// rules: the three states (empty, owning, wrapping), deep copies of owning
// sources and shallow views of wrapping ones, storage reused only by a copy
// of equal count, clear's count 0 meaning "to the end", and refusal of every
// request outside the buffer, including those whose index + count passes
// 2^64, with status -22 where there is a result and exactly one report line.
// Every caller array sits between guard words that must never change, and
// every owning buffer's storage must be exactly count words long.
//
// Reports go to the unified logger only (sMode bit 0 stays clear), where the
// tests' report capture records each line and the session compares it with
// the one the model expects. The process still runs in a private /run in
// case a report ever reaches the platform log, whose level lookup opens the
// property storage file.
//
// Input: one configuration byte (logger mode, debug lines on or off), then
// operations of one opcode byte and their arguments until the input ends
// (see Session::Step). Counts that would allocate are kept small: a count of
// 2^62 or more ends the process by design, so only accesses see such values.
#include <sanitizer/allocator_interface.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reporting_session.h"
#include "tests/support/report_capture.h"
#include "isphal/TuningBuffer.h"

namespace {

using qvx::isphal::TuningBuffer;
using isputils_test::ReportCapture;

constexpr size_t kSlots = 4;
constexpr size_t kArrays = 2;
constexpr size_t kArrayWords = 24;   // words a caller array offers to wrap
constexpr size_t kGuardWords = 4;    // guard words on each side of it
constexpr size_t kMaxOwnedWords = 32;
constexpr size_t kScratchWords = kMaxOwnedWords;
constexpr uint32_t kGuard = 0xDEADBEEFu;
constexpr int kMaxOperations = 128;
constexpr char kTag[] = "revuvi-TuningBuffer";

using fuzz_support::Fail;
using fuzz_support::Format;

// The fuzz input, with indexes and counts aimed at a buffer's edges.
class Input : public fuzz_support::Input {
 public:
  using fuzz_support::Input::Input;
  uint32_t Word() { return static_cast<uint32_t>(Bits(4)); }
  // An index or count aimed at the edges of a buffer of `count` words; for a
  // count, `index` is the index it goes with, so that index + count can land
  // exactly on SIZE_MAX or wrap to a small value past 2^64.
  size_t Edge(size_t count, size_t index) {
    const uint8_t selector = Byte();
    switch (selector % 12) {
      case 0: return 0;
      case 1: return count - 1;  // SIZE_MAX for an empty buffer
      case 2: return count;
      case 3: return count + 1;
      case 4: return SIZE_MAX;
      case 5: return SIZE_MAX - index;
      case 6: return size_t{1} << 62;
      case 7: return size_t{1} << 63;
      case 8: return 0 - index;            // index + this wraps to exactly 0
      case 9: return 0 - index + count;    // ... to exactly count
      default: return Byte() % (count + 2);
    }
  }
};

// A caller-owned array with guard words on each side, on the heap so that
// the address sanitizer sees any access past the guards too.
class GuardedArray {
 public:
  explicit GuardedArray(size_t words)
      : words_(words), raw_(new uint32_t[words + 2 * kGuardWords]) {
    for (size_t i = 0; i < words + 2 * kGuardWords; ++i) raw_[i] = kGuard;
  }

  uint32_t* data() { return raw_.get() + kGuardWords; }
  size_t size() const { return words_; }
  void CheckGuards(const char* name) const {
    for (size_t i = 0; i < kGuardWords; ++i) {
      if (raw_[i] != kGuard || raw_[kGuardWords + words_ + i] != kGuard) {
        Fail("guard word overwritten", name);
      }
    }
  }

 private:
  size_t words_;
  std::unique_ptr<uint32_t[]> raw_;
};

// What the model knows of one buffer. An owning buffer's words live in
// `words`; a wrapping buffer's are the caller array's, seen at `offset`.
struct BufferModel {
  enum State { kEmpty, kOwning, kWrapping } state = kEmpty;
  std::vector<uint32_t> words;
  size_t array = 0;
  size_t offset = 0;
  size_t count = 0;
  const uint32_t* storage = nullptr;  // an owning buffer's array, when known
};

class Session : public fuzz_support::ReportingSession<Input> {
 public:
  explicit Session(Input* input) : ReportingSession(input, 16, kMaxOperations) {
    const uint8_t config = in_.Byte();
    static const int32_t kModes[] = {2, 8, 10, 0};
    SetMode(kModes[config & 3]);
    debugLines_ = (config & 4) != 0;
    capture_.SetDetails(debugLines_ ? 5 : 4, 0x40001000);
    for (size_t a = 0; a < kArrays; ++a) {
      arrays_.push_back(std::make_unique<GuardedArray>(kArrayWords));
      arrayModel_.emplace_back(kArrayWords);
      for (size_t i = 0; i < kArrayWords; ++i) {
        arrays_[a]->data()[i] = arrayModel_[a][i] = in_.Word();
      }
    }
    for (size_t s = 0; s < kSlots; ++s) slots_[s].emplace();
  }

  // Buffers go first: a wrapped array must outlive every view of it (the
  // arrays themselves go with the members, after this body).
  ~Session() {
    for (auto& slot : slots_) slot.reset();
    CheckArrays("after the buffers were destroyed");
  }


 private:
  // -- the model's view of words ------------------------------------------

  std::vector<uint32_t> Words(const BufferModel& m) const {
    if (m.state == BufferModel::kOwning) return m.words;
    if (m.state == BufferModel::kEmpty) return {};
    const auto begin = arrayModel_[m.array].begin() + static_cast<ptrdiff_t>(m.offset);
    return std::vector<uint32_t>(begin, begin + static_cast<ptrdiff_t>(m.count));
  }

  // Writes `words` at word `index` of the buffer's view.
  void Store(BufferModel& m, size_t index, const std::vector<uint32_t>& words) {
    std::vector<uint32_t>& target =
        m.state == BufferModel::kOwning ? m.words : arrayModel_[m.array];
    const size_t base = m.state == BufferModel::kOwning ? 0 : m.offset;
    for (size_t i = 0; i < words.size(); ++i) target[base + index + i] = words[i];
  }

  void ExpectError(const std::string& text) { expected_.push_back(ReportCapture::UlogEvent(kTag, 1, text)); }
  void ExpectIndexError(const char* function, size_t index, size_t count) {
    ExpectError(Format("[%s] error: the given index(%zu) is out of range(%zu)", function, index,
                       count == 0 ? 0 : count - 1));
  }
  // The shown maximum count is index + count, or SIZE_MAX when that sum
  // passes 2^64 (the true sum does not fit in the message's %zu).
  void ExpectRangeError(const char* function, size_t index, size_t count, size_t limit) {
    const unsigned __int128 sum = static_cast<unsigned __int128>(index) + count;
    const size_t shown = sum > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(sum);
    ExpectError(Format("[%s] error: the given maximum count (%zu) is out-of-range (%zu)",
                       function, shown, limit));
  }
  static bool RangeInside(size_t index, size_t count, size_t limit) {
    return static_cast<unsigned __int128>(index) + count <= limit;
  }

  // -- operations ---------------------------------------------------------

  size_t Slot() { return in_.Byte() % kSlots; }
  size_t OtherSlot(size_t slot) { return (slot + 1 + in_.Byte() % (kSlots - 1)) % kSlots; }
  TuningBuffer& Buffer(size_t slot) { return *slots_[slot]; }

  // Copy assignment's model: empty from empty, a view of the same array
  // from a wrapping source, a deep copy from an owning one that keeps the
  // destination's storage only when it owns one of the same count.
  // Returns the array the destination viewed when the copy must have given
  // it fresh storage instead, else null.
  const uint32_t* ModelCopy(BufferModel& to, const BufferModel& from, const uint32_t* viewed) {
    if (from.state == BufferModel::kEmpty) {
      to = BufferModel();
      return nullptr;
    }
    if (from.state == BufferModel::kWrapping) {
      to = from;
      return nullptr;
    }
    const bool sameCount = to.count == from.count;
    if (debugLines_) {
      expected_.push_back(
          ReportCapture::UlogEvent(kTag, 5, Format("[operator=] same count? --> %d", sameCount)));
    }
    const bool reuse = sameCount && to.state == BufferModel::kOwning;
    to = from;
    to.storage = reuse ? viewed : nullptr;
    return reuse ? nullptr : viewed;
  }

  // New storage is allocated while the old is still held, so it can never
  // have the old address.
  void CheckRenewed(size_t slot, const uint32_t* previous, const char* what) {
    if (previous != nullptr && Buffer(slot).getData() == previous) Fail("storage not renewed", what);
  }

  // One operation on the buffer in slot `s`, whose model is `m`; each reads
  // its own arguments from the input and checks what it can at once.
  using Operation = void (Session::*)(size_t s, BufferModel& m);

  // Destroy and default-construct.
  void Reconstruct(size_t s, BufferModel& m) {
    slots_[s].reset();
    slots_[s].emplace();
    m = BufferModel();
  }

  // Counted constructor.
  void ConstructCounted(size_t s, BufferModel& m) {
    const size_t count = in_.Byte() % (kMaxOwnedWords + 1);
    slots_[s].reset();
    slots_[s].emplace(count);
    m = BufferModel();
    if (count > 0) {
      m.state = BufferModel::kOwning;
      m.count = count;
      m.words.assign(count, 0);
    }
  }

  // Array constructor over a caller array, COPY or WRAP.
  void ConstructOverArray(size_t s, BufferModel& m) {
    const size_t a = in_.Byte() % kArrays;
    const size_t offset = in_.Byte() % (kArrayWords + 1);
    const size_t count = in_.Byte() % (kArrayWords - offset + 1);
    static const int32_t kFlags[] = {0, 1, -1, 2, INT32_MIN, 0x7fffffff, 0, 1};
    const int32_t flag = kFlags[in_.Byte() % 8];
    // With no words, the pointer may be anything, null included.
    const bool nullData = count == 0 && (in_.Byte() & 1) != 0;
    uint32_t* data = nullData ? nullptr : arrays_[a]->data() + offset;
    slots_[s].reset();
    slots_[s].emplace(data, count, static_cast<TuningBuffer::OpsFlag>(flag));
    m = BufferModel();
    if (count > 0) {
      m.count = count;
      if (flag == 0) {
        m.state = BufferModel::kOwning;
        m.words.assign(arrayModel_[a].begin() + static_cast<ptrdiff_t>(offset),
                       arrayModel_[a].begin() + static_cast<ptrdiff_t>(offset + count));
      } else {
        m.state = BufferModel::kWrapping;
        m.array = a;
        m.offset = offset;
      }
    }
  }

  // Copy construction.
  void CopyConstruct(size_t s, BufferModel& m) {
    const size_t t = OtherSlot(s);
    slots_[s].reset();
    slots_[s].emplace(Buffer(t));
    BufferModel copy;
    ModelCopy(copy, model_[t], nullptr);
    m = copy;
  }

  // Move construction.
  void MoveConstruct(size_t s, BufferModel& m) {
    const size_t t = OtherSlot(s);
    const uint32_t* before = Buffer(t).getData();
    slots_[s].reset();
    slots_[s].emplace(static_cast<TuningBuffer&&>(Buffer(t)));
    if (Buffer(s).getData() != before) Fail("move construction copied", "");
    m = model_[t];
    if (m.state == BufferModel::kOwning) m.storage = before;
    model_[t] = BufferModel();
  }

  // Copy assignment, self included.
  void CopyAssign(size_t s, BufferModel& m) {
    const size_t t = in_.Byte() % kSlots;
    TuningBuffer& source = Buffer(t);
    const uint32_t* viewed = Buffer(s).getData();
    TuningBuffer* result = &(Buffer(s) = source);
    if (result != &Buffer(s)) Fail("copy assignment result", "");
    if (t != s) {
      const BufferModel from = model_[t];
      CheckRenewed(s, ModelCopy(m, from, viewed), "copy assignment");
    }
  }

  // Move assignment, self included.
  void MoveAssign(size_t s, BufferModel& m) {
    const size_t t = in_.Byte() % kSlots;
    TuningBuffer& source = Buffer(t);
    const uint32_t* before = source.getData();
    TuningBuffer* result = &(Buffer(s) = static_cast<TuningBuffer&&>(source));
    if (result != &Buffer(s)) Fail("move assignment result", "");
    if (t != s) {
      if (Buffer(s).getData() != before) Fail("move assignment copied", "");
      m = model_[t];
      if (m.state == BufferModel::kOwning) m.storage = before;
      model_[t] = BufferModel();
    }
  }

  // reset: always fresh zeroed storage, or empty.
  void Reset(size_t s, BufferModel& m) {
    const size_t count = in_.Byte() % (kMaxOwnedWords + 1);
    const uint32_t* previous = Buffer(s).getData();
    Buffer(s).reset(count);
    m = BufferModel();
    if (count > 0) {
      m.state = BufferModel::kOwning;
      m.count = count;
      m.words.assign(count, 0);
      CheckRenewed(s, previous, "reset");
    }
  }

  // clear.
  void Clear(size_t s, BufferModel& m) {
    const size_t index = in_.Edge(m.count, 0);
    const size_t count = in_.Edge(m.count, index);
    const int32_t result = Buffer(s).clear(index, count);
    if (!RangeInside(index, count, m.count)) {
      ExpectRangeError("clear", index, count, m.count);
      if (result != -22) Fail("clear of a bad range", std::to_string(result));
    } else {
      if (result != 0) Fail("clear", std::to_string(result));
      Store(m, index, std::vector<uint32_t>(count == 0 ? m.count - index : count, 0));
    }
  }

  // set.
  void Set(size_t s, BufferModel& m) {
    const size_t index = in_.Edge(m.count, 0);
    const uint32_t value = in_.Word();
    Buffer(s).set(index, value);
    if (index < m.count) {
      Store(m, index, {value});
    } else {
      ExpectIndexError("set", index, m.count);
    }
  }

  // get.
  void Get(size_t s, BufferModel& m) {
    const size_t index = in_.Edge(m.count, 0);
    const uint32_t value = Buffer(s).get(index);
    const uint32_t expected = index < m.count ? Words(m)[index] : 0;
    if (index >= m.count) ExpectIndexError("get", index, m.count);
    if (value != expected) Fail("get", std::to_string(value));
  }

  // setChunk, from scratch words or from a caller array.
  void SetChunk(size_t s, BufferModel& m) {
    const size_t index = in_.Edge(m.count, 0);
    const size_t count = in_.Edge(m.count, index);
    const bool inside = RangeInside(index, count, m.count);
    const size_t a = in_.Byte() % (kArrays + 1);
    const size_t offset = in_.Byte() % kArrayWords;
    GuardedArray scratch(kScratchWords);
    for (size_t i = 0; i < kScratchWords; ++i) scratch.data()[i] = in_.Word();
    // A source inside a caller array may overlap the buffer's own view.
    const bool fromArray = inside && a < kArrays && offset + count <= kArrayWords;
    const uint32_t* src = fromArray ? arrays_[a]->data() + offset : scratch.data();
    std::vector<uint32_t> words;
    if (fromArray) {
      words.assign(arrayModel_[a].begin() + static_cast<ptrdiff_t>(offset),
                   arrayModel_[a].begin() + static_cast<ptrdiff_t>(offset + count));
    } else if (inside) {
      words.assign(src, src + count);
    }
    Buffer(s).setChunk(index, count, src);
    if (inside) {
      Store(m, index, words);
    } else {
      ExpectRangeError("setChunk", index, count, m.count);
    }
    scratch.CheckGuards("setChunk source");
  }

  // getChunk into a guarded destination.
  void GetChunk(size_t s, BufferModel& m) {
    const size_t index = in_.Edge(m.count, 0);
    const size_t count = in_.Edge(m.count, index);
    const bool inside = RangeInside(index, count, m.count);
    GuardedArray dst(kScratchWords);
    for (size_t i = 0; i < kScratchWords; ++i) dst.data()[i] = 0xA5A5A5A5u;
    const int32_t result = Buffer(s).getChunk(index, count, dst.data());
    dst.CheckGuards("getChunk destination");
    std::vector<uint32_t> expected(kScratchWords, 0xA5A5A5A5u);
    if (inside) {
      if (result != 0) Fail("getChunk", std::to_string(result));
      const std::vector<uint32_t> words = Words(m);
      for (size_t i = 0; i < count; ++i) expected[i] = words[index + i];
    } else {
      if (result != -22) Fail("getChunk of a bad range", std::to_string(result));
      ExpectRangeError("getChunk", index, count, m.count);
    }
    if (memcmp(dst.data(), expected.data(), kScratchWords * 4) != 0) {
      Fail("getChunk destination", inside ? "wrong words" : "written after a refusal");
    }
  }

  // copyData, self included; views may overlap.
  void CopyData(size_t s, BufferModel& m) {
    const size_t t = in_.Byte() % kSlots;
    const int32_t result = Buffer(s).copyData(Buffer(t));
    const int32_t expected = t == s || m.count == model_[t].count ? 0 : -22;
    if (result != expected) Fail("copyData", std::to_string(result));
    if (t != s && expected == 0) Store(m, 0, Words(model_[t]));
  }

  // == and !=, self included.
  void Compare(size_t s, BufferModel& m) {
    const size_t t = in_.Byte() % kSlots;
    const bool equal = Buffer(s) == Buffer(t);
    const bool expected = t == s || (m.count == model_[t].count && Words(m) == Words(model_[t]));
    if (equal != expected) Fail("operator==", std::to_string(equal));
    if ((Buffer(s) != Buffer(t)) == equal) Fail("operator!= is not the negation", "");
  }

  // The caller writes its own array directly.
  void WriteCallerArray(size_t, BufferModel&) {
    const size_t a = in_.Byte() % kArrays;
    const size_t index = in_.Byte() % kArrayWords;
    arrays_[a]->data()[index] = arrayModel_[a][index] = in_.Word();
  }

  void Step(int opcode) override {
    static constexpr Operation kOperations[] = {
      &Session::Reconstruct, &Session::ConstructCounted, &Session::ConstructOverArray,
      &Session::CopyConstruct, &Session::MoveConstruct, &Session::CopyAssign, &Session::MoveAssign,
      &Session::Reset, &Session::Clear, &Session::Set, &Session::Get, &Session::SetChunk,
      &Session::GetChunk, &Session::CopyData, &Session::Compare, &Session::WriteCallerArray,
    };
    static_assert(sizeof(kOperations) / sizeof(kOperations[0]) == 16, "one per opcode");
    const size_t s = Slot();
    (this->*kOperations[opcode])(s, model_[s]);
  }

  // -- checks after every step --------------------------------------------

  void CheckAll(int opcode) override {
    const std::string op = "after opcode " + std::to_string(opcode);
    CheckArrays(op);
    for (size_t s = 0; s < kSlots; ++s) CheckBuffer(s, op);
  }

  // Every caller array holds what the model says, guards intact.
  void CheckArrays(const std::string& when) {
    for (size_t a = 0; a < kArrays; ++a) {
      arrays_[a]->CheckGuards(when.c_str());
      if (memcmp(arrays_[a]->data(), arrayModel_[a].data(), kArrayWords * 4) != 0) {
        Fail("caller array differs from the model", when);
      }
    }
  }

  void CheckBuffer(size_t s, const std::string& op) {
    BufferModel& m = model_[s];
    const TuningBuffer& buffer = Buffer(s);
    const std::string where = op + ", slot " + std::to_string(s);
    if (buffer.getId() != reinterpret_cast<uintptr_t>(&buffer)) Fail("getId", where);
    if (buffer.getCount() != m.count) Fail("getCount", where);
    if (buffer.isEmpty() != (m.count == 0)) Fail("isEmpty", where);
    if (buffer.hasStorage() != (m.state == BufferModel::kOwning)) Fail("hasStorage", where);
    if (Buffer(s).getData() != buffer.getData()) Fail("getData overloads differ", where);
    const uint32_t* data = buffer.getData();
    switch (m.state) {
      case BufferModel::kEmpty:
        if (data != nullptr) Fail("an empty buffer has data", where);
        return;
      case BufferModel::kWrapping:
        if (data != arrays_[m.array]->data() + m.offset) Fail("wrapping the wrong array", where);
        return;
      case BufferModel::kOwning:
        break;
    }
    // Owning: storage of its own, exactly count words, never a caller array,
    // kept when the model says it is reused, fresh where it must be.
    if (data == nullptr || !__sanitizer_get_ownership(data)) Fail("storage not from the heap", where);
    if (__sanitizer_get_allocated_size(data) != m.count * 4) Fail("storage size", where);
    if (m.storage != nullptr && data != m.storage) Fail("storage moved without cause", where);
    m.storage = data;
    if (memcmp(data, m.words.data(), m.count * 4) != 0) Fail("words differ from the model", where);
  }

  bool debugLines_ = false;
  std::vector<std::unique_ptr<GuardedArray>> arrays_;
  std::vector<std::vector<uint32_t>> arrayModel_;
  std::optional<TuningBuffer> slots_[kSlots];
  BufferModel model_[kSlots];
};

}  // namespace

ISPUTILS_FUZZ_SESSION_TARGET(Session, Input)
