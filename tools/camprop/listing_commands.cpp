// camprop list and check: every whole record in file order, including the
// ones no lookup can reach, with its defects: a key stored twice (the later
// records are never read or updated), a field whose NUL was overwritten, a
// cut-off record at the end. The store tolerates every one of them, but
// each means data that no lookup returns as it was written. Both work from
// a snapshot and print after the lock is released: a pager may keep the
// output waiting for as long as the operator likes.
#include <stdio.h>

#include "property_store/internal/snapshot.h"
#include "property_store/internal/status_text.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/output.h"

namespace camprop {
namespace {

using propstore::Record;

const char* Plural(uint64_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

// Calls visit(index, record, first) for each record of `snapshot`, `first`
// being the index of the record whose key it repeats, or -1, then
// run(first, last) for the records of zero bytes that repeat it, if any;
// indices are the file's. Returns false when output failed.
template <typename Visit, typename Run>
bool ForEachRecord(const propstore::Snapshot& snapshot, Visit visit, Run run) {
  auto duplicate = snapshot.duplicates.begin();
  auto zeros = snapshot.zero_runs.begin();
  for (size_t i = 0; i < snapshot.records.size(); ++i) {
    long long first = -1;
    if (duplicate != snapshot.duplicates.end() && duplicate->index == i) {
      first = static_cast<long long>(snapshot.FileIndex((duplicate++)->first));
    }
    const uint64_t at = snapshot.FileIndex(i);
    visit(at, snapshot.records[i], first);
    if (zeros != snapshot.zero_runs.end() && zeros->index == i && (zeros++)->more != 0) {
      run(at + 1, at + zeros[-1].more);
    }
    if (OutputFailed()) return false;
  }
  return true;
}

// A snapshot for list and check, or the exit status of a store they cannot
// read (-1 when it was read; kRead leaves what was read to be shown first).
int Take(const Context& context, propstore::Snapshot* snapshot, propstore::Status* status) {
  *status = propstore::TakeSnapshot(context.store, snapshot);
  if (status->ok() || status->missing() || status->code() == propstore::Status::Code::kRead) {
    return -1;
  }
  Complain("%s", propstore::ReadFailure(*status).c_str());
  return kExitFailed;
}

// What was read before an error is shown; the command still fails.
int ReadError(const propstore::Status& status) {
  Complain("%s", propstore::ReadFailure(status).c_str());
  return kExitFailed;
}

}  // namespace

int RunList(const Context& context) {
  propstore::Snapshot snapshot;
  propstore::Status status;
  if (const int exit = Take(context, &snapshot, &status); exit >= 0) return exit;
  if (status.missing()) {
    Complain("%s: %s", propstore::Reason(status).c_str(), propstore::MissingContent(status));
    return kExitOk;
  }
  bool damaged = !snapshot.duplicates.empty() || snapshot.tail_bytes != 0;
  const bool printed = ForEachRecord(snapshot, [&](uint64_t i, const Record& record, long long first) {
    printf("#%llu [", static_cast<unsigned long long>(i));
    PrintEscaped(stdout, KeyText(record));
    fputs("]: [", stdout);
    PrintEscaped(stdout, ValueText(record));
    fputc(']', stdout);
    if (first >= 0) printf("  (duplicate of #%lld: never read or updated)", first);
    if (propstore::KeyLacksNul(record)) fputs("  (key has no NUL: no lookup reaches it)", stdout);
    if (propstore::ValueLacksNul(record)) {
      printf("  (value has no NUL: reads as its first %d bytes)", PROPERTY_VALUE_SIZE - 1);
    }
    fputc('\n', stdout);
    damaged = damaged || propstore::KeyLacksNul(record) || propstore::ValueLacksNul(record);
  }, [&](uint64_t first, uint64_t last) {
    printf("#%llu-#%llu: %llu more records of zero bytes like #%llu (a hole of a sparse "
           "file): never read or updated\n", static_cast<unsigned long long>(first),
           static_cast<unsigned long long>(last),
           static_cast<unsigned long long>(last - first + 1),
           static_cast<unsigned long long>(first - 1));
    damaged = true;
  });
  if (!printed) return kExitFailed;
  if (!status.ok()) return ReadError(status);
  if (snapshot.tail_bytes != 0) {
    printf("-- partial record of %llu %s at offset %zu: ignored, overwritten by the next new key\n",
           static_cast<unsigned long long>(snapshot.tail_bytes),
           Plural(snapshot.tail_bytes, "byte", "bytes"),
           static_cast<size_t>(snapshot.file_records() * sizeof(Record)));
  }
  // Every record is shown all the same; the status says the file is not as
  // the store writes it, as check's does.
  return damaged ? kExitFailed : kExitOk;
}

int RunCheck(const Context& context) {
  propstore::Snapshot snapshot;
  propstore::Status status;
  if (const int exit = Take(context, &snapshot, &status); exit >= 0) return exit;
  if (status.missing()) {
    printf("%s: %s\n", propstore::Reason(status).c_str(), propstore::MissingContent(status));
    return propstore::CanBeCreated(status) ? kExitOk : kExitFailed;
  }
  uint64_t problems = 0;
  const bool printed = ForEachRecord(snapshot, [&](uint64_t at, const Record& record, long long first) {
    const unsigned long long i = at;
    if (propstore::KeyLacksNul(record)) {
      printf("record #%llu: key field has no NUL within its %d bytes\n", i, PROPERTY_KEY_SIZE);
      ++problems;
    }
    if (propstore::ValueLacksNul(record)) {
      printf("record #%llu: value field has no NUL within its %d bytes\n", i, PROPERTY_VALUE_SIZE);
      ++problems;
    }
    if (first >= 0) {
      printf("record #%llu: key [", i);
      PrintEscaped(stdout, KeyText(record));
      printf("] repeats record #%lld; this record is never read or updated\n", first);
      ++problems;
    }
  }, [&](uint64_t first, uint64_t last) {
    printf("records #%llu to #%llu: zero bytes, repeating record #%llu; never read or "
           "updated\n", static_cast<unsigned long long>(first),
           static_cast<unsigned long long>(last), static_cast<unsigned long long>(first - 1));
    ++problems;
  });
  if (!printed) return kExitFailed;
  if (!status.ok()) return ReadError(status);
  const uint64_t records = snapshot.file_records();
  const unsigned long long whole_bytes = records * sizeof(Record);
  const unsigned long long tail = snapshot.tail_bytes;
  if (tail != 0) {
    printf("partial record: %llu %s at offset %llu (not a record; the next new key "
           "overwrites it)\n",
           tail, Plural(tail, "byte", "bytes"), whole_bytes);
    ++problems;
  }
  const unsigned long long bytes = whole_bytes + tail;
  printf("%s: %llu %s, %zu %s: ", context.store.path(), bytes, Plural(bytes, "byte", "bytes"),
         static_cast<size_t>(records), Plural(records, "record", "records"));
  if (problems == 0) {
    printf("ok\n");
    return kExitOk;
  }
  printf("damaged (%llu %s)\n", static_cast<unsigned long long>(problems),
         Plural(problems, "problem", "problems"));
  return kExitFailed;
}

}  // namespace camprop
