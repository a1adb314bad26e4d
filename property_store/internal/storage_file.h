// The property storage file: its fixed path (storage_path.h), the record
// layout, and the rules for reading and writing the fields of a record.
// Shared by the store itself and by tools that inspect the file; not part
// of the library's exported interface. The file is locked and read only
// through RecordScanner (record_scanner.h); the one other open of it,
// camprop's snapshot, only measures its size (fstat, never following a
// link) to make room for the copy before the lock is taken.
//
// Thread-safety: the functions keep no state.
#ifndef PROPERTY_STORE_INTERNAL_STORAGE_FILE_H_
#define PROPERTY_STORE_INTERNAL_STORAGE_FILE_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "propstore/properties.h"
#include "property_store/internal/storage_path.h"

namespace propstore {

// One record as it lies in the file: no header, no padding.
struct Record {
  char key[PROPERTY_KEY_SIZE];
  char value[PROPERTY_VALUE_SIZE];
};
static_assert(sizeof(Record) == PROPERTY_RECORD_SIZE, "record has no gaps");

// Length of the text in a fixed-width field: up to its first NUL, or the
// whole width when the field holds none.
inline size_t FieldLength(const char* field, size_t width) {
  return strnlen(field, width);
}

// True when the key text stored in `record` equals the first `key_length`
// bytes at `key`, which hold no NUL. A key of PROPERTY_KEY_SIZE bytes or more
// matches no record: a stored key holds at most PROPERTY_KEY_SIZE - 1 bytes,
// even in a damaged record whose key field lacks its NUL. Never reads past
// the key field.
inline bool KeyMatches(const Record& record, const char* key, size_t key_length) {
  if (key_length >= sizeof(record.key)) return false;
  // Comparing the key's NUL too settles the stored length in the same pass.
  const size_t compared = key_length + 1;
  // Keys of one store share long prefixes ("persist.", "vendor.debug.") and
  // differ in their ends and lengths: the last eight bytes compared, NUL
  // included, tell most records apart in one load, inline, before the call.
  if (compared >= sizeof(uint64_t)) {
    uint64_t stored_end, key_end;
    memcpy(&stored_end, record.key + compared - sizeof(uint64_t), sizeof(uint64_t));
    memcpy(&key_end, key + compared - sizeof(uint64_t), sizeof(uint64_t));
    if (stored_end != key_end) return false;
  }
  return memcmp(record.key, key, compared) == 0;
}

// Copies `text` into the fixed-width `field` as snprintf("%s") with a bound
// of `width` would: at most width - 1 bytes, then a NUL. Bytes after the NUL
// keep what they held.
void StoreField(char* field, size_t width, const char* text);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORAGE_FILE_H_
