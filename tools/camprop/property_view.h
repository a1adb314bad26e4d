// The properties as lookups see them in one snapshot of the file, and what
// changed between two snapshots: what `camprop watch` reports.
//
// Thread-safety: a view is a plain value; use one from one thread at a time.
#ifndef TOOLS_CAMPROP_PROPERTY_VIEW_H_
#define TOOLS_CAMPROP_PROPERTY_VIEW_H_

#include <stddef.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "property_store/internal/storage_file.h"

namespace camprop {

// One change of one property. Intentionally copyable.
struct PropertyChange {
  std::string key;
  std::optional<std::string> old_value;  // none: the key was not stored
  std::optional<std::string> new_value;  // none: the key is gone (file replaced)
};

// Intentionally copyable and movable.
class PropertyView {
 public:
  // An empty store.
  PropertyView() = default;

  // The properties that lookups read from `records` whose keys start with
  // `prefix`: the first record of each key, with its value as a lookup
  // returns it. Records whose key field has no NUL are left out: no lookup
  // reaches them.
  PropertyView(const std::vector<propstore::Record>& records, const std::string& prefix);

  // How many properties the view holds.
  size_t size() const { return entries_.size(); }

  // Calls visit(key, value) for each property, in file order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& [key, value] : entries_) visit(key, value);
  }

  // What changed from `before` to this view: keys whose value differs and
  // keys new here, in this view's file order, then keys gone since
  // `before`, in its order. A value rewritten unchanged is no change.
  std::vector<PropertyChange> ChangesSince(const PropertyView& before) const;

 private:
  // The value stored for `key`, or null.
  const std::string* Find(const std::string& key) const;

  std::vector<std::pair<std::string, std::string>> entries_;  // key, value; file order
  std::unordered_map<std::string, size_t> index_;             // key -> entries_ index
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_PROPERTY_VIEW_H_
