// The exported property API: a text reader with a fallback, typed readers
// and the writer, all built on fetch_property and update_property. Keeps no
// state of its own.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "propstore/properties.h"

namespace {

// Reads `key` into a zero-filled private buffer; returns property_get's
// result.
int ReadIntoPrivateBuffer(const char* key, char (&buffer)[PROPERTY_VALUE_SIZE]) {
  memset(buffer, 0, sizeof(buffer));
  return property_get(key, buffer, nullptr);
}

// Interprets a stored boolean text; returns -1 when it is none of the
// accepted words. Exact and case-sensitive, no trimming.
int ParseBool(const char* text, int length) {
  if (length == 1) {
    if (text[0] == '0' || text[0] == 'n') return 0;
    if (text[0] == '1' || text[0] == 'y') return 1;
    return -1;
  }
  if (strcmp(text, "no") == 0 || strcmp(text, "false") == 0 ||
      strcmp(text, "off") == 0) {
    return 0;
  }
  if (strcmp(text, "yes") == 0 || strcmp(text, "true") == 0 ||
      strcmp(text, "on") == 0) {
    return 1;
  }
  return -1;
}

// The typed readers' rule: `convert` of the stored text for any result
// other than 0 (a refused key, -1, converts the still zero-filled buffer to
// 0), `fallback` when not stored or stored empty.
template <typename Integer, typename Convert>
Integer ReadInteger(const char* key, Integer fallback, Convert convert) {
  char buffer[PROPERTY_VALUE_SIZE];
  if (ReadIntoPrivateBuffer(key, buffer) != 0) return static_cast<Integer>(convert(buffer));
  return fallback;
}

}  // namespace

extern "C" {

int property_get(const char* key, char* value, const char* fallback) {
  if (key == nullptr) return -1;
  // The length test comes first and does not need `value`: an over-long key
  // is reported the same way whatever buffer comes with it.
  const size_t key_length = strlen(key);
  if (key_length >= PROPERTY_KEY_SIZE) {
    printf("invalid key length %d\n", static_cast<int>(key_length));
    return -1;
  }
  if (value == nullptr) return -1;
  if (fetch_property(key, value)) return static_cast<int>(strlen(value));
  if (fallback == nullptr) {
    value[0] = '\0';
    return 0;
  }
  const size_t length = strnlen(fallback, PROPERTY_VALUE_SIZE - 1);
  memcpy(value, fallback, length);
  value[length] = '\0';
  return static_cast<int>(length);
}

int property_set(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) {
    printf("property_set invalid arguments!\n");
    return -1;
  }
  return update_property(key, value);
}

int32_t property_get_int32(const char* key, int32_t fallback) {
  return ReadInteger(key, fallback, atoi);
}

int32_t property_get_int32_remote(const char* key, int32_t fallback) {
  return property_get_int32(key, fallback);
}

int64_t property_get_int64(const char* key, int64_t fallback) {
  return ReadInteger(key, fallback, atoll);
}

int8_t property_get_bool(const char* key, int8_t fallback) {
  const int8_t fallback_answer = fallback != 0 ? 1 : 0;
  char buffer[PROPERTY_VALUE_SIZE];
  const int length = ReadIntoPrivateBuffer(key, buffer);
  if (length <= 0) return fallback_answer;
  const int parsed = ParseBool(buffer, length);
  return parsed < 0 ? fallback_answer : static_cast<int8_t>(parsed);
}

}  // extern "C"
