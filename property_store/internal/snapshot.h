// A copy of every whole record of the storage file, taken under the shared
// lock and complete before the lock is released, with what a checker needs
// to know of it: the partial tail, and which records repeat the key of an
// earlier one (the store acts on the first record of a key; every later one
// is dead weight, left by updates through keys of 64 bytes or more). Fields
// without their NUL are told by KeyLacksNul and ValueLacksNul (record.h).
// Commands that print or compare many records work on a snapshot, so that
// a slow reader of their output never keeps a camera process waiting.
//
// A run of records of zero bytes (what a hole of a sparse file reads as:
// `truncate -s 1G` of the file makes millions) is held as its first record
// and a count, and a hole is skipped without being read, so that the time
// and memory of a snapshot follow what the file stores, not the size it
// claims. Every record of such a run after the first repeats its empty key.
//
// Thread-safety: a snapshot is a plain value; TakeSnapshot keeps no state.
#ifndef PROPERTY_STORE_INTERNAL_SNAPSHOT_H_
#define PROPERTY_STORE_INTERNAL_SNAPSHOT_H_

#include <stdint.h>

#include <functional>
#include <vector>

#include "property_store/internal/record.h"
#include "property_store/internal/status.h"
#include "property_store/internal/store.h"

namespace propstore {

// Intentionally copyable (and cheap to move).
struct Snapshot {
  // A record whose key repeats that of an earlier record. Intentionally
  // copyable.
  struct Duplicate {
    uint64_t index;  // of the record
    uint64_t first;  // of the first record with the same key
  };

  // records[index] is of zero bytes, and so are the `more` records that
  // follow it in the file, which `records` does not hold. Intentionally
  // copyable.
  struct ZeroRun {
    uint64_t index;       // in `records`
    uint64_t more;        // records of the file after it, left out
    uint64_t file_index;  // of records[index] among the file's records
  };

  std::vector<Record> records;        // the whole records, in file order, runs left out
  uint64_t tail_bytes = 0;            // of a partial record after them
  std::vector<Duplicate> duplicates;  // in file order, indices in `records`
  std::vector<ZeroRun> zero_runs;     // in file order

  // The whole records of the file, those of the runs included.
  uint64_t file_records() const;
  // The index among the file's records of records[index].
  uint64_t FileIndex(uint64_t index) const;
};

// Copies the records of `store` into *snapshot. Returns kOk; a missing
// store's status (status.missing()), with an empty snapshot; or why the
// file could not be read. On kRead, the records read before the error are
// there. Memory follows the records held, 156 bytes each: the copy is sized
// before the lock is taken from the file itself, never from what a link at
// the path points to, so that no memory is faulted in while writers wait.
// `under_lock`, when given, runs once the records are copied, before the
// lock is released: what it reads beside the store is of the same instant
// (no writer of the store runs in between). It must not block.
Status TakeSnapshot(const Store& store, Snapshot* snapshot,
                    const std::function<void()>& under_lock = nullptr);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_SNAPSHOT_H_
