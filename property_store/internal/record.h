// The record of the property storage file and the rules for its fields:
// the layout (no header, no padding), how long a field's text is, when a
// stored key matches, and how a text is laid into a field. The engine
// (store.h) is the only code that reads or writes records; everything here
// is plain arithmetic on one record in memory.
//
// Thread-safety: the functions keep no state.
#ifndef PROPERTY_STORE_INTERNAL_RECORD_H_
#define PROPERTY_STORE_INTERNAL_RECORD_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "propstore/properties.h"

namespace propstore {

// One record as it lies in the file: no header, no padding.
struct Record {
  char key[PROPERTY_KEY_SIZE];
  char value[PROPERTY_VALUE_SIZE];
};
static_assert(sizeof(Record) == PROPERTY_RECORD_SIZE, "record has no gaps");

// Length of the text in a fixed-width field: up to its first NUL, or the
// whole width when the field holds none.
inline size_t FieldLength(const char* field, size_t width) { return strnlen(field, width); }

// The length of a record's value as a lookup hands it out: up to its NUL,
// and never more than PROPERTY_VALUE_SIZE - 1 bytes.
inline size_t ValueLength(const Record& record) {
  const size_t length = FieldLength(record.value, sizeof(record.value));
  return length < sizeof(record.value) ? length : sizeof(record.value) - 1;
}

// True when the key or the value field holds no NUL within its width. The
// store never writes such a field; one means the file was damaged, and no
// lookup reaches a record whose key field lacks its NUL.
inline bool KeyLacksNul(const Record& record) {
  return FieldLength(record.key, sizeof(record.key)) == sizeof(record.key);
}
inline bool ValueLacksNul(const Record& record) {
  return FieldLength(record.value, sizeof(record.value)) == sizeof(record.value);
}

// A key prepared for comparing with many records: its length and the last
// eight bytes it is compared by first, its NUL included. Keys of one store
// share long prefixes ("persist.", "vendor.debug.") and differ in their
// ends and lengths, so those eight bytes tell most records apart in one
// load, before the whole comparison.
class KeyProbe {
 public:
  // REQUIRES: key is NUL-terminated; it is read no further than
  // PROPERTY_KEY_SIZE bytes.
  explicit KeyProbe(const char* key)
      : key_(key), length_(strnlen(key, PROPERTY_KEY_SIZE)) {
    const size_t compared = length_ + 1;
    end_offset_ = compared >= sizeof(uint64_t) ? compared - sizeof(uint64_t) : 0;
    if (compared >= sizeof(uint64_t) && length_ < PROPERTY_KEY_SIZE) {
      memcpy(&end_, key + end_offset_, sizeof(end_));
    }
  }

  // False for a key of PROPERTY_KEY_SIZE bytes or more, which matches no
  // record: a stored key holds at most PROPERTY_KEY_SIZE - 1 bytes, even in
  // a damaged record whose key field lacks its NUL.
  bool can_match() const { return length_ < PROPERTY_KEY_SIZE; }

  // True when the key text stored in `record` equals the key. Never reads
  // past the key field. REQUIRES: can_match().
  bool Matches(const Record& record) const {
    const size_t compared = length_ + 1;
    if (compared >= sizeof(uint64_t)) {
      uint64_t stored_end;
      memcpy(&stored_end, record.key + end_offset_, sizeof(stored_end));
      if (stored_end != end_) return false;
    }
    // Comparing the key's NUL too settles the stored length in the same pass.
    return memcmp(record.key, key_, compared) == 0;
  }

 private:
  const char* key_;
  size_t length_;
  size_t end_offset_;
  uint64_t end_ = 0;
};

// Copies `text` into the fixed-width `field` as snprintf("%s") with a bound
// of `width` would: at most width - 1 bytes, then a NUL. Bytes after the NUL
// keep what they held.
void StoreField(char* field, size_t width, const char* text);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_RECORD_H_
