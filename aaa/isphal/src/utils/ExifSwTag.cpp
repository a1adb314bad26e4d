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

}  // namespace

uint32_t* getExifSwTagPointer(module_exif_info& info) {
  const int32_t expectedSize = static_cast<int32_t>(
      (static_cast<uint32_t>(info.eEnd) - static_cast<uint32_t>(info.eStart) - 1u) * kWordSize);
  if (info.src_buf_size != expectedSize) {
    // A missing name still gives a readable line rather than a null "%s".
    const char* name = info.module_name != nullptr ? info.module_name : "(null)";
    ISP_REPORT_ERROR(kTag,
                     "[%s] error: %s exif struct not sync with EXIF SW_TAG eNum. "
                     "src_buf_size(%d) eNumSize(%d) eStart(%d) eEnd(%d)",
                     name, info.src_buf_size, expectedSize, info.eStart, info.eEnd);
    ISP_REPORT_ERROR(kTag,
                     "[%s] error: Error: %s exif struct not match EXIF SW_TAG eNum\n"
                     "TRIAGEHOOK_KEY:ALG_EXIF_SIZE_CHECK",
                     name);
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
