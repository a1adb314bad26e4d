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

#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "propstore/properties.h"
#include "tests/bench/support/ratio_bench.h"
#include "tests/support/private_run.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/snapshot.h"
#include "tools/camprop/store_scan.h"

namespace {

using isputils_bench::FillStore;
using isputils_test::kStoragePath;

double Seconds(const timespec& from, const timespec& to) {
  return static_cast<double>(to.tv_sec - from.tv_sec) +
         static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
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

}  // namespace

int main(int argc, char** argv) {
  isputils_bench::BenchPlan plan;
  plan.comparisons = {{"BM_Snapshot", "BM_RawFloor"}, {"BM_PrintUnderLock", "BM_RawFloor"}};
  return isputils_bench::RunBenchmarks(argc, argv, plan);
}
