// Building and writing records by the store's rules.
#include "property_store/internal/record_writes.h"

#include <string.h>

namespace propstore {
namespace {

constexpr uint64_t kValueOffset = offsetof(Record, value);

// Reserves room for the value writes, one range per run of neighbouring
// records, and for the appended run.
Status ReserveRoom(StoreFile* file, const ValueWrite* values, size_t value_count,
                   uint64_t appended_bytes, uint64_t first_appended) {
  for (size_t i = 0; i < value_count;) {
    size_t last = i;
    while (last + 1 < value_count && values[last + 1].index == values[last].index + 1) ++last;
    const uint64_t from = values[i].index * sizeof(Record) + kValueOffset;
    const uint64_t to = (values[last].index + 1) * sizeof(Record);
    const Status reserved = file->Reserve(from, to - from);
    if (!reserved.ok()) return reserved;
    i = last + 1;
  }
  return file->Reserve(first_appended * sizeof(Record), appended_bytes);
}

}  // namespace

void AppendBase(const StoreFile& file, Record* base) {
  if (const Record* last = file.last_record()) {
    memcpy(base, last, sizeof(*base));
  } else {
    memset(base, 0, sizeof(*base));
  }
  memcpy(base, file.tail(), file.tail_bytes());
}

void FillAppended(Record* record, const char* key, const char* value) {
  StoreField(record->key, sizeof(record->key), key);
  StoreField(record->value, sizeof(record->value), value);
}

Status CommitRecords(StoreFile* file, const ValueWrite* values, size_t value_count,
                     const Record* appended, size_t appended_count, uint64_t first_appended) {
  const uint64_t appended_bytes = appended_count * sizeof(Record);
  if (value_count > 1 || appended_count > 0) {
    const Status reserved = ReserveRoom(file, values, value_count, appended_bytes, first_appended);
    if (!reserved.ok()) return reserved;
  }
  for (size_t i = 0; i < value_count; ++i) {
    char field[PROPERTY_VALUE_SIZE];
    StoreField(field, sizeof(field), values[i].value);
    const Status written = file->Write(field, strlen(field) + 1,
                                       values[i].index * sizeof(Record) + kValueOffset);
    if (!written.ok()) return written;
  }
  if (appended_count == 0) return Status();
  const uint64_t append_at = first_appended * sizeof(Record);
  const Status written = file->Write(appended, appended_bytes, append_at);
  // A failed append (a full file system where room could not be reserved)
  // may have left part of a record behind; cut it off while the exclusive
  // lock is still held, so the file ends on its last whole record.
  if (!written.ok()) file->Truncate(append_at);
  return written;
}

}  // namespace propstore
