// How long a writer waits for the store while other processes keep looking
// up a key that is not stored (the commonest lookup: the log level and most
// debug switches are unset). Reader processes loop on that lookup; this
// process, the writer, times one property_set every 2 ms, kUpdates of them
// at most, through a window of at most kWindowNs. Each row runs twice,
// with the same writer beside two kinds of readers:
//  - FlockOnlyReaders: the protocol of earlier builds, which a process that
//    knows nothing of the pending lock still follows: open, flock(LOCK_SH),
//    one pread of the whole file, a scan for the key, close;
//  - PendingLockReaders: property_get, which waits while a writer holds the
//    pending lock before it asks for its shared lock.
// The arguments are readers/records.
//
// Each window is one iteration of Google Benchmark, its manual time the
// window's 99th percentile wait, the figure the target is about: so the
// console's time column and the medians of repetitions are the p99. The
// other figures of a window (p50, max, updates made, lookups) are counters,
// which the shared main's counter table prints with the target (p99 at
// most 10 ms) marked at the rows it applies to. Registered per row, the
// flock-only readers first: without random interleaving too, the two
// kinds of readers take turns.
//
// The store is the system's, used through the C API, in the private /run
// that the shared main provides: the calls the issue timed, on a tmpfs, as
// on the device. (The engine on a temporary directory runs the same code,
// property_get being a lookup of the engine, but on $TMPDIR's file system,
// whose writes the writer would time too.)
//
// Readers of the old protocol can keep the writer out for many seconds. The
// window ends all the same: a second after its end the readers stop, the
// update still waiting goes through, and its wait (a lower bound) is
// counted; `cut` tells whether a window ended so. Besides the median that
// the tables show, the console gives each figure's worst repetition
// ("_max" rows): the waits vary from one window to the next.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "propstore/properties.h"
#include "tests/bench/support/ratio_bench.h"
#include "tests/support/private_run.h"

