// camprop list: every whole record in file order, including the ones no
// lookup can reach, so an engineer sees the file as the store sees it. The
// records are printed from a snapshot, after the lock is released: a pager
// may keep the output waiting for as long as the operator likes.
#include <stdio.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/duplicate_keys.h"
#include "tools/camprop/missing_store.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/snapshot.h"
#include "tools/camprop/standard_output.h"

namespace camprop {
namespace {

// Prints one record with its defects marked; returns whether it has any.
bool PrintRecord(uint64_t index, const propstore::Record& record, DuplicateKeys* duplicates) {
  const std::string key = KeyText(record);
  printf("#%llu [", static_cast<unsigned long long>(index));
  PrintEscaped(stdout, key);
  fputs("]: [", stdout);
  PrintEscaped(stdout, ValueText(record));
  fputc(']', stdout);
  uint64_t first = 0;
  const bool duplicate = duplicates->Repeats(key, index, &first);
  if (duplicate) {
    printf("  (duplicate of #%llu: never read or updated)",
           static_cast<unsigned long long>(first));
  }
  if (KeyLacksNul(record)) fputs("  (key has no NUL: no lookup reaches it)", stdout);
  if (ValueLacksNul(record)) {
    printf("  (value has no NUL: reads as its first %d bytes)", PROPERTY_VALUE_SIZE - 1);
  }
  fputc('\n', stdout);
  return duplicate || KeyLacksNul(record) || ValueLacksNul(record);
}

}  // namespace

int RunList() {
  const Snapshot snapshot = TakeSnapshot();
  const ScanResult& scan = snapshot.scan;
  if (StoreIsMissing(scan)) {
    const MissingStore why = DiagnoseMissingStore();
    Complain("%s: %s", DescribeMissingStore(why), DescribeMissingStoreContent(why));
    return kExitOk;
  }
  if (scan.status != ScanStatus::kOk && scan.status != ScanStatus::kReadFailed) {
    return ReportScanFailure(scan);
  }
  DuplicateKeys duplicates;
  bool damaged = false;
  for (size_t i = 0; i < snapshot.records.size(); ++i) {
    damaged = PrintRecord(i, snapshot.records[i], &duplicates) || damaged;
    if (OutputFailed()) return kExitFailed;
  }
  // What was read before the error is shown; the command still fails.
  if (scan.status == ScanStatus::kReadFailed) return ReportScanFailure(scan);
  if (scan.tail_bytes != 0) {
    printf("-- partial record of %zu %s at offset %llu: ignored, overwritten by the "
           "next new key\n",
           scan.tail_bytes, scan.tail_bytes == 1 ? "byte" : "bytes",
           static_cast<unsigned long long>(scan.whole_records * PROPERTY_RECORD_SIZE));
    damaged = true;
  }
  // Every record is shown all the same; the status says the file is not
  // as the store writes it, as check's does.
  return damaged ? kExitFailed : kExitOk;
}

}  // namespace camprop
