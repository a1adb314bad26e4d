// How long camprop holds the store's shared lock, the time every camera
// process that wants to update a property may have to wait. Three ways of
// reading the whole file, each timed from the lock taken to its release:
//  - RawFloor: one read of the whole file into a buffer made beforehand;
//  - Snapshot: what list, check and watch do, the engine's TakeSnapshot
//    copying every record;
//  - PrintUnderLock: what list did before, formatting every record while
//    the lock is held (here in TakeSnapshot's under_lock callback, to
//    /dev/null, a reader that never stalls: a pager can stretch this
//    without bound).
// The summary prints each median as a ratio to the raw floor at the same
// size.
//
// The engine reports no timing of its own; the lock is timed through its
// table of C-library calls: a copy of the system's whose flock notes when
// the lock is granted and whose close notes when the locked descriptor,
// and with it the lock, is let go.
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
#include "property_store/internal/snapshot.h"
#include "property_store/internal/store.h"
#include "property_store/internal/syscalls.h"
#include "propstore/properties.h"
#include "tests/bench/support/ratio_bench.h"
#include "tests/support/private_run.h"
#include "tools/camprop/output.h"

namespace {

using isputils_bench::FillStore;
using isputils_test::kStorageDir;
using isputils_test::kStoragePath;

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The descriptor the last lock was granted on, when, and how long the last
// lock was held. The benchmarks run on one thread.
int gLockedFd = -1;
int64_t gLockedAtNs = 0;
int64_t gHeldNs = 0;

int TimedFlock(int fd, int operation) {
  const int result = propstore::kSystemCalls.flock(fd, operation);
  if (result == 0 && (operation & (LOCK_SH | LOCK_EX)) != 0) {
    gLockedFd = fd;
    gLockedAtNs = NowNs();
  }
  return result;
}

int TimedClose(int fd) {
  const int result = propstore::kSystemCalls.close(fd);
  if (fd == gLockedFd) {
    gHeldNs = NowNs() - gLockedAtNs;
    gLockedFd = -1;
  }
  return result;
}

// The system's calls with the two above in place. Made on first use: the
// system's table is another unit's constant.
const propstore::Syscalls& TimedCalls() {
  static const propstore::Syscalls calls = [] {
    propstore::Syscalls timed = propstore::kSystemCalls;
    timed.flock = TimedFlock;
    timed.close = TimedClose;
    return timed;
  }();
  return calls;
}

propstore::Options TimedOptions() {
  propstore::Options options;
  options.calls = &TimedCalls();
  return options;
}

void BM_RawFloor(benchmark::State& state) {
  FillStore(state.range(0));
  std::vector<char> whole(static_cast<size_t>(state.range(0)) * PROPERTY_RECORD_SIZE + 1);
  for (auto _ : state) {
    const int fd = open(kStoragePath, O_RDONLY | O_CLOEXEC);
    flock(fd, LOCK_SH);
    const int64_t locked = NowNs();
    size_t done = 0;
    while (done < whole.size()) {
      const ssize_t got = pread(fd, whole.data() + done, whole.size() - done, done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    close(fd);
    state.SetIterationTime(static_cast<double>(NowNs() - locked) / 1e9);
  }
}

void BM_Snapshot(benchmark::State& state) {
  FillStore(state.range(0));
  const propstore::Store store(kStorageDir, TimedOptions());
  for (auto _ : state) {
    propstore::Snapshot snapshot;
    gHeldNs = 0;
    const propstore::Status status = propstore::TakeSnapshot(store, &snapshot);
    if (!status.ok() || snapshot.records.size() != static_cast<size_t>(state.range(0))) {
      state.SkipWithError("short snapshot");
    }
    state.SetIterationTime(static_cast<double>(gHeldNs) / 1e9);
  }
}

// list's former way: each record formatted while the lock is held.
void PrintRecords(FILE* out, const std::vector<propstore::Record>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    fprintf(out, "#%zu [", i);
    camprop::PrintEscaped(out, camprop::KeyText(records[i]));
    fputs("]: [", out);
    camprop::PrintEscaped(out, camprop::ValueText(records[i]));
    fputs("]\n", out);
  }
}

void BM_PrintUnderLock(benchmark::State& state) {
  FillStore(state.range(0));
  const propstore::Store store(kStorageDir, TimedOptions());
  FILE* sink = fopen("/dev/null", "we");
  for (auto _ : state) {
    propstore::Snapshot snapshot;
    gHeldNs = 0;
    // The copy is complete when the callback runs: the file did not change.
    const propstore::Status status = propstore::TakeSnapshot(
        store, &snapshot, [&snapshot, sink] { PrintRecords(sink, snapshot.records); });
    if (!status.ok() || snapshot.records.size() != static_cast<size_t>(state.range(0))) {
      state.SkipWithError("short snapshot");
    }
    state.SetIterationTime(static_cast<double>(gHeldNs) / 1e9);
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
