// Building a view of the properties from a snapshot and comparing two.
#include "tools/camprop/property_view.h"

#include "tools/camprop/record_fields.h"

namespace camprop {

PropertyView::PropertyView(const std::vector<propstore::Record>& records,
                           const std::string& prefix) {
  for (const propstore::Record& record : records) {
    if (KeyLacksNul(record)) continue;
    std::string key = KeyText(record);
    if (key.compare(0, prefix.size(), prefix) != 0) continue;
    // The first record of a key is the one lookups read; later ones are dead.
    if (!index_.emplace(key, entries_.size()).second) continue;
    entries_.emplace_back(std::move(key), ValueText(record));
  }
}

const std::string* PropertyView::Find(const std::string& key) const {
  const auto found = index_.find(key);
  return found == index_.end() ? nullptr : &entries_[found->second].second;
}

std::vector<PropertyChange> PropertyView::ChangesSince(const PropertyView& before) const {
  std::vector<PropertyChange> changes;
  for (const auto& [key, value] : entries_) {
    const std::string* old_value = before.Find(key);
    if (old_value == nullptr) {
      changes.push_back({key, std::nullopt, value});
    } else if (*old_value != value) {
      changes.push_back({key, *old_value, value});
    }
  }
  for (const auto& [key, value] : before.entries_) {
    if (Find(key) == nullptr) changes.push_back({key, value, std::nullopt});
  }
  return changes;
}

}  // namespace camprop
