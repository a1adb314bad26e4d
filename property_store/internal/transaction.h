// A change of many keys in one commit: the storage file read once under
// the pending and the exclusive lock, any number of keys set in memory,
// and one commit that writes every changed record by the store's own rules
// (record_writes.h), all of them or, when space runs out, none. A reader
// sees the store before the commit or after it, never part of it, unless
// the writer is killed mid-commit (store.h says what is seen then). For
// the commands that store a file of settings (camprop load, persist
// restore) and for whoever must read and change the store in one step.
//
// Memory follows the distinct keys stored and the keys set, not the size of
// the file: records are read through the file's buffer, and only the first
// record of each key is remembered.
//
// Thread-safety: an instance belongs to one thread; instances in other
// threads and processes, and every lookup and update, exclude each other
// through the file's locks.
#ifndef PROPERTY_STORE_INTERNAL_TRANSACTION_H_
#define PROPERTY_STORE_INTERNAL_TRANSACTION_H_

#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "property_store/internal/record.h"
#include "property_store/internal/status.h"
#include "property_store/internal/store.h"
#include "property_store/internal/store_file.h"

namespace propstore {

// Intentionally neither copyable nor movable: it holds the store's locks.
class Transaction {
 public:
  // Opens the file of `store` for update (creating it when missing), takes
  // the locks and reads every record. Check status().
  explicit Transaction(const Store& store);

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // How opening and reading went; after Commit() how writing went.
  const Status& status() const { return status_; }

  // The value a lookup would read for `key`, with what Set has given it in
  // this transaction; null when the key is not stored. Valid until the next
  // Set of the same key.
  const std::string* Find(const std::string& key) const;

  // Gives `key` the value `value`; nothing reaches the file before Commit().
  // A value equal to the stored one changes nothing.
  // REQUIRES: key shorter than PROPERTY_KEY_SIZE, value shorter than
  // PROPERTY_VALUE_SIZE, neither holding a NUL.
  void Set(const std::string& key, const std::string& value);

  // True when a commit would write something.
  bool changed() const { return !in_place_.empty() || !appended_.empty(); }

  // Writes the changed records and the new ones, in one commit; the locks
  // are still held afterwards. Returns status().
  Status Commit();

  // Releases the locks. Returns status(), or kClose when the close said the
  // writes did not reach the file.
  Status Close();

 private:
  struct Entry {
    uint64_t index;  // of the key's first record; appended ones come after the file's
    std::string value;
  };

  // Elements of an unordered_map stay where they are as it grows.
  using Item = std::pair<const std::string, Entry>;

  StoreFile file_;
  Status status_;
  std::unordered_map<std::string, Entry> entries_;
  std::vector<const Item*> in_place_;  // values to rewrite, as set (a key may repeat)
  std::vector<const Item*> appended_;  // keys to append, in the order first set
  uint64_t file_records_ = 0;          // whole records the file holds
  Record append_base_;                 // what the next appended record starts as
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_TRANSACTION_H_
