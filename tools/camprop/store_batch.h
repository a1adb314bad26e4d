// Many updates of the store in one pass under one exclusive lock, for the
// commands that store a file of settings (`camprop load`, `camprop persist
// restore`): the file is read once, every key is looked up in memory, and
// only records whose value changes are written, so a load costs time linear
// in the store and the lines, and a reader sees the store before the load or
// after it, never half of it. The records are written by the store's own
// rules: a key's first record is updated in place, a new key appended (a
// partial record at the end is overwritten, as an update does).
//
// Thread-safety: an instance belongs to one thread; instances in other
// threads and processes exclude each other, and every lookup and update,
// through the file lock.
#ifndef TOOLS_CAMPROP_STORE_BATCH_H_
#define TOOLS_CAMPROP_STORE_BATCH_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "property_store/internal/property_update.h"
#include "property_store/internal/record_scanner.h"

namespace camprop {

// Intentionally neither copyable nor movable: it holds the store's lock.
class StoreBatch {
 public:
  // Opens the store for update (creating it when missing), takes the
  // exclusive lock and reads every record. Check result().
  StoreBatch();

  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;

  // How opening and reading went, and after Commit() how writing went.
  const propstore::UpdateResult& result() const { return result_; }

  // The value stored for `key` as a lookup reads it (including what Set has
  // given it in this batch), or null when the key is not stored.
  const std::string* Find(const std::string& key) const;

  // Gives `key` the value `value` in the batch; nothing reaches the file
  // before Commit(). REQUIRES: key shorter than PROPERTY_KEY_SIZE, value
  // shorter than PROPERTY_VALUE_SIZE, neither holding a NUL.
  void Set(const std::string& key, const std::string& value);

  // Writes the changed records and the new ones; the lock is still held.
  // Returns false, with result() telling why, when a record did not reach
  // the file; an append cut short is cut back to the last whole record.
  bool Commit();

  // Releases the lock. Returns false, with result() telling why, when the
  // close reported that the writes did not reach the file.
  bool Close();

 private:
  propstore::RecordScanner scan_;
  propstore::UpdateResult result_;
  std::vector<propstore::Record> records_;    // the file's, then the appended ones
  uint64_t file_records_ = 0;                 // how many of them the file held
  std::unordered_map<std::string, size_t> index_;  // key -> its first record
  std::unordered_map<std::string, std::string> values_;  // key -> value as read or set
  std::vector<size_t> dirty_;                 // records to write (a record may repeat)
  propstore::Record spare_;                   // what an appended record starts as
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORE_BATCH_H_
