// A plain in-memory statement of the storage file's record rules, used as
// the oracle that fault-injection tests and the store's fuzz target compare
// the real file with: 156-byte records, the first matching key wins, keys
// cut to 63 bytes and values to 91 when stored, a field without a NUL read
// cut at the field's end, a partial trailing record ignored and then
// overwritten by the next append. Bytes the rules leave unspecified (the
// leftovers an append carries past its NULs) are tracked as unknown until
// the model is reconciled with the real file.
//
// Thread-safety: a value; not for concurrent use.
#ifndef TESTS_SUPPORT_STORE_MODEL_H_
#define TESTS_SUPPORT_STORE_MODEL_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace isputils_test {

// Intentionally copyable.
class StoreModel {
 public:
  explicit StoreModel(const std::string& bytes = std::string());

  const std::string& bytes() const { return bytes_; }
  size_t whole_records() const;

  // Key and value text of whole record `index` as a reader sees them: up to
  // the field's NUL or its end; a value at most 91 bytes.
  std::string KeyText(size_t index) const;
  std::string ValueText(size_t index) const;

  // fetch_property: true with the stored value when `key` matches a record.
  bool Fetch(const std::string& key, std::string* value) const;

  // property_get with a NULL `fallback` or the given one: its result, with
  // the text it leaves in *value (untouched for a refused key).
  int Get(const std::string& key, const std::string* fallback, std::string* value) const;

  // The file after a successful update_property(key, value).
  void Update(const std::string& key, const std::string& value);

  // The file with `raw` bytes appended as they stand (a crash or a foreign
  // writer leaving garbage behind).
  void AppendRaw(const std::string& raw);

  // Overwrites every byte after the NUL of each field of each whole record
  // with bytes derived from `seed`; the rules say no result may change.
  void ScrambleLeftovers(uint64_t seed);

  // Compares `actual` with the model on every known byte. Returns an empty
  // text when they agree, and then adopts the unknown bytes from `actual`;
  // otherwise a description of the first difference.
  std::string Reconcile(const std::string& actual);

 private:
  // Index of the first whole record whose key text equals `key`, or -1.
  long FindRecord(const std::string& key) const;
  // Stores `text` cut to width - 1 bytes and a NUL at `offset`, known.
  void StoreField(size_t offset, size_t width, const std::string& text);

  std::string bytes_;
  std::vector<bool> known_;
};

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_STORE_MODEL_H_
