// The properties as lookups see them in one snapshot of the file, and what
// changed between two snapshots: what `camprop watch` reports.
//
// Thread-safety: a view is a plain value; use one from one thread at a time.
#ifndef TOOLS_CAMPROP_PROPERTY_VIEW_H_
#define TOOLS_CAMPROP_PROPERTY_VIEW_H_

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "property_store/internal/storage_file.h"
#include "tools/camprop/record_fields.h"

namespace camprop {

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

  // The properties that lookups read from `records` whose keys start with
  // `prefix`: the first record of each key, with its value as a lookup
  // returns it. Records whose key field has no NUL are left out: no lookup
  // reaches them.
  PropertyView(const std::vector<propstore::Record>& records, const std::string& prefix);

  // How many properties the view holds.
  size_t size() const { return records_.size(); }

  // Calls visit(key, value) for each property, in file order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const propstore::Record& record : records_) visit(KeyText(record), ValueText(record));
  }

  // What changed from `before` to this view: keys whose value differs and
  // keys new here, in this view's file order, then keys gone since
  // `before`, in its order. A value rewritten unchanged is no change.
  std::vector<PropertyChange> ChangesSince(const PropertyView& before) const;

 private:
  // The record of `key`, or null.
  const propstore::Record* Find(const char* key) const;

  std::vector<propstore::Record> records_;  // the first record of each key, in file order
  std::vector<uint32_t> by_key_;            // indexes of records_, in key order
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_PROPERTY_VIEW_H_
