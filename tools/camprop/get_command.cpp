// camprop get: one key's value, found as the store's lookup finds it (the
// first record whose key matches, under the shared lock). The value is
// copied and the file closed before anything is printed.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"
#include "tools/camprop/record_fields.h"

namespace camprop {
namespace {

class FirstMatch : public RecordVisitor {
 public:
  FirstMatch(const char* key, size_t key_length) : key_(key), key_length_(key_length) {}

  bool Visit(uint64_t, const propstore::Record& record) override {
    if (!propstore::KeyMatches(record, key_, key_length_)) return true;
    value_ = ValueText(record);
    found_ = true;
    return false;
  }

  bool found() const { return found_; }
  const std::string& value() const { return value_; }

 private:
  const char* key_;
  size_t key_length_;
  bool found_ = false;
  std::string value_;
};

// Scripts read the value byte for byte; a terminal would obey the escape
// sequences a stored value may hold (a retitled window, a cleared screen),
// so there control bytes are shown as \xNN instead.
void PrintValue(const std::string& text) {
  if (isatty(STDOUT_FILENO)) {
    PrintEscaped(stdout, text);
  } else {
    fwrite(text.data(), 1, text.size(), stdout);
  }
  fputc('\n', stdout);
}

}  // namespace

int RunGet(const char* key, const char* fallback) {
  const size_t key_length = strlen(key);
  if (key_length >= PROPERTY_KEY_SIZE) {
    Complain("key is %zu bytes long; a key holds at most %d bytes", key_length,
             PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  FirstMatch match(key, key_length);
  const ScanResult result = ScanStore(&match);
  const bool missing = StoreIsMissing(result);
  if (result.status != ScanStatus::kOk && !missing) return ReportScanFailure(result);
  if (match.found()) {
    PrintValue(match.value());
    return kExitOk;
  }
  if (fallback != nullptr) {
    PrintValue(std::string(fallback, strnlen(fallback, PROPERTY_VALUE_SIZE - 1)));
    return kExitOk;
  }
  if (missing) {
    Complain("%s is not set: %s", key, DescribeMissingStore(DiagnoseMissingStore()));
  } else {
    Complain("%s is not set", key);
  }
  return kExitFailed;
}

}  // namespace camprop
