// Building a view of the properties from a snapshot and comparing two.
#include "tools/camprop/property_view.h"

#include <string.h>

#include <algorithm>

namespace camprop {

PropertyView::PropertyView(const std::vector<propstore::Record>& records,
                           const std::string& prefix) {
  // Every key field compared here holds its NUL (the others are left out).
  const auto key_of = [&records](uint32_t index) { return records[index].key; };
  std::vector<uint32_t> candidates;
  for (uint32_t i = 0; i < records.size(); ++i) {
    if (KeyLacksNul(records[i]) || strncmp(records[i].key, prefix.c_str(), prefix.size()) != 0) {
      continue;
    }
    candidates.push_back(i);
  }
  // In key order, and within a key in file order: the first record of a key
  // is the one lookups read; later ones are dead.
  std::stable_sort(candidates.begin(), candidates.end(), [&](uint32_t a, uint32_t b) {
    return strcmp(key_of(a), key_of(b)) < 0;
  });
  std::vector<uint32_t> firsts;  // in key order
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (i == 0 || strcmp(key_of(candidates[i]), key_of(candidates[i - 1])) != 0) {
      firsts.push_back(candidates[i]);
    }
  }
  candidates.clear();
  candidates.shrink_to_fit();
  std::vector<uint32_t> in_file_order = firsts;
  std::sort(in_file_order.begin(), in_file_order.end());
  records_.reserve(in_file_order.size());
  for (const uint32_t index : in_file_order) records_.push_back(records[index]);
  by_key_.reserve(firsts.size());
  for (const uint32_t index : firsts) {
    by_key_.push_back(static_cast<uint32_t>(
        std::lower_bound(in_file_order.begin(), in_file_order.end(), index) -
        in_file_order.begin()));
  }
}

const propstore::Record* PropertyView::Find(const char* key) const {
  const auto at = std::lower_bound(by_key_.begin(), by_key_.end(), key,
                                   [this](uint32_t index, const char* wanted) {
                                     return strcmp(records_[index].key, wanted) < 0;
                                   });
  if (at == by_key_.end() || strcmp(records_[*at].key, key) != 0) return nullptr;
  return &records_[*at];
}

std::vector<PropertyChange> PropertyView::ChangesSince(const PropertyView& before) const {
  std::vector<PropertyChange> changes;
  for (const propstore::Record& record : records_) {
    const propstore::Record* old_record = before.Find(record.key);
    std::string value = ValueText(record);
    if (old_record == nullptr) {
      changes.push_back({KeyText(record), std::nullopt, std::move(value)});
    } else if (std::string old_value = ValueText(*old_record); old_value != value) {
      changes.push_back({KeyText(record), std::move(old_value), std::move(value)});
    }
  }
  for (const propstore::Record& record : before.records_) {
    if (Find(record.key) == nullptr) changes.push_back({KeyText(record), ValueText(record), std::nullopt});
  }
  return changes;
}

}  // namespace camprop
