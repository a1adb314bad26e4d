// The key set of a stress run: a few keys every writer updates (one of them
// exactly 63 bytes long), one key per writer that only that writer updates,
// and per writer one over-long key (64 to 100 bytes) whose every update
// appends a record stored under its first 63 bytes.
//
// Thread-safety: immutable after construction; share freely.
#ifndef TESTS_STRESS_STRESS_KEYS_H_
#define TESTS_STRESS_STRESS_KEYS_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace propstore_stress {

enum class KeyKind {
  kShared,  // updated by every writer
  kOwn,     // updated by its owner alone
  kAppend,  // over-long: every update appends a record
};

// Number of shared keys, the last of which is 63 bytes long.
inline constexpr int kSharedKeyCount = 6;
// Lengths of the over-long forms a writer uses for its append key.
inline constexpr size_t kAppendKeyLengths[] = {64, 80, 100};

// Key identifiers run from 0 to count() - 1 and are what values record.
// Intentionally copyable.
class KeySet {
 public:
  explicit KeySet(int writers);

  int count() const { return static_cast<int>(names_.size()); }
  KeyKind kind(int id) const;
  // Writer of an own or append key; -1 for a shared key.
  int owner(int id) const;
  int own_key(int writer) const { return kSharedKeyCount + writer; }
  int append_key(int writer) const { return kSharedKeyCount + writers_ + writer; }

  // The key as it lies in the file, at most 63 bytes; for an append key the
  // common 63-byte prefix of its over-long forms.
  const std::string& stored_name(int id) const { return names_[id]; }
  // One of the over-long forms of append key `id`, by `variant`.
  std::string long_form(int id, size_t variant) const;

  // Identifier of the key whose stored name is `stored`, or -1.
  int Find(const std::string& stored) const;

 private:
  int writers_;
  std::vector<std::string> names_;
};

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_KEYS_H_
