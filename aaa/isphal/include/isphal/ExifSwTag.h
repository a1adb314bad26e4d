// The EXIF software-tag locator. The camera stack keeps one software-tag
// area with one 32-bit word per software tag, indexed by the tag's value in
// the software-tag enumeration; each ISP module owns the tags strictly
// between its start and end markers there, and mirrors them in an EXIF
// structure of its own. getExifSwTagPointer checks that the module's
// structure and the enumeration agree in size and finds the module's words.
//
// Thread-safety: reads only the caller's structure; safe from any thread.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_EXIFSWTAG_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_EXIFSWTAG_H_

#include <stdint.h>

#include "isphal/export.h"

namespace qvx {
namespace isphal {

// One module's view of the software-tag area, filled by the caller.
struct module_exif_info {
  const char* module_name;  // the module's name; used only in messages
  int32_t src_buf_size;     // size in bytes of the module's EXIF structure
  uint32_t* sw_tag_buf;     // the software-tag area, one word per tag
  int32_t eStart;           // enumeration value of the start marker
  int32_t eEnd;             // enumeration value of the end marker
};

// Returns the address of word eStart + 1 of info.sw_tag_buf when
// info.src_buf_size equals (eEnd - eStart - 1) x 4, the tags strictly
// between the markers times 4 bytes (32-bit arithmetic that wraps). Returns
// null without a report when the sizes match but sw_tag_buf is null, and
// null after reporting two error lines (tag "IspExifSwTag") when the sizes
// differ. Reads `info` only; the returned pointer views the caller's area.
// REQUIRES: module_name is a NUL-terminated text.
ISPBUFFERS_EXPORT uint32_t* getExifSwTagPointer(module_exif_info& info);

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_EXIFSWTAG_H_
