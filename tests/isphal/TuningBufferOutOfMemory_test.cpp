// Tests of TuningBuffer when its storage cannot be allocated: every path that
// allocates must end the process with a line naming the request, even for a
// caller built with exceptions that stands ready to catch std::bad_alloc and
// would otherwise go on with a buffer that claims words it does not have.
//
// The program is built with exceptions and interposes the array allocation
// functions, so that a request can be refused on demand without exhausting
// the machine's memory (and without a sanitizer's own out-of-memory report).
#include "isphal/TuningBuffer.h"

#include <dlfcn.h>
#include <stdint.h>

#include <new>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/death_tests.h"

namespace {

// The definition of `name` after this program's: the C++ runtime's, or a
// sanitizer's in front of it.
template <typename Function>
Function NextDefinition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Set only around the call under test (in a death test, inside the child).
bool gRefuseArrays = false;

}  // namespace

// Refused like a real shortage: the throwing form throws, the other yields
// null. Both are interposed so a library calling either one is caught out.
void* operator new[](size_t bytes) {
  if (gRefuseArrays) throw std::bad_alloc();
  // On to the C++ runtime's, or a sanitizer's: the names are those of a
  // 64-bit size_t.
  static auto next = NextDefinition<void* (*)(size_t)>("_Znam");
  return next(bytes);
}

void* operator new[](size_t bytes, const std::nothrow_t& tag) noexcept {
  if (gRefuseArrays) return nullptr;
  static auto next =
      NextDefinition<void* (*)(size_t, const std::nothrow_t&) noexcept>("_ZnamRKSt9nothrow_t");
  return next(bytes, tag);
}

namespace qvx {
namespace isphal {
namespace {

// Runs `allocate` with array allocations refused, as a caller built with
// exceptions would: it catches whatever is thrown and returns, which the
// death test then reports as a process that failed to die.
template <typename Allocate>
void RefusedAndCaught(Allocate allocate) {
  gRefuseArrays = true;
  try {
    allocate();
  } catch (...) {
  }
  gRefuseArrays = false;
}

// The line that names the request. It is searched for, not matched whole: an
// emulator may add its own note on the signal.
std::string Request(const std::string& words, const std::string& bytes) {
  return "TuningBuffer: cannot allocate " + words + " words \\(" + bytes + " bytes\\)";
}

TEST(TuningBufferDeathTest, EveryAllocatingPathEndsTheProcessNamingTheRequest) {
  isputils_test::UseFreshProcessForDeathTests();
  uint32_t caller[4] = {1, 2, 3, 4};
  TuningBuffer owning(caller, 4, TuningBuffer::COPY);
  TuningBuffer wrapping(caller, 4, TuningBuffer::WRAP);
  TuningBuffer smaller(2);

  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer buffer(4); }), Request("4", "16"));
  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer buffer(caller, 3, TuningBuffer::COPY); }),
               Request("3", "12"));
  EXPECT_DEATH(RefusedAndCaught([&] { smaller.reset(4); }), Request("4", "16"));
  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer copy(owning); }), Request("4", "16"));
  EXPECT_DEATH(RefusedAndCaught([&] { smaller = owning; }), Request("4", "16"));
  // Same count, but a wrapping destination has no storage to reuse.
  EXPECT_DEATH(RefusedAndCaught([&] { wrapping = owning; }), Request("4", "16"));
}

// A count whose byte size does not fit in 64 bits asks for the largest size
// there is; a size that wrapped around would yield an array that is too short.
TEST(TuningBufferDeathTest, ByteSizePastTheTopOfTheRangeIsNeverCutShort) {
  isputils_test::UseFreshProcessForDeathTests();
  uint32_t caller[1] = {1};
  const std::string top = "18446744073709551615";
  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer buffer(size_t{1} << 62); }),
               Request("4611686018427387904", top));
  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer().reset((size_t{1} << 62) + 1); }),
               Request("4611686018427387905", top));
  EXPECT_DEATH(RefusedAndCaught([&] { TuningBuffer buffer(caller, SIZE_MAX, TuningBuffer::COPY); }),
               Request(top, top));
}

// Wrapping allocates nothing, so even an absurd count is accepted as a view.
TEST(TuningBufferOutOfMemoryTest, WrappingNeedsNoAllocation) {
  uint32_t caller[1] = {1};
  size_t count = 0;
  RefusedAndCaught([&] { count = TuningBuffer(caller, size_t{1} << 62, TuningBuffer::WRAP).getCount(); });
  EXPECT_EQ(count, size_t{1} << 62);
}

}  // namespace
}  // namespace isphal
}  // namespace qvx
