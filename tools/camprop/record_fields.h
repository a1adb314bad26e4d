// How the property tool reads one record's fields: the text of each field as
// the store sees it, whether the field lacks its NUL, and a printable form
// for listings. Every access is bounded by the field's width.
//
// Thread-safety: pure functions, safe from any thread.
#ifndef TOOLS_CAMPROP_RECORD_FIELDS_H_
#define TOOLS_CAMPROP_RECORD_FIELDS_H_

#include <stdio.h>

#include <string>

#include "property_store/internal/storage_file.h"

namespace camprop {

// The key text of `record`: up to its NUL, or all 64 bytes without one.
std::string KeyText(const propstore::Record& record);

// The value text exactly as a lookup hands it out: up to the NUL, and never
// more than PROPERTY_VALUE_SIZE - 1 bytes.
std::string ValueText(const propstore::Record& record);

// True when the key or value field holds no NUL within its width. The store
// never writes such a field; its presence means the file was damaged.
bool KeyLacksNul(const propstore::Record& record);
bool ValueLacksNul(const propstore::Record& record);

// Writes `text` to `out` with backslashes doubled and control bytes as \xNN,
// so a listing stays one line per record whatever the store holds and no
// stored value can steer the terminal: the C0 controls and DEL, the C1
// controls 0x80-0x9f standing alone, and their UTF-8 forms C2 80 to C2 9F
// (each byte escaped). Any other well-formed UTF-8 character passes whole,
// as do bytes 0xa0-0xff outside one.
void PrintEscaped(FILE* out, const std::string& text);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_RECORD_FIELDS_H_
