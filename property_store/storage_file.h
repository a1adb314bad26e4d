// Access to the property storage file: its fixed path, the record layout,
// and the opening and locking rules that every reader and writer follows.
// Shared by the store itself and by tools that inspect the file; not part of
// the library's exported interface.
//
// Thread-safety: the functions keep no state; each stream they hand out
// belongs to one call and must be closed by it.
#ifndef PROPERTY_STORE_STORAGE_FILE_H_
#define PROPERTY_STORE_STORAGE_FILE_H_

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "propstore/properties.h"

namespace propstore {

// The one storage file of the system; nothing configures it.
inline constexpr char kStorageDir[] = "/run/camera";
inline constexpr char kStoragePath[] = "/run/camera/property_storage";

// One record as it lies in the file: no header, no padding.
struct Record {
  char key[PROPERTY_KEY_SIZE];
  char value[PROPERTY_VALUE_SIZE];
};
static_assert(sizeof(Record) == PROPERTY_RECORD_SIZE, "record has no gaps");

// Size of the stream buffer each call supplies on its stack. Larger than the
// default block size so that a scan of a few thousand records needs only a
// handful of read calls.
inline constexpr size_t kStreamBufferSize = 16 * 1024;

// Opens the storage file for a lookup: read-only, close-on-exec, refusing a
// symbolic link or anything but a regular file. Returns NULL when there is
// nothing to read; errno tells why.
FILE* OpenForLookup();

// Opens the storage file for an update: read-write, created (mode 0666 less
// the umask) when missing but never truncated, close-on-exec, refusing a
// symbolic link or anything but a regular file. Returns NULL on failure.
FILE* OpenForUpdate();

// Installs `buffer` (kStreamBufferSize bytes, owned by the caller and alive
// until fclose) as the stream's buffer and drops the stream's own locking:
// each stream is private to one call.
void TuneStream(FILE* stream, char* buffer);

// Takes `operation` (LOCK_SH or LOCK_EX) on the whole file, waiting as long
// as needed; a wait interrupted by a signal is resumed. Returns false when
// the lock cannot be had for any other reason.
bool LockWholeFile(FILE* stream, int operation);

// Length of the text in a fixed-width field: up to its first NUL, or the
// whole width when the field holds none.
inline size_t FieldLength(const char* field, size_t width) {
  return strnlen(field, width);
}

// True when the key text stored in `record` equals the first `key_length`
// bytes at `key`, which hold no NUL. Never reads past the key field.
bool KeyMatches(const Record& record, const char* key, size_t key_length);

// Copies `text` into the fixed-width `field` as snprintf("%s") with a bound
// of `width` would: at most width - 1 bytes, then a NUL. Bytes after the NUL
// keep what they held.
void StoreField(char* field, size_t width, const char* text);

}  // namespace propstore

#endif  // PROPERTY_STORE_STORAGE_FILE_H_
