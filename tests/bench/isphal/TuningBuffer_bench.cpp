// Throughput of TuningBuffer's block operations against the C library doing
// the same work in the same run: copy assignment between owning buffers of
// equal count (storage reused), copyData and getChunk against memcpy, and
// operator== of equal contents against memcmp, at 1 KiB, 64 KiB and 4 MiB.
// The summary prints each operation's throughput as a ratio to its
// baseline's at the same size; the target is at least 0.9. The machine is
// shared and memory-bound runs are noisy: run with repetitions and random
// interleaving, e.g. "tuning_buffer_bench --benchmark_repetitions=9
// --benchmark_enable_random_interleaving=true".
//
// Nothing here reports or touches the property store.
#include <stdio.h>
#include <string.h>

#include <vector>

#include "benchmark/benchmark.h"
#include "isphal/TuningBuffer.h"
#include "tests/bench/support/ratio_bench.h"

namespace {

using qvx::isphal::TuningBuffer;

size_t WordsOf(const benchmark::State& state) {
  return static_cast<size_t>(state.range(0)) / sizeof(uint32_t);
}

// An owning buffer with every word set, so that no page is left untouched.
TuningBuffer Filled(size_t words, uint32_t seed) {
  TuningBuffer buffer(words);
  for (size_t i = 0; i < words; ++i) buffer.getData()[i] = seed + static_cast<uint32_t>(i);
  return buffer;
}

void Account(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The baselines work on buffers' own storage, so that both sides see the
// same allocation, alignment and page state.
void BM_Memcpy(benchmark::State& state) {
  const TuningBuffer source = Filled(WordsOf(state), 1);
  TuningBuffer destination = Filled(WordsOf(state), 2);
  uint32_t* to = destination.getData();
  const uint32_t* from = source.getData();
  const size_t bytes = source.getCount() * sizeof(uint32_t);
  for (auto _ : state) {
    memcpy(to, from, bytes);
    benchmark::DoNotOptimize(to);
    benchmark::ClobberMemory();
  }
  Account(state);
}

void BM_Memcmp(benchmark::State& state) {
  const TuningBuffer left = Filled(WordsOf(state), 1);
  const TuningBuffer right = Filled(WordsOf(state), 1);
  const uint32_t* first = left.getData();
  const uint32_t* second = right.getData();
  const size_t bytes = left.getCount() * sizeof(uint32_t);
  for (auto _ : state) {
    benchmark::DoNotOptimize(memcmp(first, second, bytes));
    benchmark::ClobberMemory();
  }
  Account(state);
}

void BM_CopyAssign(benchmark::State& state) {
  const TuningBuffer source = Filled(WordsOf(state), 1);
  TuningBuffer destination = Filled(WordsOf(state), 2);
  for (auto _ : state) {
    destination = source;
    benchmark::DoNotOptimize(destination.getData());
    benchmark::ClobberMemory();
  }
  if (!destination.hasStorage() || destination != source) state.SkipWithError("copy failed");
  Account(state);
}

void BM_CopyData(benchmark::State& state) {
  const TuningBuffer source = Filled(WordsOf(state), 1);
  TuningBuffer destination = Filled(WordsOf(state), 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(destination.copyData(source));
    benchmark::ClobberMemory();
  }
  Account(state);
}

void BM_GetChunk(benchmark::State& state) {
  const TuningBuffer source = Filled(WordsOf(state), 1);
  TuningBuffer destination = Filled(WordsOf(state), 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        source.getChunk(0, destination.getCount(), destination.getData()));
    benchmark::ClobberMemory();
  }
  Account(state);
}

void BM_Equal(benchmark::State& state) {
  const TuningBuffer left = Filled(WordsOf(state), 1);
  const TuningBuffer right = Filled(WordsOf(state), 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(left == right);
    benchmark::ClobberMemory();
  }
  Account(state);
}

#define BLOCK_SIZES Arg(1 << 10)->Arg(64 << 10)->Arg(4 << 20)
BENCHMARK(BM_Memcpy)->BLOCK_SIZES;
BENCHMARK(BM_CopyAssign)->BLOCK_SIZES;
BENCHMARK(BM_CopyData)->BLOCK_SIZES;
BENCHMARK(BM_GetChunk)->BLOCK_SIZES;
BENCHMARK(BM_Memcmp)->BLOCK_SIZES;
BENCHMARK(BM_Equal)->BLOCK_SIZES;

}  // namespace

int main(int argc, char** argv) {
  isputils_bench::BenchPlan plan;
  plan.comparisons = {{"BM_CopyAssign", "BM_Memcpy", 0.9},
                      {"BM_CopyData", "BM_Memcpy", 0.9},
                      {"BM_GetChunk", "BM_Memcpy", 0.9},
                      {"BM_Equal", "BM_Memcmp", 0.9}};
  // The same bytes move in both: baseline time over operation time.
  plan.throughput = true;
  plan.uses_store = false;
  return isputils_bench::RunBenchmarks(argc, argv, plan);
}
