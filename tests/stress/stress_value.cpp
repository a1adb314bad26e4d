// Encoding and decoding of the stress run's self-checking values.
//
// Layout: "WWKKKSSSSSSSSLLCCCC|" in lower-case hexadecimal (writer, key,
// sequence, intended length, checksum of the four), then filler characters
// drawn from a generator seeded by the checksum and the fields.
#include "tests/stress/stress_value.h"

#include <stdio.h>

#include "propstore/properties.h"

namespace propstore_stress {
namespace {

constexpr size_t kHeaderLength = 20;  // 19 hex digits and '|'
constexpr size_t kStoredLimit = PROPERTY_VALUE_SIZE - 1;
constexpr char kFillerAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-_.+";
constexpr char kTinyAlphabet[] = "0123456789ABCDEFGHIJ";

static_assert(kHeaderLength == kMinCheckedLength, "header fills the minimum");
static_assert(sizeof(kTinyAlphabet) - 1 == kMinCheckedLength, "one char per tiny length");

uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

uint64_t StampHash(const ValueStamp& s) {
  return Mix(Mix(Mix(Mix(s.writer) ^ s.key) ^ s.seq) ^ s.length);
}

std::string FullText(const ValueStamp& stamp) {
  char header[kHeaderLength + 1];
  const unsigned checksum = static_cast<unsigned>(StampHash(stamp) & 0xffff);
  snprintf(header, sizeof(header), "%02x%03x%08x%02x%04x|",
           static_cast<unsigned>(stamp.writer), static_cast<unsigned>(stamp.key),
           static_cast<unsigned>(stamp.seq), static_cast<unsigned>(stamp.length), checksum);
  std::string text(header, kHeaderLength);
  uint64_t state = StampHash(stamp);
  while (text.size() < stamp.length) {
    state = Mix(state);
    text.push_back(kFillerAlphabet[state % (sizeof(kFillerAlphabet) - 1)]);
  }
  return text;
}

// Parses `digits` hexadecimal digits at `text`; false on any other character.
bool ParseHex(const char* text, int digits, uint64_t* out) {
  uint64_t value = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  *out = value;
  return true;
}

}  // namespace

std::string MakeCheckedValue(const ValueStamp& stamp) { return FullText(stamp); }

std::string MakeTinyValue(size_t length) {
  return std::string(length, kTinyAlphabet[length % kMinCheckedLength]);
}

bool IsTinyValue(const std::string& text) {
  return text.size() < kMinCheckedLength && text == MakeTinyValue(text.size());
}

bool DecodeCheckedValue(const std::string& text, ValueStamp* stamp, std::string* why) {
  if (text.size() < kHeaderLength || text[kHeaderLength - 1] != '|') {
    *why = "no header";
    return false;
  }
  uint64_t writer, key, seq, length, checksum;
  const char* p = text.data();
  if (!ParseHex(p, 2, &writer) || !ParseHex(p + 2, 3, &key) || !ParseHex(p + 5, 8, &seq) ||
      !ParseHex(p + 13, 2, &length) || !ParseHex(p + 15, 4, &checksum)) {
    *why = "header is not hexadecimal";
    return false;
  }
  ValueStamp decoded;
  decoded.writer = static_cast<uint32_t>(writer);
  decoded.key = static_cast<uint32_t>(key);
  decoded.seq = seq;
  decoded.length = static_cast<uint32_t>(length);
  if ((StampHash(decoded) & 0xffff) != checksum) {
    *why = "header checksum mismatch";
    return false;
  }
  if (length < kMinCheckedLength || length > kMaxValueLength) {
    *why = "impossible length";
    return false;
  }
  const std::string full = FullText(decoded);
  const size_t expected_size = full.size() < kStoredLimit ? full.size() : kStoredLimit;
  if (text.size() != expected_size || full.compare(0, expected_size, text) != 0) {
    *why = "torn or cut value";
    return false;
  }
  *stamp = decoded;
  return true;
}

}  // namespace propstore_stress
