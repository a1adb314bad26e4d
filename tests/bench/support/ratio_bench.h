// What every benchmark program of the tree shares: one main() that keeps the
// property store private, runs Google Benchmark and then prints a table of
// ratios, each operation's time against a baseline measured in the same run
// at the same argument. The project states its speed targets as such
// ratios, never as absolute times, which vary from machine to machine.
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

// How a program's benchmarks are run and compared. Intentionally copyable.
struct BenchPlan {
  std::vector<Comparison> comparisons;
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
// output, then prints `plan`'s ratio table from the medians (or from the
// single runs without repetitions). Returns the process exit status.
int RunBenchmarks(int argc, char** argv, const BenchPlan& plan);

// The key of record `index` of a store that FillStore laid down.
std::string BenchKey(int64_t index);

// Replaces the store with exactly `records` records, keys BenchKey(0...),
// so that every benchmark starts alike.
void FillStore(int64_t records);

}  // namespace isputils_bench

#endif  // TESTS_BENCH_SUPPORT_RATIO_BENCH_H_
