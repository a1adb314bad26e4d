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

void PrintEscaped(FILE* out, const std::string& text) {
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      fputs("\\\\", out);
    } else if (byte < 0x20 || byte == 0x7f) {
      fprintf(out, "\\x%02x", byte);
    } else {
      fputc(byte, out);
    }
  }
}

}  // namespace camprop
