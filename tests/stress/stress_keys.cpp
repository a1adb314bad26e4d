// Names of the stress run's keys.
#include "tests/stress/stress_keys.h"

#include "propstore/properties.h"

namespace propstore_stress {
namespace {

constexpr size_t kLongestStoredKey = PROPERTY_KEY_SIZE - 1;

std::string PadTo(std::string text, size_t length, char pad) {
  text.resize(length, pad);
  return text;
}

}  // namespace

KeySet::KeySet(int writers) : writers_(writers) {
  for (int i = 0; i + 1 < kSharedKeyCount; ++i) {
    names_.push_back("stress.shared." + std::to_string(i));
  }
  names_.push_back(PadTo("stress.shared.full-width.", kLongestStoredKey, 'F'));
  for (int w = 0; w < writers; ++w) names_.push_back("stress.own." + std::to_string(w));
  // Distinct 63-byte prefixes, none equal to the full-width shared key.
  for (int w = 0; w < writers; ++w) {
    names_.push_back(PadTo("stress.append." + std::to_string(w) + ".", kLongestStoredKey, 'A'));
  }
}

KeyKind KeySet::kind(int id) const {
  if (id < kSharedKeyCount) return KeyKind::kShared;
  if (id < kSharedKeyCount + writers_) return KeyKind::kOwn;
  return KeyKind::kAppend;
}

int KeySet::owner(int id) const {
  switch (kind(id)) {
    case KeyKind::kShared:
      return -1;
    case KeyKind::kOwn:
      return id - kSharedKeyCount;
    case KeyKind::kAppend:
      return id - kSharedKeyCount - writers_;
  }
  return -1;
}

std::string KeySet::long_form(int id, size_t variant) const {
  const size_t count = sizeof(kAppendKeyLengths) / sizeof(kAppendKeyLengths[0]);
  return PadTo(names_[id], kAppendKeyLengths[variant % count], 'z');
}

int KeySet::Find(const std::string& stored) const {
  for (int id = 0; id < count(); ++id) {
    if (names_[id] == stored) return id;
  }
  return -1;
}

}  // namespace propstore_stress
