// Building a view of the properties from a snapshot and comparing two.
#include "property_store/internal/property_view.h"

#include <string.h>

#include <algorithm>

namespace propstore {
namespace {

// Every key of a view holds its NUL.
std::string KeyText(const Record& record) { return record.key; }

std::string ValueText(const Record& record) {
  return std::string(record.value, ValueLength(record));
}

}  // namespace


PropertyView::PropertyView(const Snapshot& snapshot, const std::string& prefix) {
  auto duplicate = snapshot.duplicates.begin();
  for (size_t i = 0; i < snapshot.records.size(); ++i) {
    const Record& record = snapshot.records[i];
    if (duplicate != snapshot.duplicates.end() && duplicate->index == i) {
      ++duplicate;
      continue;
    }
    if (KeyLacksNul(record) ||
        strncmp(record.key, prefix.c_str(), prefix.size()) != 0) {
      continue;
    }
    records_.push_back(record);
  }
  // Every key compared here holds its NUL, and each is there once.
  by_key_.resize(records_.size());
  for (uint32_t i = 0; i < by_key_.size(); ++i) by_key_[i] = i;
  std::sort(by_key_.begin(), by_key_.end(), [this](uint32_t a, uint32_t b) {
    return strcmp(records_[a].key, records_[b].key) < 0;
  });
}

const Record* PropertyView::Find(const char* key) const {
  const auto at = std::lower_bound(by_key_.begin(), by_key_.end(), key,
                                   [this](uint32_t index, const char* wanted) {
                                     return strcmp(records_[index].key, wanted) < 0;
                                   });
  if (at == by_key_.end() || strcmp(records_[*at].key, key) != 0) return nullptr;
  return &records_[*at];
}

std::vector<PropertyChange> PropertyView::ChangesSince(const PropertyView& before) const {
  std::vector<PropertyChange> changes;
  for (const Record& record : records_) {
    const Record* old_record = before.Find(record.key);
    std::string value = ValueText(record);
    if (old_record == nullptr) {
      changes.push_back({KeyText(record), std::nullopt, std::move(value)});
    } else if (std::string old_value = ValueText(*old_record); old_value != value) {
      changes.push_back({KeyText(record), std::move(old_value), std::move(value)});
    }
  }
  for (const Record& record : before.records_) {
    if (Find(record.key) == nullptr) changes.push_back({KeyText(record), ValueText(record), std::nullopt});
  }
  return changes;
}

}  // namespace propstore
