// How long camprop holds the store's shared lock, the time every camera
// process that wants to update a property may have to wait. Three ways of
// reading the whole file, each timed from the lock taken to its release:
//  - RawFloor: one read of the whole file into a buffer made beforehand;
//  - Snapshot: what list, check and watch do, copying every record;
//  - PrintUnderLock: what list did before, formatting every record (to
//    /dev/null, a reader that never stalls: a pager can stretch this
//    without bound).
// The summary prints each median as a ratio to the raw floor at the same
// size.
//
// Runs in a private mount namespace like the tests: the store's fixed path
// is used, the machine's /run is not.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "propstore/properties.h"
#include "tests/support/private_run.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/snapshot.h"
#include "tools/camprop/store_scan.h"

namespace {

using isputils_test::kStoragePath;

double Seconds(const timespec& from, const timespec& to) {
  return static_cast<double>(to.tv_sec - from.tv_sec) +
         static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
}

// Lays down exactly `records` records, so every benchmark starts alike.
void FillStore(int64_t records) {
  isputils_test::ResetStore();
  std::string bytes;
  bytes.reserve(static_cast<size_t>(records) * PROPERTY_RECORD_SIZE);
  for (int64_t i = 0; i < records; ++i) {
    char record[PROPERTY_RECORD_SIZE] = {};
    snprintf(record, PROPERTY_KEY_SIZE, "bench.key.%07lld", static_cast<long long>(i));
    snprintf(record + PROPERTY_KEY_SIZE, PROPERTY_VALUE_SIZE, "value-%lld",
             static_cast<long long>(i));
    bytes.append(record, sizeof(record));
  }
  isputils_test::WriteStoreFile(bytes);
}

void BM_RawFloor(benchmark::State& state) {
  FillStore(state.range(0));
  std::vector<char> whole(static_cast<size_t>(state.range(0)) * PROPERTY_RECORD_SIZE + 1);
  for (auto _ : state) {
    const int fd = open(kStoragePath, O_RDONLY | O_CLOEXEC);
    flock(fd, LOCK_SH);
    timespec locked, released;
    clock_gettime(CLOCK_MONOTONIC, &locked);
    size_t done = 0;
    while (done < whole.size()) {
      const ssize_t got = pread(fd, whole.data() + done, whole.size() - done, done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    close(fd);
    clock_gettime(CLOCK_MONOTONIC, &released);
    state.SetIterationTime(Seconds(locked, released));
  }
}

void BM_Snapshot(benchmark::State& state) {
  FillStore(state.range(0));
  for (auto _ : state) {
    const camprop::Snapshot snapshot = camprop::TakeSnapshot();
    if (snapshot.records.size() != static_cast<size_t>(state.range(0))) {
      state.SkipWithError("short snapshot");
    }
    state.SetIterationTime(static_cast<double>(snapshot.scan.lock_held_ns) / 1e9);
  }
}

// list's former visitor: each record formatted while the lock is held.
class PrintingVisitor : public camprop::RecordVisitor {
 public:
  explicit PrintingVisitor(FILE* out) : out_(out) {}
  bool Visit(uint64_t index, const propstore::Record& record) override {
    fprintf(out_, "#%llu [", static_cast<unsigned long long>(index));
    camprop::PrintEscaped(out_, camprop::KeyText(record));
    fputs("]: [", out_);
    camprop::PrintEscaped(out_, camprop::ValueText(record));
    fputs("]\n", out_);
    return true;
  }

 private:
  FILE* out_;
};

void BM_PrintUnderLock(benchmark::State& state) {
  FillStore(state.range(0));
  FILE* sink = fopen("/dev/null", "we");
  for (auto _ : state) {
    PrintingVisitor printer(sink);
    const camprop::ScanResult result = camprop::ScanStore(&printer);
    state.SetIterationTime(static_cast<double>(result.lock_held_ns) / 1e9);
  }
  fclose(sink);
}

#define STORE_SIZES Arg(1000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_RawFloor)->STORE_SIZES;
BENCHMARK(BM_Snapshot)->STORE_SIZES;
BENCHMARK(BM_PrintUnderLock)->STORE_SIZES;

// Prints the usual console output, then the medians (or the single runs
// without repetitions) as ratios to the raw floor.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool usable = run.aggregate_name.empty() ? run.repetitions <= 1
                                                     : run.aggregate_name == "median";
      if (!usable || run.error_occurred) continue;
      times_[run.run_name.args][run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\n%-8s %-16s %14s %10s\n", "records", "lock held by", "time (us)", "vs raw");
    for (const auto& [size, by_name] : times_) {
      const auto floor = by_name.find("BM_RawFloor");
      if (floor == by_name.end()) continue;
      for (const auto& [name, time] : by_name) {
        printf("%-8s %-16s %14.1f %10.2f\n", size.c_str(), name.c_str() + 3, time,
               time / floor->second);
      }
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!isputils_test::EnterPrivateRun(&error)) {
    fprintf(stderr, "cannot isolate the property store: %s\n", error.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
