// One pass of many updates under the store's exclusive lock.
#include "tools/camprop/store_batch.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

#include "tools/camprop/record_fields.h"

namespace camprop {

StoreBatch::StoreBatch() : scan_(propstore::ScanPurpose::kUpdate) {
  memset(&spare_, 0, sizeof(spare_));
  if (scan_.status() != propstore::ScanStatus::kOk) {
    result_ = {scan_.status(), scan_.error()};
    return;
  }
  while (const propstore::Record* record = scan_.Next()) {
    records_.push_back(*record);
    // A record whose key field lacks its NUL is reached by no lookup.
    if (KeyLacksNul(*record)) continue;
    std::string key = KeyText(*record);
    if (index_.emplace(key, records_.size() - 1).second) {
      values_.emplace(std::move(key), ValueText(*record));
    }
  }
  // A scan cut short by a read error may have missed records: writing
  // after what it read would destroy them or store a key twice.
  if (scan_.status() != propstore::ScanStatus::kOk) {
    result_ = {scan_.status(), scan_.error()};
    return;
  }
  file_records_ = records_.size();
  // An appended record carries, past its NULs, the last record read with
  // any partial tail over it, as a single update's does.
  if (!records_.empty()) spare_ = records_.back();
  memcpy(&spare_, scan_.tail(), scan_.tail_bytes());
}

const std::string* StoreBatch::Find(const std::string& key) const {
  const auto found = values_.find(key);
  return found == values_.end() ? nullptr : &found->second;
}

void StoreBatch::Set(const std::string& key, const std::string& value) {
  if (result_.status != propstore::ScanStatus::kOk) return;
  const auto [at, added] = values_.emplace(key, value);
  if (!added) {
    if (at->second == value) return;  // unchanged: nothing to write
    at->second = value;
  }
  size_t index;
  const auto found = index_.find(key);
  if (found != index_.end()) {
    index = found->second;
  } else {
    propstore::Record record = spare_;
    propstore::StoreField(record.key, sizeof(record.key), key.c_str());
    records_.push_back(record);
    index = records_.size() - 1;
    index_.emplace(key, index);
  }
  propstore::StoreField(records_[index].value, sizeof(records_[index].value), value.c_str());
  if (index >= file_records_) spare_ = records_[index];
  dirty_.push_back(index);
}

bool StoreBatch::Commit() {
  if (result_.status != propstore::ScanStatus::kOk) return false;
  // In file order, so the appended records go out in one rising run.
  std::sort(dirty_.begin(), dirty_.end());
  dirty_.erase(std::unique(dirty_.begin(), dirty_.end()), dirty_.end());
  for (const size_t index : dirty_) {
    const uint64_t offset = index * sizeof(propstore::Record);
    if (scan_.WriteRecord(records_[index], offset)) continue;
    result_ = {scan_.status(), scan_.error()};
    if (index >= file_records_) scan_.Truncate(offset);
    return false;
  }
  dirty_.clear();
  return true;
}

bool StoreBatch::Close() {
  if (!scan_.Close() && result_.status == propstore::ScanStatus::kOk) {
    result_ = {propstore::ScanStatus::kWriteFailed, errno};
  }
  return result_.status == propstore::ScanStatus::kOk;
}

}  // namespace camprop
