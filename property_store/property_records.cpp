// The two operations that touch the storage file: look one key up and store
// one key. Records are scanned from the start under a whole-file flock, one
// 156-byte record at a time from a buffered read; nothing is cached.
#include "property_store/internal/property_update.h"

#include <errno.h>
#include <string.h>

#include "propstore/properties.h"
#include "property_store/internal/record_scanner.h"
#include "property_store/internal/storage_file.h"

using propstore::Record;
using propstore::RecordScanner;
using propstore::ScanPurpose;
using propstore::ScanStatus;
using propstore::UpdateResult;

int fetch_property(const char* key, char* value) {
  // A stored key holds at most PROPERTY_KEY_SIZE - 1 bytes, so a longer key
  // can never match; measure it only that far.
  const size_t key_length = strnlen(key, PROPERTY_KEY_SIZE);
  if (key_length >= PROPERTY_KEY_SIZE) return 0;
  RecordScanner scan(ScanPurpose::kLookup);
  // A read error ends the scan as the end of the file would: not stored.
  while (const Record* record = scan.Next()) {
    if (!propstore::KeyMatches(*record, key, key_length)) continue;
    // A value field without a NUL reads as cut at the field's end.
    size_t length = propstore::FieldLength(record->value, sizeof(record->value));
    if (length > PROPERTY_VALUE_SIZE - 1) length = PROPERTY_VALUE_SIZE - 1;
    memcpy(value, record->value, length);
    value[length] = '\0';
    return 1;
  }
  return 0;
}

namespace propstore {

UpdateResult StoreProperty(const char* key, const char* value) {
  RecordScanner scan(ScanPurpose::kUpdate);
  if (scan.status() != ScanStatus::kOk) return {scan.status(), scan.error()};

  // Records are compared where the scanner read them; only the one written
  // is copied. Copying each record on the way costs more than comparing it.
  const size_t key_length = strnlen(key, PROPERTY_KEY_SIZE);
  const Record* match = nullptr;
  while (const Record* next = scan.Next()) {
    if (KeyMatches(*next, key, key_length)) {
      match = next;
      break;
    }
  }
  // A scan that did not reach the end may have missed the key's record:
  // writing at the offset it stopped at would destroy another record or
  // store the key twice.
  if (scan.status() != ScanStatus::kOk) return {scan.status(), scan.error()};

  // The scan of an update reads exactly as far as the size the locked file
  // has, so an append lands at the end of its last whole record.
  const bool matched = match != nullptr;
  const uint64_t index = matched ? scan.records_read() - 1 : scan.records_read();
  const uint64_t offset = index * sizeof(Record);
  Record record;
  if (matched) {
    memcpy(&record, match, sizeof(record));
  } else {
    // An appended record carries, past its NULs, what one record buffer
    // reading the file would hold: zeros, or the last record read with a
    // partial tail read over it.
    if (const Record* last = scan.last_record()) {
      memcpy(&record, last, sizeof(record));
    } else {
      memset(&record, 0, sizeof(record));
    }
    memcpy(&record, scan.tail(), scan.tail_bytes());
    StoreField(record.key, sizeof(record.key), key);
  }
  StoreField(record.value, sizeof(record.value), value);

  if (!scan.WriteRecord(record, offset)) {
    const UpdateResult failed = {scan.status(), scan.error()};
    // A failed append (a full filesystem, say) may have left part of the
    // record behind; cut it off while the exclusive lock is still held, so
    // the file ends on the last whole record.
    if (!matched) scan.Truncate(offset);
    return failed;
  }
  // The close releases the lock; it comes after the record is out. Some file
  // systems report only here that the write did not reach the file.
  if (!scan.Close()) return {ScanStatus::kWriteFailed, errno};
  return {};
}

}  // namespace propstore

int update_property(const char* key, const char* value) {
  const UpdateResult result = propstore::StoreProperty(key, value);
  if (result.status == ScanStatus::kOk) return 0;
  // Set last, so no call made on the way out (a close, a free) changes it.
  errno = result.error;
  return -1;
}
