// The field rules of a property record.
#include "property_store/internal/record.h"

#include <string.h>

namespace propstore {

void StoreField(char* field, size_t width, const char* text) {
  const size_t length = strnlen(text, width - 1);
  memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace propstore
