// Field access and printable rendering for the property tool.
#include "tools/camprop/record_fields.h"

namespace camprop {

std::string KeyText(const propstore::Record& record) {
  return std::string(record.key,
                     propstore::FieldLength(record.key, sizeof(record.key)));
}

std::string ValueText(const propstore::Record& record) {
  size_t length = propstore::FieldLength(record.value, sizeof(record.value));
  if (length > PROPERTY_VALUE_SIZE - 1) length = PROPERTY_VALUE_SIZE - 1;
  return std::string(record.value, length);
}

bool KeyLacksNul(const propstore::Record& record) {
  return propstore::FieldLength(record.key, sizeof(record.key)) == sizeof(record.key);
}

bool ValueLacksNul(const propstore::Record& record) {
  return propstore::FieldLength(record.value, sizeof(record.value)) ==
         sizeof(record.value);
}

namespace {

// The length of the well-formed UTF-8 character that starts `text` (2 to 4
// bytes), or 0 when none does: a lead byte of 0xc2 to 0xf4 followed by the
// continuation bytes it announces, neither overlong nor a surrogate nor
// beyond U+10FFFF.
size_t Utf8Length(const unsigned char* text, size_t left) {
  const unsigned char lead = text[0];
  size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  }
  if (length == 0 || length > left || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (text[i] < 0x80 || text[i] > 0xbf) return 0;
  }
  return length;
}

void PutHex(FILE* out, unsigned char byte) { fprintf(out, "\\x%02x", byte); }

}  // namespace

void PrintEscaped(FILE* out, const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t at = 0; at < size;) {
    const unsigned char byte = bytes[at];
    if (byte == '\\') {
      fputs("\\\\", out);
      ++at;
    } else if (byte < 0x20 || byte == 0x7f) {
      PutHex(out, byte);
      ++at;
    } else if (byte < 0x80) {
      fputc(byte, out);
      ++at;
    } else if (const size_t length = Utf8Length(bytes + at, size - at)) {
      // U+0080 to U+009F, C2 80 to C2 9F, are the C1 controls (CSI among
      // them) on a UTF-8 terminal; every other character passes whole.
      if (byte == 0xc2 && bytes[at + 1] <= 0x9f) {
        PutHex(out, bytes[at]);
        PutHex(out, bytes[at + 1]);
      } else {
        fwrite(bytes + at, 1, length, out);
      }
      at += length;
    } else {
      // A byte outside any UTF-8 character: 0x80 to 0x9f are the C1
      // controls of an 8-bit terminal (0x9b is CSI); the rest is Latin-1
      // text.
      if (byte <= 0x9f) {
        PutHex(out, byte);
      } else {
        fputc(byte, out);
      }
      ++at;
    }
  }
}

}  // namespace camprop
