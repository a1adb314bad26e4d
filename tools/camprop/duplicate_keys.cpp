// Duplicate-key detection for the property tool's listing and check.
#include "tools/camprop/duplicate_keys.h"

namespace camprop {

bool DuplicateKeys::Repeats(const std::string& key, uint64_t index, uint64_t* first) {
  const auto inserted = first_index_.emplace(key, index);
  if (inserted.second) return false;
  *first = inserted.first->second;
  return true;
}

}  // namespace camprop
