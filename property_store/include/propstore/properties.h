// System properties: named text settings shared by every process of the
// camera stack through one file, "/run/camera/property_storage".
//
// Conventions of this interface:
//  - Keys and values are NUL-terminated byte strings. A stored key holds at
//    most PROPERTY_KEY_SIZE - 1 = 63 bytes, a stored value at most
//    PROPERTY_VALUE_SIZE - 1 = 91 bytes; longer texts are cut there.
//  - Readers refuse keys of 64 bytes or more with -1 (or, for the typed
//    readers, the result described below) and print
//    "invalid key length %d\n" on standard output.
//  - A NULL key, or a NULL value buffer for property_get, is refused with -1
//    and touches nothing.
//  - Every buffer that receives a value must hold PROPERTY_VALUE_SIZE bytes.
//  - A missing or unreadable storage file reads as "nothing stored".
//  - Nothing is cached: every call opens the file, takes a whole-file flock
//    (shared to read, exclusive to write), scans it and closes it.
//  - A failed update returns -1 and leaves errno as the failing step set it.
//  - The file never takes descriptor 0, 1 or 2, where another thread's
//    output would land in it: the first call of the process opens /dev/null
//    (read-only) on each of them that is closed.
//
// Thread-safety: every function may be called from any thread of any process
// at any time; calls exclude each other through the file lock alone.
#ifndef PROPERTY_STORE_INCLUDE_PROPSTORE_PROPERTIES_H_
#define PROPERTY_STORE_INCLUDE_PROPSTORE_PROPERTIES_H_

#include <stdint.h>

#include "propstore/export.h"

// Layout of one record of the storage file: the key field, then the value
// field, each a NUL-terminated text padded to its width.
#define PROPERTY_KEY_SIZE 64
#define PROPERTY_VALUE_SIZE 92
#define PROPERTY_RECORD_SIZE (PROPERTY_KEY_SIZE + PROPERTY_VALUE_SIZE)

#ifdef __cplusplus
// Looks `key` up in the storage file. Returns 1 and copies the stored value
// (at most 91 bytes and a NUL) into `value` when a record with this key
// exists (the first one in file order wins); returns 0 and leaves `value`
// untouched otherwise, including when the file is missing or unreadable. A
// key of 64 bytes or more matches no record. A read error part-way ends the
// search as the end of the file would. A lookup reads the file it opened: if
// the file is replaced or removed while the lookup waits for its lock, it
// returns what was stored an instant earlier.
// REQUIRES: key is NUL-terminated; value has room for PROPERTY_VALUE_SIZE
// bytes.
PROPSTORE_EXPORT int fetch_property(const char* key, char* value);

// Stores `value` under `key`: rewrites the first record with this key in
// place, or appends a record (creating the file if needed). Over-long texts
// are cut to 63 (key) and 91 (value) bytes; a key of 64 bytes or more never
// matches a stored key, so each such update appends a record.
// Once it holds the exclusive lock it checks that the path still names the
// locked file; a file replaced or removed meanwhile is left alone and the
// update starts again on the file at the path.
// Returns 0 once the record has reached the file at the path, -1 when it has
// not, with errno as the failing step set it: the file could not be opened
// or created (the open's errno; EBADF when a closed descriptor 0-2 could not
// be filled with /dev/null), is not a regular file (EINVAL, EISDIR,
// ENXIO, ESPIPE or ELOOP for a symbolic link), has more than one link
// (EMLINK), was replaced at every attempt (EAGAIN), the lock failed, a read
// of the search failed (nothing is written then), or the write or close
// failed (ENOSPC for a write cut short).
// REQUIRES: key and value are NUL-terminated.
PROPSTORE_EXPORT int update_property(const char* key, const char* value);

extern "C" {
#endif

// Copies the value of `key` into `value` (PROPERTY_VALUE_SIZE bytes).
// Returns the length of the text left in `value`: the stored value; when not
// stored, `fallback` cut to 91 bytes, or the empty text for a NULL fallback.
// A key stored with the empty value counts as stored (result 0, fallback not
// used). Returns -1 and leaves `value` untouched for a key of 64 bytes or
// more (printing "invalid key length %d\n", whatever `value` is), a NULL key
// or a NULL `value`.
PROPSTORE_EXPORT int property_get(const char* key, char* value,
                                  const char* fallback);

// Stores `value` under `key` (see update_property for the cutting rules).
// Returns 0 when the record reached the file, -1 when it did not, with errno
// as the failing step set it (see update_property; ENOSPC for a full
// filesystem); and -1 after printing "property_set invalid arguments!\n"
// when either pointer is NULL (nothing is touched then).
PROPSTORE_EXPORT int property_set(const char* key, const char* value);

// Returns the stored value converted by atoi, or `fallback` when the key is
// not stored or stored empty. A refused key gives 0 (not the fallback).
PROPSTORE_EXPORT int32_t property_get_int32(const char* key, int32_t fallback);

// Same as property_get_int32; kept as a separate entry point for callers
// that read properties on behalf of another process.
PROPSTORE_EXPORT int32_t property_get_int32_remote(const char* key,
                                                   int32_t fallback);

// As property_get_int32, converting with atoll to 64 bits.
PROPSTORE_EXPORT int64_t property_get_int64(const char* key, int64_t fallback);

// Returns 0 for "0", "n", "no", "false", "off"; 1 for "1", "y", "yes",
// "true", "on" (exact, case-sensitive); otherwise (other text, empty, not
// stored, refused key) 1 if `fallback` is non-zero, else 0.
PROPSTORE_EXPORT int8_t property_get_bool(const char* key, int8_t fallback);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // PROPERTY_STORE_INCLUDE_PROPSTORE_PROPERTIES_H_
