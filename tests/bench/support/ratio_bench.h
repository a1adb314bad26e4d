// What every benchmark program of the tree shares: one main() that keeps the
// property store private, runs Google Benchmark and then prints a table of
// ratios, each operation's time against a baseline measured in the same run
// at the same argument. The project states its speed targets as such
// ratios, never as absolute times, which vary from machine to machine.
// A program whose runs measure more than one time (the percentiles of the
// waits inside one run) reports them as counters, which a second table
// prints with the bounds they are held to.
//
// Thread-safety: RunBenchmarks is the whole program; call it from main().
#ifndef TESTS_BENCH_SUPPORT_RATIO_BENCH_H_
#define TESTS_BENCH_SUPPORT_RATIO_BENCH_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace isputils_bench {

// One row per argument of the ratio table: `measured` against `baseline`,
// both benchmark function names ("BM_GetHit", "BM_Floor"). Intentionally
// copyable.
struct Comparison {
  const char* measured;
  const char* baseline;
  double target = 0.0;         // the ratio to meet; 0: none
  const char* only = nullptr;  // the arguments it is for ("10 100"); null: every one
};

// A column of the counter table: a counter as the benchmarks name it in
// state.counters, its heading, and the digits shown after the point.
// Intentionally copyable.
struct CounterColumn {
  const char* counter;
  const char* heading;
  int decimals = 3;
};

// A bound that one counter of one benchmark keeps, at the arguments given.
// Intentionally copyable.
struct CounterBound {
  const char* function;        // "BM_PendingLockReaders"
  const char* counter;         // "p99_ms"
  double most;                 // met when the counter is at most this
  const char* only = nullptr;  // the arguments it is for ("2/100 8/100"); null: every one
};

// How a program's benchmarks are run and compared. Intentionally copyable.
struct BenchPlan {
  std::vector<Comparison> comparisons;
  // The counter table, printed after the ratios when there are columns: one
  // row per benchmark and argument, from the medians of the repetitions
  // (or the single runs without them), with the first bound that applies.
  std::vector<CounterColumn> counter_columns;
  std::vector<CounterBound> counter_bounds;
  // Throughput ratios (baseline time over operation time: higher is better)
  // instead of time ratios (operation over baseline: lower is better).
  bool throughput = false;
  // CPU time instead of wall time, for operations so short that the moments
  // a shared machine gives to other processes would dominate.
  bool cpu_time = false;
  // Also print each operation's time divided by its argument, with this
  // column heading ("ns per record"); null for none.
  const char* per_argument = nullptr;
  // False for benchmarks that never reach the property store: they run
  // where no private /run can be had too.
  bool uses_store = true;
  // Runs in the private /run before the benchmarks; returns false, after
  // saying why on standard error, to stop the program.
  bool (*set_up)() = nullptr;
};

// The main() of a benchmark program: moves into a private /run (the store's
// fixed path is the program's own; the machine's is never touched; without
// one, a plan that uses the store stops there), runs
// the benchmarks that the command line selects with the console's usual
// output, then prints `plan`'s ratio table, and its counter table if it has
// one, from the medians (or from the single runs without repetitions).
// Arguments are listed in numeric order, "2/1000" after "2/100" and before
// "8/100". Returns the process exit status.
int RunBenchmarks(int argc, char** argv, const BenchPlan& plan);

// The key of record `index` of a store that FillStore laid down.
std::string BenchKey(int64_t index);

// Replaces the store with exactly `records` records, keys BenchKey(0...),
// so that every benchmark starts alike.
void FillStore(int64_t records);

}  // namespace isputils_bench

#endif  // TESTS_BENCH_SUPPORT_RATIO_BENCH_H_
