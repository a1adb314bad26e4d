// How records are written: the one place that says which bytes an update
// and an append put into the file, and in what order a commit writes them.
// The one-key update of store.h and the transactions of transaction.h both
// write through here, so they cannot drift apart.
//
// The rules:
//  - a value rewritten in place: the value text (cut to 91 bytes) and its
//    NUL, at the start of the record's value field; the key field and the
//    bytes after that NUL keep what they held;
//  - an appended record: built on the record before it in the file (the
//    last whole record, with a partial tail that followed it laid over its
//    start; zeros when there is no whole record), the key text (cut to 63
//    bytes) and its NUL laid into the key field, and the value as above.
//    It goes where the whole records end, over a partial tail.
//
// Thread-safety: keeps no state; the caller holds the file's exclusive lock.
#ifndef PROPERTY_STORE_INTERNAL_RECORD_WRITES_H_
#define PROPERTY_STORE_INTERNAL_RECORD_WRITES_H_

#include <stddef.h>
#include <stdint.h>

#include "property_store/internal/record.h"
#include "property_store/internal/status.h"
#include "property_store/internal/store_file.h"

namespace propstore {

// The record the first append after a scan is built on. REQUIRES: `file`
// has read to the end.
void AppendBase(const StoreFile& file, Record* base);

// Lays `key` and `value` into `record`, which holds its base.
void FillAppended(Record* record, const char* key, const char* value);

// A value to rewrite in place. Intentionally copyable.
struct ValueWrite {
  uint64_t index;     // of the record
  const char* value;  // NUL-terminated; cut to 91 bytes
};

// Writes `values` in place (in the order given) and appends `appended`
// as one run at record `first_appended`, where the file's whole records
// end. Room is reserved first, so a full file system fails the commit
// before anything is written (kNoSpace); a single value rewritten in place
// reserves nothing, as it takes no new room unless the file is sparse
// there. An append that fails part-way is cut back to whole records.
Status CommitRecords(StoreFile* file, const ValueWrite* values, size_t value_count,
                     const Record* appended, size_t appended_count, uint64_t first_appended);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_RECORD_WRITES_H_
