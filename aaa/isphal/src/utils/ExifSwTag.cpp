// The EXIF software-tag locator. The size check is done in wrapping 32-bit
// arithmetic, as the module structures and the enumeration are 32-bit
// quantities on every side; the word index is sign-extended before scaling.
#include "isphal/ExifSwTag.h"

#include "aaa/isphal/src/utils/ErrorReport.h"

namespace qvx {
namespace isphal {
namespace {

constexpr char kTag[] = "IspExifSwTag";
constexpr uint32_t kWordSize = 4;

// Literals, so that the error report appends its decoration at compile
// time; named, so that each report is one line: the line it gives is that
// of the whole statement whatever the compiler (GCC names a statement over
// several lines by its first line, clang by its last).
#define EXIF_SIZE_ERROR                                              \
  "[%s] error: %s exif struct not sync with EXIF SW_TAG eNum. "    \
  "src_buf_size(%d) eNumSize(%d) eStart(%d) eEnd(%d)"
#define EXIF_TRIAGE_ERROR                                            \
  "[%s] error: Error: %s exif struct not match EXIF SW_TAG eNum\n" \
  "TRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK"

}  // namespace

uint32_t* getExifSwTagPointer(module_exif_info& info) {
  const int32_t expectedSize = static_cast<int32_t>(
      (static_cast<uint32_t>(info.eEnd) - static_cast<uint32_t>(info.eStart) - 1u) * kWordSize);
  if (info.src_buf_size != expectedSize) {
    // A missing name still gives a readable line rather than a null "%s".
    const char* name = info.module_name != nullptr ? info.module_name : "(null)";
    const int32_t size = info.src_buf_size;
    ISP_REPORT_ERROR(kTag, EXIF_SIZE_ERROR, name, size, expectedSize, info.eStart, info.eEnd);
    ISP_REPORT_ERROR(kTag, EXIF_TRIAGE_ERROR, name);
    return nullptr;
  }
  if (info.sw_tag_buf == nullptr) return nullptr;
  const int32_t firstWord = static_cast<int32_t>(static_cast<uint32_t>(info.eStart) + 1u);
  // Computed on the address itself: the index is the caller's and is not
  // range-tested, so pointer arithmetic could step outside any array.
  const uintptr_t address = reinterpret_cast<uintptr_t>(info.sw_tag_buf) +
                            static_cast<uintptr_t>(static_cast<intptr_t>(firstWord) *
                                                   static_cast<intptr_t>(kWordSize));
  return reinterpret_cast<uint32_t*>(address);
}

}  // namespace isphal
}  // namespace qvx
