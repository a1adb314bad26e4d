// camprop list: every whole record in file order, including the ones no
// lookup can reach, so an engineer sees the file as the store sees it.
#include <stdio.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/duplicate_keys.h"
#include "tools/camprop/record_fields.h"

namespace camprop {
namespace {

class Lister : public RecordVisitor {
 public:
  bool Visit(uint64_t index, const propstore::Record& record) override {
    const std::string key = KeyText(record);
    printf("#%llu [", static_cast<unsigned long long>(index));
    PrintEscaped(stdout, key);
    fputs("]: [", stdout);
    PrintEscaped(stdout, ValueText(record));
    fputc(']', stdout);
    uint64_t first = 0;
    if (duplicates_.Repeats(key, index, &first)) {
      printf("  (duplicate of #%llu: never read or updated)",
             static_cast<unsigned long long>(first));
    }
    if (KeyLacksNul(record)) fputs("  (key has no NUL: no lookup reaches it)", stdout);
    if (ValueLacksNul(record)) {
      printf("  (value has no NUL: reads as its first %d bytes)", PROPERTY_VALUE_SIZE - 1);
    }
    fputc('\n', stdout);
    return true;
  }

 private:
  DuplicateKeys duplicates_;
};

}  // namespace

int RunList() {
  Lister lister;
  const ScanResult result = ScanStore(&lister);
  if (result.status == ScanStatus::kNoFile) {
    Complain("%s does not exist: no property has been stored", propstore::kStoragePath);
    return kExitOk;
  }
  if (result.status != ScanStatus::kOk) return ReportScanFailure(result);
  if (result.tail_bytes != 0) {
    printf("-- partial record of %zu bytes at offset %llu: ignored, overwritten by the "
           "next new key\n",
           result.tail_bytes,
           static_cast<unsigned long long>(result.whole_records * PROPERTY_RECORD_SIZE));
  }
  return kExitOk;
}

}  // namespace camprop
