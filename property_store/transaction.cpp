// Many keys read and set under one exclusive lock, written in one commit.
#include "property_store/internal/transaction.h"

#include <algorithm>

#include "property_store/internal/record_writes.h"

namespace propstore {

Transaction::Transaction(const Store& store) : file_(store, Access::kUpdate) {
  status_ = file_.status();
  if (!status_.ok()) return;
  while (const Record* record = file_.Next()) {
    // A record whose key field lacks its NUL is reached by no lookup.
    if (KeyLacksNul(*record)) continue;
    const auto [at, added] = entries_.try_emplace(record->key);
    if (added) at->second = {file_.records_read() - 1, std::string(record->value, ValueLength(*record))};
  }
  // A scan cut short by a read error may have missed records: writing after
  // what it read would destroy them or store a key twice.
  status_ = file_.status();
  if (!status_.ok()) return;
  file_records_ = file_.records_read();
  AppendBase(file_, &append_base_);
}

const std::string* Transaction::Find(const std::string& key) const {
  const auto found = entries_.find(key);
  return found == entries_.end() ? nullptr : &found->second.value;
}

void Transaction::Set(const std::string& key, const std::string& value) {
  if (!status_.ok()) return;
  const auto [at, added] =
      entries_.try_emplace(key, Entry{file_records_ + appended_.size(), value});
  if (added) {
    appended_.push_back(&*at);
    return;
  }
  if (at->second.value == value) return;
  at->second.value = value;
  if (at->second.index < file_records_) in_place_.push_back(&*at);
}

Status Transaction::Commit() {
  if (!status_.ok() || !changed()) return status_;
  // The values rewritten in place, in file order, each once however often
  // it was set.
  std::vector<ValueWrite> values;
  values.reserve(in_place_.size());
  for (const Item* item : in_place_) values.push_back({item->second.index, item->second.value.c_str()});
  std::sort(values.begin(), values.end(),
            [](const ValueWrite& a, const ValueWrite& b) { return a.index < b.index; });
  values.erase(std::unique(values.begin(), values.end(),
                           [](const ValueWrite& a, const ValueWrite& b) { return a.index == b.index; }),
               values.end());
  // Each appended record is built on the one before it, as appends one at a
  // time would build it.
  std::vector<Record> appended(appended_.size());
  for (size_t i = 0; i < appended.size(); ++i) {
    appended[i] = i == 0 ? append_base_ : appended[i - 1];
    FillAppended(&appended[i], appended_[i]->first.c_str(), appended_[i]->second.value.c_str());
  }
  status_ = CommitRecords(&file_, values.data(), values.size(), appended.data(),
                          appended.size(), file_records_);
  if (!status_.ok()) return status_;
  // What was written is now what the file holds.
  file_records_ += appended.size();
  if (!appended.empty()) append_base_ = appended.back();
  in_place_.clear();
  appended_.clear();
  return status_;
}

Status Transaction::Close() {
  const Status closed = file_.Close();
  if (status_.ok()) status_ = closed;
  return status_;
}

}  // namespace propstore
