// A lookup and a one-key update of the store.
#include "property_store/internal/store.h"

#include <stdio.h>
#include <string.h>

#include "property_store/internal/record_writes.h"
#include "property_store/internal/store_file.h"

namespace propstore {

Store::Store(const char* dir, const Options& options)
    : options_(options), dir_(names_), path_(names_), names_{} {
  const size_t length = strlen(dir);
  // "DIR\0DIR/property_storage\0"; an empty path makes every operation fail.
  const int written = snprintf(names_, sizeof(names_), "%s%c%s/%s", dir, '\0', dir,
                               kStorageFileName);
  if (written < 0 || static_cast<size_t>(written) >= sizeof(names_)) {
    names_[0] = '\0';
    return;
  }
  path_ = names_ + length + 1;
}

Status Store::Get(const char* key, char* value) const {
  // A longer key can never match: a stored key holds at most 63 bytes.
  const KeyProbe probe(key);
  if (!probe.can_match()) return Status(Status::Code::kNotFound, 0, path_);
  StoreFile file(*this, Access::kLookup);
  if (!file.status().ok()) return file.status();
  const Record* record = file.Find(probe);
  // A read error ends the search as the end of the file would, but says so.
  if (record == nullptr) {
    return file.status().ok() ? Status(Status::Code::kNotFound, 0, path_) : file.status();
  }
  const size_t length = ValueLength(*record);
  memcpy(value, record->value, length);
  value[length] = '\0';
  return Status();
}

Status Store::Set(const char* key, const char* value) const {
  StoreFile file(*this, Access::kUpdate);
  if (!file.status().ok()) return file.status();
  const KeyProbe probe(key);
  const Record* match = probe.can_match() ? file.Find(probe) : nullptr;
  if (match == nullptr) file.SkipToEnd();
  // A scan that did not reach the end may have missed the key's record:
  // writing at the offset it stopped at would destroy another record or
  // store the key twice.
  if (!file.status().ok()) return file.status();
  Status committed;
  if (match != nullptr) {
    const ValueWrite write = {file.records_read() - 1, value};
    committed = CommitRecords(&file, &write, 1, nullptr, 0, 0);
  } else {
    Record appended;
    AppendBase(file, &appended);
    FillAppended(&appended, key, value);
    committed = CommitRecords(&file, nullptr, 0, &appended, 1, file.records_read());
  }
  if (!committed.ok()) return committed;
  // The close releases the locks; it comes after the record is out. Some
  // file systems report only here that the write did not reach the file.
  return file.Close();
}

}  // namespace propstore
