// Builders of raw storage-file bytes for the property store's tests, so that
// expectations are written as the file a peer process would see.
#ifndef TESTS_PROPERTY_STORE_STORE_BYTES_H_
#define TESTS_PROPERTY_STORE_STORE_BYTES_H_

#include <string>

#include "propstore/properties.h"

namespace isputils_test {

// One record: each text, its NUL, then `fill` bytes up to the field's end.
// Texts longer than their field are laid in without a NUL (damaged record).
inline std::string RecordBytes(const std::string& key, const std::string& value,
                               char fill = '\0') {
  std::string key_field(PROPERTY_KEY_SIZE, fill);
  std::string value_field(PROPERTY_VALUE_SIZE, fill);
  key_field.replace(0, std::min(key.size() + 1, key_field.size()),
                    (key + '\0').substr(0, PROPERTY_KEY_SIZE));
  value_field.replace(0, std::min(value.size() + 1, value_field.size()),
                      (value + '\0').substr(0, PROPERTY_VALUE_SIZE));
  return key_field + value_field;
}

}  // namespace isputils_test

#endif  // TESTS_PROPERTY_STORE_STORE_BYTES_H_
