// camprop check: validates the storage file. The store tolerates every
// defect reported here, but each one means data that no lookup returns as it
// was written: a cut-off record, a field whose NUL was overwritten, or a key
// stored twice (the later records are never read or updated).
#include <stdio.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/duplicate_keys.h"
#include "tools/camprop/record_fields.h"

namespace camprop {
namespace {

class Checker : public RecordVisitor {
 public:
  bool Visit(uint64_t index, const propstore::Record& record) override {
    const unsigned long long number = index;
    if (KeyLacksNul(record)) {
      printf("record #%llu: key field has no NUL within its %d bytes\n", number,
             PROPERTY_KEY_SIZE);
      ++problems_;
    }
    if (ValueLacksNul(record)) {
      printf("record #%llu: value field has no NUL within its %d bytes\n", number,
             PROPERTY_VALUE_SIZE);
      ++problems_;
    }
    const std::string key = KeyText(record);
    uint64_t first = 0;
    if (duplicates_.Repeats(key, index, &first)) {
      printf("record #%llu: key [", number);
      PrintEscaped(stdout, key);
      printf("] repeats record #%llu; this record is never read or updated\n",
             static_cast<unsigned long long>(first));
      ++problems_;
    }
    return true;
  }

  uint64_t problems() const { return problems_; }

 private:
  DuplicateKeys duplicates_;
  uint64_t problems_ = 0;
};

}  // namespace

int RunCheck() {
  Checker checker;
  const ScanResult result = ScanStore(&checker);
  const char* path = propstore::kStoragePath;
  if (result.status == ScanStatus::kNoFile) {
    printf("%s: does not exist; the store is empty\n", path);
    return kExitOk;
  }
  if (result.status != ScanStatus::kOk) return ReportScanFailure(result);

  uint64_t problems = checker.problems();
  const unsigned long long whole_bytes = result.whole_records * PROPERTY_RECORD_SIZE;
  if (result.tail_bytes != 0) {
    printf("partial record: %zu bytes at offset %llu (not a record; the next new key "
           "overwrites it)\n",
           result.tail_bytes, whole_bytes);
    ++problems;
  }
  printf("%s: %llu bytes, %llu records: ", path, whole_bytes + result.tail_bytes,
         static_cast<unsigned long long>(result.whole_records));
  if (problems == 0) {
    printf("ok\n");
    return kExitOk;
  }
  printf("damaged (%llu %s)\n", static_cast<unsigned long long>(problems),
         problems == 1 ? "problem" : "problems");
  return kExitFailed;
}

}  // namespace camprop
