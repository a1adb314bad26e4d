// camprop check: validates the storage file. The store tolerates every
// defect reported here, but each one means data that no lookup returns as it
// was written: a cut-off record, a field whose NUL was overwritten, or a key
// stored twice (the later records are never read or updated). The file is
// checked from a snapshot, so its report never holds the lock.
#include <stdio.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/duplicate_keys.h"
#include "tools/camprop/missing_store.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/snapshot.h"
#include "tools/camprop/standard_output.h"

namespace camprop {
namespace {

// Prints the defects of one record; returns how many it has.
uint64_t CheckRecord(uint64_t index, const propstore::Record& record,
                     DuplicateKeys* duplicates) {
  const unsigned long long number = index;
  uint64_t problems = 0;
  if (KeyLacksNul(record)) {
    printf("record #%llu: key field has no NUL within its %d bytes\n", number,
           PROPERTY_KEY_SIZE);
    ++problems;
  }
  if (ValueLacksNul(record)) {
    printf("record #%llu: value field has no NUL within its %d bytes\n", number,
           PROPERTY_VALUE_SIZE);
    ++problems;
  }
  const std::string key = KeyText(record);
  uint64_t first = 0;
  if (duplicates->Repeats(key, index, &first)) {
    printf("record #%llu: key [", number);
    PrintEscaped(stdout, key);
    printf("] repeats record #%llu; this record is never read or updated\n",
           static_cast<unsigned long long>(first));
    ++problems;
  }
  return problems;
}

}  // namespace

int RunCheck() {
  const Snapshot snapshot = TakeSnapshot();
  const ScanResult& scan = snapshot.scan;
  if (StoreIsMissing(scan)) {
    const MissingStore why = DiagnoseMissingStore();
    printf("%s: %s\n", DescribeMissingStore(why), DescribeMissingStoreContent(why));
    return StoreCanBeCreated(why) ? kExitOk : kExitFailed;
  }
  if (scan.status != ScanStatus::kOk && scan.status != ScanStatus::kReadFailed) {
    return ReportScanFailure(scan);
  }
  DuplicateKeys duplicates;
  uint64_t problems = 0;
  for (size_t i = 0; i < snapshot.records.size(); ++i) {
    problems += CheckRecord(i, snapshot.records[i], &duplicates);
    if (OutputFailed()) return kExitFailed;
  }
  if (scan.status == ScanStatus::kReadFailed) return ReportScanFailure(scan);

  const char* path = propstore::kStoragePath;
  const unsigned long long whole_bytes = scan.whole_records * PROPERTY_RECORD_SIZE;
  if (scan.tail_bytes != 0) {
    printf("partial record: %zu %s at offset %llu (not a record; the next new key "
           "overwrites it)\n",
           scan.tail_bytes, scan.tail_bytes == 1 ? "byte" : "bytes", whole_bytes);
    ++problems;
  }
  const unsigned long long bytes = whole_bytes + scan.tail_bytes;
  printf("%s: %llu %s, %llu %s: ", path, bytes, bytes == 1 ? "byte" : "bytes",
         static_cast<unsigned long long>(scan.whole_records),
         scan.whole_records == 1 ? "record" : "records");
  if (problems == 0) {
    printf("ok\n");
    return kExitOk;
  }
  printf("damaged (%llu %s)\n", static_cast<unsigned long long>(problems),
         problems == 1 ? "problem" : "problems");
  return kExitFailed;
}

}  // namespace camprop
