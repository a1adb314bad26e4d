// The record rules of the storage file, stated as plainly as possible so
// that they can serve as an oracle for the real store.
#include "tests/support/store_model.h"

#include <string.h>

#include "propstore/properties.h"

namespace isputils_test {
namespace {

constexpr size_t kRecord = PROPERTY_RECORD_SIZE;
constexpr size_t kKeyWidth = PROPERTY_KEY_SIZE;
constexpr size_t kValueWidth = PROPERTY_VALUE_SIZE;

std::string FieldText(const std::string& bytes, size_t offset, size_t width) {
  return std::string(bytes.data() + offset, strnlen(bytes.data() + offset, width));
}

}  // namespace

StoreModel::StoreModel(const std::string& bytes) : bytes_(bytes), known_(bytes.size(), true) {}

size_t StoreModel::whole_records() const { return bytes_.size() / kRecord; }

std::string StoreModel::KeyText(size_t index) const {
  return FieldText(bytes_, index * kRecord, kKeyWidth);
}

std::string StoreModel::ValueText(size_t index) const {
  return FieldText(bytes_, index * kRecord + kKeyWidth, kValueWidth).substr(0, kValueWidth - 1);
}

long StoreModel::FindRecord(const std::string& key) const {
  // A stored key has at most 63 bytes, even where a damaged key field lacks
  // its NUL and so reads as 64.
  if (key.size() >= kKeyWidth) return -1;
  for (size_t i = 0; i < whole_records(); ++i) {
    if (KeyText(i) == key) return static_cast<long>(i);
  }
  return -1;
}

bool StoreModel::Fetch(const std::string& key, std::string* value) const {
  const long index = FindRecord(key);
  if (index < 0) return false;
  *value = ValueText(static_cast<size_t>(index));
  return true;
}

int StoreModel::Get(const std::string& key, const std::string* fallback,
                    std::string* value) const {
  if (key.size() >= kKeyWidth) return -1;
  if (!Fetch(key, value)) *value = fallback == nullptr ? "" : fallback->substr(0, kValueWidth - 1);
  return static_cast<int>(value->size());
}

void StoreModel::StoreField(size_t offset, size_t width, const std::string& text) {
  const size_t length = text.size() < width ? text.size() : width - 1;
  for (size_t i = 0; i < length; ++i) {
    bytes_[offset + i] = text[i];
    known_[offset + i] = true;
  }
  bytes_[offset + length] = '\0';
  known_[offset + length] = true;
}

void StoreModel::Update(const std::string& key, const std::string& value) {
  long index = FindRecord(key);
  if (index < 0) {
    // Appended over any partial tail; what lies past the NULs is leftovers.
    index = static_cast<long>(whole_records());
    const size_t offset = static_cast<size_t>(index) * kRecord;
    bytes_.resize(offset + kRecord, '\0');
    known_.resize(offset + kRecord);
    for (size_t i = offset; i < offset + kRecord; ++i) known_[i] = false;
    StoreField(offset, kKeyWidth, key);
  }
  StoreField(static_cast<size_t>(index) * kRecord + kKeyWidth, kValueWidth, value);
}

void StoreModel::AppendRaw(const std::string& raw) {
  bytes_ += raw;
  known_.resize(bytes_.size(), true);
}

void StoreModel::ScrambleLeftovers(uint64_t seed) {
  uint64_t state = seed | 1;
  for (size_t i = 0; i < whole_records(); ++i) {
    const size_t fields[2][2] = {{i * kRecord, kKeyWidth}, {i * kRecord + kKeyWidth, kValueWidth}};
    for (const auto& field : fields) {
      const size_t start = field[0];
      const size_t length = strnlen(bytes_.data() + start, field[1]);
      for (size_t at = start + length + 1; at < start + field[1]; ++at) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes_[at] = static_cast<char>(state >> 24);
        known_[at] = true;
      }
    }
  }
}

std::string StoreModel::Reconcile(const std::string& actual) {
  if (actual.size() != bytes_.size()) {
    return "file has " + std::to_string(actual.size()) + " bytes, expected " +
           std::to_string(bytes_.size());
  }
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (known_[i] && actual[i] != bytes_[i]) {
      return "byte " + std::to_string(i) + " (record " + std::to_string(i / kRecord) +
             ", offset " + std::to_string(i % kRecord) + ") differs";
    }
  }
  bytes_ = actual;
  known_.assign(bytes_.size(), true);
  return std::string();
}

}  // namespace isputils_test
