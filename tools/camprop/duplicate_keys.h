// Finds records that repeat the key of an earlier record. The store acts on
// the first record with a key, so every later one is dead weight: it is what
// an update through a key of 64 bytes or more leaves behind (the key is cut
// to 63 bytes and never matches, so each such update appends).
//
// Thread-safety: an instance belongs to one thread.
#ifndef TOOLS_CAMPROP_DUPLICATE_KEYS_H_
#define TOOLS_CAMPROP_DUPLICATE_KEYS_H_

#include <stdint.h>

#include <string>
#include <unordered_map>

namespace camprop {

// Remembers the first record of each key seen, in file order.
class DuplicateKeys {
 public:
  DuplicateKeys() = default;
  DuplicateKeys(const DuplicateKeys&) = delete;
  DuplicateKeys& operator=(const DuplicateKeys&) = delete;

  // Records that record `index` holds `key`. Returns true, with the index of
  // the record that holds it first in *first, when an earlier record holds
  // the same key; false for a key seen for the first time.
  bool Repeats(const std::string& key, uint64_t index, uint64_t* first);

 private:
  std::unordered_map<std::string, uint64_t> first_index_;
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_DUPLICATE_KEYS_H_
