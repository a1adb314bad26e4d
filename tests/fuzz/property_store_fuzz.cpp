// Fuzz target of the property store: an arbitrary storage file, then a
// sequence of lookups, updates and damage to the file, each checked against
// a plain in-memory model of the record rules (first match wins, keys cut to
// 63 bytes and values to 91, over-long keys appending, a partial tail
// ignored and then overwritten, fields without a NUL read cut at the field's
// end, bytes after a NUL never changing a result). Runs in a private /run so
// that the fixed storage path is the fuzzer's own.
//
// Input: a 16-bit little-endian length (top bit set: no file at all), that
// many bytes of initial file, then operations of one opcode byte and their
// arguments until the input ends (see Operation below).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "propstore/properties.h"
#include "tests/support/store_model.h"

namespace {

using isputils_test::kStoragePath;

constexpr size_t kMaxInitialFile = 2048;
constexpr int kMaxOperations = 64;

using fuzz_support::Fail;

// The fuzz input, and keys and values read from it as C strings.
class Input : public fuzz_support::Input {
 public:
  using fuzz_support::Input::Input;
  // A length byte and that many bytes, cut at the first NUL as a C string.
  std::string Text() {
    const std::string bytes = Bytes(Byte());
    return bytes.substr(0, strnlen(bytes.c_str(), bytes.size()));
  }
};

class Session {
 public:
  Session(Input* input, const isputils_test::StoreModel& model) : in_(*input), model_(model) {}

  void Run() {
    for (int i = 0; i < kMaxOperations && !in_.empty(); ++i) Operation(in_.Byte() % 8);
    SweepLookups();
  }

  bool file_written() const { return file_written_; }

 private:
  // Keys: one of the stored keys, a fresh text, a text cut or padded to the
  // longest storable 63 bytes, or an over-long key of 64 to 127 bytes.
  std::string Key() {
    const uint8_t selector = in_.Byte();
    const size_t records = model_.whole_records();
    switch (selector >> 6) {
      case 0:
        return records == 0 ? std::string() : model_.KeyText((selector & 63) % records);
      case 1:
        return in_.Text();
      case 2: {
        std::string key = in_.Text();
        key.resize(PROPERTY_KEY_SIZE - 1, 'k');
        return key;
      }
      default: {
        std::string key = in_.Text();
        key.resize(PROPERTY_KEY_SIZE + (selector & 63), 'K');
        return key;
      }
    }
  }

  void Operation(int opcode) {
    switch (opcode) {
      case 0:
        CheckFetch(Key());
        break;
      case 1: {
        const std::string key = Key();
        const bool with_fallback = in_.Byte() & 1;
        const std::string fallback = with_fallback ? in_.Text() : std::string();
        CheckGet(key, with_fallback ? &fallback : nullptr);
        break;
      }
      case 2:
      case 3: {
        const std::string key = Key();
        const std::string value = in_.Text();
        const int result = opcode == 2 ? update_property(key.c_str(), value.c_str())
                                       : property_set(key.c_str(), value.c_str());
        file_written_ = true;
        if (result != 0) Fail("update failed", key);
        model_.Update(key, value);
        CheckFile("after an update");
        break;
      }
      case 4:
        CheckTypedReaders(Key(), static_cast<int8_t>(in_.Byte()));
        break;
      case 5:
        // Leftovers past the NULs must never change a result.
        model_.ScrambleLeftovers(in_.Byte() + 1);
        file_written_ = true;
        isputils_test::WriteStoreFile(model_.bytes());
        SweepLookups();
        break;
      case 6:
        // A crashed or foreign writer's leftovers at the end of the file.
        model_.AppendRaw(in_.Bytes(in_.Byte() % (PROPERTY_RECORD_SIZE + 4)));
        file_written_ = true;
        isputils_test::WriteStoreFile(model_.bytes());
        break;
      default:
        SweepLookups();
        break;
    }
  }

  void CheckFetch(const std::string& key) {
    std::string expected;
    const bool stored = model_.Fetch(key, &expected);
    char value[PROPERTY_VALUE_SIZE];
    memset(value, '#', sizeof(value));
    const int found = fetch_property(key.c_str(), value);
    if (found != (stored ? 1 : 0)) Fail("fetch_property found wrongly", key);
    if (stored && expected != std::string(value, strnlen(value, sizeof(value)))) {
      Fail("fetch_property value", key + " -> " + std::string(value, strnlen(value, sizeof(value))));
    }
    if (!stored && value[0] != '#') Fail("fetch_property wrote a value it did not find", key);
  }

  void CheckGet(const std::string& key, const std::string* fallback) {
    std::string expected = "\x01untouched";
    const int expected_result = model_.Get(key, fallback, &expected);
    char value[PROPERTY_VALUE_SIZE] = "\x01untouched";
    const int result = property_get(key.c_str(), value, fallback ? fallback->c_str() : nullptr);
    if (result != expected_result) Fail("property_get result", key);
    if (expected != std::string(value, strnlen(value, sizeof(value)))) Fail("property_get value", key);
  }

  void CheckTypedReaders(const std::string& key, int8_t fallback) {
    std::string text;
    const int length = model_.Get(key, nullptr, &text);
    // A refused key leaves the readers' zero-filled buffer: the empty text.
    if (length < 0) text.clear();
    const int32_t int32 = length != 0 ? atoi(text.c_str()) : fallback;
    const int64_t int64 = length != 0 ? atoll(text.c_str()) : fallback;
    int8_t boolean = fallback != 0 ? 1 : 0;
    if (length >= 1) {
      if (text == "0" || text == "n" || text == "no" || text == "false" || text == "off") boolean = 0;
      if (text == "1" || text == "y" || text == "yes" || text == "true" || text == "on") boolean = 1;
    }
    if (property_get_int32(key.c_str(), fallback) != int32) Fail("property_get_int32", key);
    if (property_get_int32_remote(key.c_str(), fallback) != int32) Fail("int32_remote", key);
    if (property_get_int64(key.c_str(), fallback) != int64) Fail("property_get_int64", key);
    if (property_get_bool(key.c_str(), fallback) != boolean) Fail("property_get_bool", key);
  }

  void SweepLookups() {
    for (size_t i = 0; i < model_.whole_records(); ++i) CheckFetch(model_.KeyText(i));
    CheckFile("after lookups");
  }

  void CheckFile(const char* when) {
    const std::string difference = model_.Reconcile(isputils_test::ReadStoreFile());
    if (!difference.empty()) Fail(when, difference);
  }

  Input& in_;
  isputils_test::StoreModel model_;
  bool file_written_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::EnterPrivateRunOrFail();
  // The readers print "invalid key length" for every over-long key.
  if (freopen("/dev/null", "w", stdout) == nullptr) Fail("freopen", "stdout");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint16_t header = static_cast<uint16_t>(in.Byte() | in.Byte() << 8);
  unlink(kStoragePath);
  isputils_test::StoreModel model;
  if ((header & 0x8000) == 0) {
    model = isputils_test::StoreModel(in.Bytes((header & 0x7fff) % (kMaxInitialFile + 1)));
    isputils_test::WriteStoreFile(model.bytes());
  }
  Session session(&in, model);
  session.Run();
  // Lookups never create the file; only updates and this target's own
  // writes do.
  if ((header & 0x8000) != 0 && !session.file_written() && access(kStoragePath, F_OK) == 0) {
    Fail("a lookup created the storage file", "");
  }
  return 0;
}
