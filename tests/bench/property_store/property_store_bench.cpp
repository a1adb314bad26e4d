// Cost of lookups and updates against floors measured in the same run: the
// raw floor (open the file, flock it, read it whole with one read, close
// it), the stream floor of the store's design (open, flock, then one record
// per fread_unlocked through a stdio stream with a 16 KiB buffer, close) and
// the update floor (open read-write, exclusive flock, read it whole with one
// read, write the last record with one pwrite, close). Each operation runs
// at 10 to 10,000 records; the summary prints each median time as a ratio
// to the floors at the same size, with the targets, and the cost per record.
//
// The lookups and updates are those of the C API, a client of the store
// engine, so they follow its whole lock protocol: a lookup tests the
// pending lock (one fcntl) before its shared lock, an update takes it
// before its exclusive one. The floors do neither, nor do they compare
// keys: what the lookups' targets (1.10 up to 1,000 records) allow beyond
// the floor covers both.
//
// Runs in a private mount namespace like the tests: the store's fixed path
// is used, the machine's /run is not.
#include <fcntl.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

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

void BM_Floor(benchmark::State& state) {
  FillStore(state.range(0));
  std::vector<char> whole(static_cast<size_t>(state.range(0)) * PROPERTY_RECORD_SIZE + 1);
  for (auto _ : state) {
    int fd = open(kStoragePath, O_RDONLY | O_CLOEXEC);
    flock(fd, LOCK_SH);
    benchmark::DoNotOptimize(read(fd, whole.data(), whole.size()));
    close(fd);
  }
}

void BM_UpdateFloor(benchmark::State& state) {
  FillStore(state.range(0));
  std::vector<char> whole(static_cast<size_t>(state.range(0)) * PROPERTY_RECORD_SIZE + 1);
  const off_t last = static_cast<off_t>(state.range(0) - 1) * PROPERTY_RECORD_SIZE;
  for (auto _ : state) {
    int fd = open(kStoragePath, O_RDWR | O_CLOEXEC);
    flock(fd, LOCK_EX);
    benchmark::DoNotOptimize(read(fd, whole.data(), whole.size()));
    benchmark::DoNotOptimize(pwrite(fd, whole.data() + last, PROPERTY_RECORD_SIZE, last));
    close(fd);
  }
}

void BM_StreamFloor(benchmark::State& state) {
  FillStore(state.range(0));
  static char stream_buffer[16 * 1024];
  char record[PROPERTY_RECORD_SIZE];
  for (auto _ : state) {
    FILE* stream = fopen(kStoragePath, "rbe");
    setvbuf(stream, stream_buffer, _IOFBF, sizeof(stream_buffer));
    __fsetlocking(stream, FSETLOCKING_BYCALLER);
    flock(fileno(stream), LOCK_SH);
    while (fread_unlocked(record, sizeof(record), 1, stream) == 1) {
      benchmark::DoNotOptimize(record);
    }
    fclose(stream);
  }
}

void BM_GetHit(benchmark::State& state) {
  FillStore(state.range(0));
  const std::string last = BenchKey(state.range(0) - 1);
  char value[PROPERTY_VALUE_SIZE];
  for (auto _ : state) {
    benchmark::DoNotOptimize(property_get(last.c_str(), value, nullptr));
  }
}

void BM_GetMiss(benchmark::State& state) {
  FillStore(state.range(0));
  char value[PROPERTY_VALUE_SIZE];
  for (auto _ : state) {
    benchmark::DoNotOptimize(property_get("bench.missing", value, "fallback"));
  }
}

void BM_SetInPlace(benchmark::State& state) {
  FillStore(state.range(0));
  const std::string last = BenchKey(state.range(0) - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(property_set(last.c_str(), "updated-value"));
  }
}

void BM_SetAppend(benchmark::State& state) {
  FillStore(state.range(0));
  const off_t size = static_cast<off_t>(state.range(0)) * PROPERTY_RECORD_SIZE;
  for (auto _ : state) {
    benchmark::DoNotOptimize(property_set("bench.appended", "new-value"));
    state.PauseTiming();
    if (truncate(kStoragePath, size) != 0) state.SkipWithError("truncate failed");
    state.ResumeTiming();
  }
}

#define STORE_SIZES Arg(10)->Arg(100)->Arg(1000)->Arg(10000)
BENCHMARK(BM_Floor)->STORE_SIZES;
BENCHMARK(BM_StreamFloor)->STORE_SIZES;
BENCHMARK(BM_UpdateFloor)->STORE_SIZES;
BENCHMARK(BM_GetHit)->STORE_SIZES;
BENCHMARK(BM_GetMiss)->STORE_SIZES;
BENCHMARK(BM_SetInPlace)->STORE_SIZES;
BENCHMARK(BM_SetAppend)->STORE_SIZES;

}  // namespace

int main(int argc, char** argv) {
  isputils_bench::BenchPlan plan;
  plan.comparisons = {
      {"BM_GetHit", "BM_Floor", 1.10, "10 100 1000"},
      {"BM_GetHit", "BM_Floor", 0.0, "10000"},  {"BM_GetHit", "BM_StreamFloor"},
      {"BM_GetMiss", "BM_Floor", 1.10, "10 100 1000"},
      {"BM_GetMiss", "BM_Floor", 0.0, "10000"}, {"BM_GetMiss", "BM_StreamFloor"},
      {"BM_SetInPlace", "BM_UpdateFloor", 1.5},
      {"BM_SetAppend", "BM_UpdateFloor"},
  };
  plan.per_argument = "ns per record";
  return isputils_bench::RunBenchmarks(argc, argv, plan);
}
