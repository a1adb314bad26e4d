// Cost of the platform log where it must be cheap, each against a floor
// measured in the same run:
//  - a message the level filter drops, against a call of an empty variadic
//    function in another shared library (target: within 1.5 times);
//  - a message that passes the filter but whose gate in the platform logging
//    facility refuses it, which is platform_log_print's own cost, against
//    vsnprintf of the same message into a stack buffer (target: within 1.3
//    times).
// The summary prints each median (or single-run) CPU time as a ratio to its
// floor; CPU time, because wall time also counts the moments the shared
// machine gives to other processes. Runs in a private /run so the level property stored here is not
// the machine's.
#include <stdarg.h>
#include <stdio.h>

#include "base/logging.h"
#include "tests/bench/log_service/empty_call.h"
#include "benchmark/benchmark.h"
#include "platlog/platform_log.h"
#include "propstore/properties.h"
#include "tests/bench/support/ratio_bench.h"
#include "tests/support/private_run.h"

namespace {

// Level 3: 'D' passes the filter, 'V' does not.
constexpr char kBenchLevel[] = "3";

// A message as the ISP error report sends it.
#define BENCH_MESSAGE                                                         \
  "[%s] error: the given index(%zu) is out of range(%zu) (%s){#%d:%s}", "set", \
      static_cast<size_t>(17), static_cast<size_t>(16), "set", 120,            \
      "aaa/isphal/src/utils/TuningBuffer.cpp"

__attribute__((noinline, format(printf, 1, 2))) int FormatOnStack(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  benchmark::DoNotOptimize(buffer);
  return length;
}

void BM_EmptyVariadicCall(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(empty_log_print('V', "revuvi-TuningBuffer", BENCH_MESSAGE));
  }
}

void BM_FilteredMessage(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform_log_print('V', "revuvi-TuningBuffer", BENCH_MESSAGE));
  }
}

void BM_VsnprintfOnStack(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FormatOnStack(BENCH_MESSAGE));
}

void BM_VerboseGateRefused(benchmark::State& state) {
  logging::SetVlogSwitches("0", "");
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform_log_print('D', "revuvi-TuningBuffer", BENCH_MESSAGE));
  }
}

void BM_SeverityGateRefused(benchmark::State& state) {
  logging::SetMinLogLevel(logging::LOGGING_FATAL);
  for (auto _ : state) {
    benchmark::DoNotOptimize(platform_log_print('E', "revuvi-TuningBuffer", BENCH_MESSAGE));
  }
  logging::SetMinLogLevel(logging::LOGGING_INFO);
}

BENCHMARK(BM_EmptyVariadicCall);
BENCHMARK(BM_FilteredMessage);
BENCHMARK(BM_VsnprintfOnStack);
BENCHMARK(BM_VerboseGateRefused);
BENCHMARK(BM_SeverityGateRefused);

// The level the benchmarks run at, stored before they start.
bool SetLevel() {
  isputils_test::ResetStore();
  if (property_set("persist.qvx.camera.log_level", kBenchLevel) != 0 ||
      determine_platform_log_level() != 3) {
    fprintf(stderr, "cannot set the log level for the benchmark\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  isputils_bench::BenchPlan plan;
  plan.comparisons = {{"BM_FilteredMessage", "BM_EmptyVariadicCall", 1.5},
                      {"BM_VerboseGateRefused", "BM_VsnprintfOnStack", 1.3},
                      {"BM_SeverityGateRefused", "BM_VsnprintfOnStack", 1.3}};
  plan.cpu_time = true;
  plan.set_up = SetLevel;
  return isputils_bench::RunBenchmarks(argc, argv, plan);
}