namespace {

using isputils_bench::BenchKey;
using isputils_bench::FillStore;
using isputils_test::kStoragePath;

// A smoke run (BENCHMARK_MIN_TIME under a tenth of a second, as the test
// of the documented commands sets it to keep them working) makes short
// windows of a few updates: every row runs, and its figures mean nothing.
const bool kSmokeRun = [] {
  const char* min_time = getenv("BENCHMARK_MIN_TIME");
  return min_time != nullptr && strtod(min_time, nullptr) < 0.1;
}();

const int kUpdates = kSmokeRun ? 10 : 1000;
constexpr int64_t kPeriodNs = 2 * 1000 * 1000;
const int64_t kWindowNs = kSmokeRun ? 50 * 1000 * 1000 : 4 * 1000 * 1000 * 1000LL;
// How long the readers go on after the window, so that the update under
// way at its end ends as it would have; one still waiting then is cut.
const int64_t kGraceNs = kSmokeRun ? 50 * 1000 * 1000 : 1000 * 1000 * 1000;
// The readers run this long before the window opens, so that it sees them
// in their stride.
constexpr int64_t kWarmUpNs = 50 * 1000 * 1000;
constexpr char kMissingKey[] = "bench.missing";

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepUntil(int64_t ns) {
  const timespec until = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// What the writer and its readers share, in memory mapped into all of them.
struct Shared {
  std::atomic<int> ready{0};
  std::atomic<int> stop{0};
  std::atomic<int64_t> start_ns{INT64_MAX};
  std::atomic<int64_t> deadline_ns{INT64_MAX};
  std::atomic<int64_t> lookups{0};
};
static_assert(std::atomic<int64_t>::is_always_lock_free, "shared between processes");

enum class Readers { kFlockOnly, kPendingLock };

// The lookup of earlier builds. Returns whether the key was found.
bool FlockOnlyLookup(std::vector<char>* whole) {
  const int fd = open(kStoragePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool found = false;
  if (flock(fd, LOCK_SH) == 0) {
    const ssize_t got = pread(fd, whole->data(), whole->size(), 0);
    for (ssize_t at = 0; at + PROPERTY_RECORD_SIZE <= got && !found; at += PROPERTY_RECORD_SIZE) {
      found = strncmp(whole->data() + at, kMissingKey, PROPERTY_KEY_SIZE) == 0;
    }
  }
  close(fd);
  return found;
}

// A reader process: looks the missing key up until told to stop or the
// window and its grace end, counting the lookups made in them. Never
// returns.
[[noreturn]] void ReadUntilStopped(Readers readers, int64_t records, Shared* shared) {
  std::vector<char> whole(static_cast<size_t>(records + 1) * PROPERTY_RECORD_SIZE);
  char value[PROPERTY_VALUE_SIZE];
  int64_t lookups = 0;
  shared->ready.fetch_add(1);
  for (;;) {
    const int64_t now = NowNs();
    if (shared->stop.load(std::memory_order_relaxed) != 0 ||
        now >= shared->deadline_ns.load(std::memory_order_relaxed)) {
      break;
    }
    if (readers == Readers::kFlockOnly) {
      benchmark::DoNotOptimize(FlockOnlyLookup(&whole));
    } else {
      benchmark::DoNotOptimize(property_get(kMissingKey, value, nullptr));
    }
    if (now >= shared->start_ns.load(std::memory_order_relaxed)) ++lookups;
  }
  shared->lookups.fetch_add(lookups);
  _exit(0);
}

// The waits of one window, and how it ended.
struct Window {
  std::vector<int64_t> waits_ns;
  int64_t length_ns = 0;
  bool cut = false;
  bool failed = false;
};

// The writer: an update every kPeriodNs (those whose time passed during a
// long wait are skipped, not made up) until kUpdates are done or the window
// ends.
Window TimeUpdates(const std::string& key, Shared* shared) {
  Window window;
  window.waits_ns.reserve(kUpdates);
  const int64_t start = NowNs();
  const int64_t deadline = start + kWindowNs;
  shared->deadline_ns.store(deadline + kGraceNs);
  shared->start_ns.store(start);
  int64_t next = start;
  for (int i = 0; i < kUpdates; ++i) {
    const int64_t before = NowNs();
    if (before >= deadline) break;
    window.failed |= property_set(key.c_str(), i % 2 == 0 ? "even-update" : "odd-update") != 0;
    const int64_t after = NowNs();
    window.waits_ns.push_back(after - before);
    if (after >= deadline + kGraceNs) {
      window.cut = true;
      break;
    }
    next += kPeriodNs;
    if (next <= after) next += (after - next) / kPeriodNs * kPeriodNs + kPeriodNs;
    SleepUntil(next);
  }
  window.length_ns = NowNs() - start;
  return window;
}

// Nearest rank: the smallest wait that at least `fraction` of them do not
// exceed. REQUIRES: `sorted` is sorted and not empty.
double PercentileMs(const std::vector<int64_t>& sorted, double fraction) {
  size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999999);
  rank = std::min(std::max<size_t>(rank, 1), sorted.size());
  return static_cast<double>(sorted[rank - 1]) / 1e6;
}

void RunWindow(benchmark::State& state, Readers kind) {
  const int readers = static_cast<int>(state.range(0));
  const int64_t records = state.range(1);
  FillStore(records);
  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    state.SkipWithError("mmap failed");
    for (auto _ : state) {
    }
    return;
  }
  Shared* shared = new (memory) Shared();
  std::vector<pid_t> children;
  for (int i = 0; i < readers; ++i) {
    const pid_t child = fork();
    if (child == 0) ReadUntilStopped(kind, records, shared);
    if (child > 0) children.push_back(child);
  }
  // A reader that dies before it is ready fails the run below.
  for (int ms = 0; ms < 10000 && shared->ready.load() < static_cast<int>(children.size()); ++ms) {
    SleepUntil(NowNs() + 1000000);
  }
  SleepUntil(NowNs() + kWarmUpNs);

  Window window;
  for (auto _ : state) {
    window = TimeUpdates(BenchKey(records - 1), shared);
    std::sort(window.waits_ns.begin(), window.waits_ns.end());
    state.SetIterationTime(window.waits_ns.empty() ? 0.0
                                                   : PercentileMs(window.waits_ns, 0.99) / 1e3);
  }
  shared->stop.store(1);
  bool readers_sound = true;
  for (const pid_t child : children) {
    int status = 0;
    readers_sound &=
        waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const int64_t lookups = shared->lookups.load();
  munmap(memory, sizeof(Shared));

  if (children.size() != static_cast<size_t>(readers) || !readers_sound) {
    state.SkipWithError("a reader process could not be started or failed");
  } else if (window.failed) {
    state.SkipWithError("property_set failed");
  } else if (window.waits_ns.empty()) {
    state.SkipWithError("no update was made");
  } else {
    state.counters["updates"] = static_cast<double>(window.waits_ns.size());
    state.counters["cut"] = window.cut ? 1 : 0;
    state.counters["p50_ms"] = PercentileMs(window.waits_ns, 0.50);
    state.counters["p99_ms"] = PercentileMs(window.waits_ns, 0.99);
    state.counters["max_ms"] = static_cast<double>(window.waits_ns.back()) / 1e6;
    state.counters["klookups_s"] =
        static_cast<double>(lookups) / (static_cast<double>(window.length_ns) / 1e9) / 1e3;
  }
}

void BM_FlockOnlyReaders(benchmark::State& state) { RunWindow(state, Readers::kFlockOnly); }
void BM_PendingLockReaders(benchmark::State& state) { RunWindow(state, Readers::kPendingLock); }

// readers/records; 4 readers on 1,000 records as the issue measured them.
constexpr int64_t kRows[][2] = {{0, 100},  {2, 100},  {8, 100}, {0, 1000},
                                {2, 1000}, {4, 1000}, {8, 1000}};

void RegisterRows() {
  for (const auto& row : kRows) {
    for (const auto& [name, function] :
         {std::make_pair("BM_FlockOnlyReaders", BM_FlockOnlyReaders),
          std::make_pair("BM_PendingLockReaders", BM_PendingLockReaders)}) {
      benchmark::RegisterBenchmark(name, function)
          ->Args({row[0], row[1]})
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->ComputeStatistics("max", [](const std::vector<double>& values) {
            return *std::max_element(values.begin(), values.end());
          });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterRows();
  isputils_bench::BenchPlan plan;
  plan.comparisons = {{"BM_PendingLockReaders", "BM_FlockOnlyReaders"}};
  plan.counter_columns = {{"updates", "updates", 0}, {"cut", "cut", 0},
                          {"p50_ms", "p50 (ms)", 3}, {"p99_ms", "p99 (ms)", 3},
                          {"max_ms", "max (ms)", 3}, {"klookups_s", "klookups/s", 1}};
  plan.counter_bounds = {{"BM_PendingLockReaders", "p99_ms", 10.0, "2/100 8/100 2/1000 8/1000"}};
  return isputils_bench::RunBenchmarks(argc, argv, plan);
}
