// Self-checking property values for the stress run. Every value names its
// writer, the key it was written for, a sequence number and its intended
// length, guarded by a checksum, and is padded with a filler derived from all
// of these; a value torn between two writes, stored under the wrong key, or
// cut anywhere but at the store's 91-byte limit fails to decode. Values too
// short to carry a header use a fixed pattern per length instead.
//
// Thread-safety: pure functions; safe from any thread.
#ifndef TESTS_STRESS_STRESS_VALUE_H_
#define TESTS_STRESS_STRESS_VALUE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace propstore_stress {

// Values of fewer bytes than this carry no header (see MakeTinyValue).
inline constexpr size_t kMinCheckedLength = 20;
// Longest value the stress run writes; the store keeps its first 91 bytes.
inline constexpr size_t kMaxValueLength = 100;

// What a checked value says about itself.
struct ValueStamp {
  uint32_t writer = 0;
  uint32_t key = 0;
  uint64_t seq = 0;
  uint32_t length = 0;  // intended length, before the store cut it
};

// Builds the checked value for `stamp`; its length is stamp.length, which
// must lie in [kMinCheckedLength, kMaxValueLength]. Writers below 256, keys
// below 4096, sequences below 2^32.
std::string MakeCheckedValue(const ValueStamp& stamp);

// Builds the value of `length` (< kMinCheckedLength) bytes: one character,
// chosen by the length, repeated.
std::string MakeTinyValue(size_t length);

// Decodes a value as read back from the store (at most 91 bytes). Returns
// true and fills *stamp for a checked value that is exactly what its writer
// wrote, cut only where the store cuts; false with the reason in *why
// otherwise.
bool DecodeCheckedValue(const std::string& text, ValueStamp* stamp, std::string* why);

// True when `text` is a tiny value (including the empty one).
bool IsTinyValue(const std::string& text);

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_VALUE_H_
