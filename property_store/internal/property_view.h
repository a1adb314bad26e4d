// The properties as lookups see them in one snapshot of the file, and what
// changed between two snapshots: what the watchers of the store (camprop
// watch, camprop persist watch) act on.
//
// Thread-safety: a view is a plain value; use one from one thread at a time.
#ifndef PROPERTY_STORE_INTERNAL_PROPERTY_VIEW_H_
#define PROPERTY_STORE_INTERNAL_PROPERTY_VIEW_H_

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "property_store/internal/snapshot.h"

namespace propstore {

// One change of one property. Intentionally copyable.
struct PropertyChange {
  std::string key;
  std::optional<std::string> old_value;  // none: the key was not stored
  std::optional<std::string> new_value;  // none: the key is gone (file replaced)
};

// Intentionally copyable and movable. It keeps the records themselves and
// an index of them in key order, no text of its own: a watch of a large
// store holds two views at a time.
class PropertyView {
 public:
  // An empty store.
  PropertyView() = default;

  // The properties that lookups read from `snapshot` whose keys start with
  // `prefix`: the first record of each key, with its value as a lookup
  // returns it. Records whose key field has no NUL are left out: no lookup
  // reaches them.
  PropertyView(const Snapshot& snapshot, const std::string& prefix);

  // How many properties the view holds.
  size_t size() const { return records_.size(); }

  // Calls visit(key, value) for each property, in file order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const Record& record : records_) {
      visit(std::string(record.key), std::string(record.value, ValueLength(record)));
    }
  }

  // What changed from `before` to this view: keys whose value differs and
  // keys new here, in this view's file order, then keys gone since
  // `before`, in its order. A value rewritten unchanged is no change.
  std::vector<PropertyChange> ChangesSince(const PropertyView& before) const;

 private:
  // The record of `key`, or null.
  const Record* Find(const char* key) const;

  std::vector<Record> records_;  // the first record of each key, in file order
  std::vector<uint32_t> by_key_;            // indexes of records_, in key order
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_PROPERTY_VIEW_H_
