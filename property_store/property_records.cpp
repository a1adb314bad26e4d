// The two operations that touch the storage file: look one key up and store
// one key. Records are scanned from the start under a whole-file flock, one
// 156-byte item per read from a buffered stream; nothing is cached.
//
// Thread-safety: every call opens its own stream and so holds its own lock;
// calls from threads of one process exclude each other exactly as calls from
// different processes do.
#include <string.h>
#include <sys/file.h>
#include <sys/types.h>
#include <unistd.h>

#include "propstore/properties.h"
#include "property_store/storage_file.h"

using propstore::Record;

int fetch_property(const char* key, char* value) {
  FILE* stream = propstore::OpenForLookup();
  if (stream == nullptr) return 0;
  char stream_buffer[propstore::kStreamBufferSize];
  propstore::TuneStream(stream, stream_buffer);

  // A stored key holds at most PROPERTY_KEY_SIZE bytes of text, so a longer
  // key can never match; measure it only that far.
  const size_t key_length = strnlen(key, PROPERTY_KEY_SIZE + 1);
  Record record;
  memset(&record, 0, sizeof(record));
  int found = 0;
  if (propstore::LockWholeFile(stream, LOCK_SH)) {
    while (fread_unlocked(&record, sizeof(record), 1, stream) == 1) {
      if (propstore::KeyMatches(record, key, key_length)) {
        // A value field without a NUL reads as cut at the field's end.
        size_t length = propstore::FieldLength(record.value, sizeof(record.value));
        if (length > PROPERTY_VALUE_SIZE - 1) length = PROPERTY_VALUE_SIZE - 1;
        memcpy(value, record.value, length);
        value[length] = '\0';
        found = 1;
        break;
      }
    }
  }
  fclose(stream);
  return found;
}

int update_property(const char* key, const char* value) {
  FILE* stream = propstore::OpenForUpdate();
  if (stream == nullptr) return -1;
  char stream_buffer[propstore::kStreamBufferSize];
  propstore::TuneStream(stream, stream_buffer);

  // Zeroed once: an appended record carries, past its NULs, whatever the
  // search left here (zeros, or the last record read).
  Record record;
  memset(&record, 0, sizeof(record));
  if (!propstore::LockWholeFile(stream, LOCK_EX)) {
    fclose(stream);
    return -1;
  }

  const size_t key_length = strnlen(key, PROPERTY_KEY_SIZE + 1);
  off64_t whole_records = 0;
  bool matched = false;
  while (fread_unlocked(&record, sizeof(record), 1, stream) == 1) {
    if (propstore::KeyMatches(record, key, key_length)) {
      matched = true;
      break;
    }
    ++whole_records;
  }
  // A read error ends the search like the end of the file; ferror is
  // cleared by the fseeko below.
  const off64_t offset = whole_records * static_cast<off64_t>(sizeof(record));
  if (!matched) propstore::StoreField(record.key, sizeof(record.key), key);
  propstore::StoreField(record.value, sizeof(record.value), value);

  bool written = fseeko64(stream, offset, SEEK_SET) == 0 &&
                 fwrite(&record, sizeof(record), 1, stream) == 1 &&
                 fflush(stream) == 0;
  if (!written && !matched) {
    // A failed append (a full filesystem, say) may have left part of the
    // record behind; cut it off so the file ends on the last whole record.
    // The exclusive lock is still held.
    if (ftruncate64(fileno(stream), offset) != 0) {
      // Nothing more to do: a partial tail is ignored by every reader.
    }
  }
  // The close releases the lock; it must come after the record is out.
  if (fclose(stream) != 0) written = false;
  return written ? 0 : -1;
}
