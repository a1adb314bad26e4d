// Cost of lookups and updates against floors measured in the same run: the
// raw floor (open the file, flock it, read it whole with one read, close
// it), the stream floor of the store's design (open, flock, then one record
// per fread_unlocked through a stdio stream with a 16 KiB buffer, close) and
// the update floor (open read-write, exclusive flock, read it whole with one
// read, write the last record with one pwrite, close). Each operation runs
// at 10 to 10,000 records; the summary prints each median time as a ratio
// to the floors at the same size, and the cost per scanned record.
//
// Runs in a private mount namespace like the tests: the store's fixed path
// is used, the machine's /run is not.
#include <fcntl.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "propstore/properties.h"
#include "tests/support/private_run.h"

namespace {

using isputils_test::kStoragePath;

std::string KeyOf(int64_t i) {
  char key[32];
  snprintf(key, sizeof(key), "bench.key.%06lld", static_cast<long long>(i));
  return key;
}

// Lays down exactly `records` records, so every benchmark starts alike.
void FillStore(int64_t records) {
  isputils_test::ResetStore();
  std::string bytes;
  bytes.reserve(static_cast<size_t>(records) * PROPERTY_RECORD_SIZE);
  for (int64_t i = 0; i < records; ++i) {
    char record[PROPERTY_RECORD_SIZE] = {};
    snprintf(record, PROPERTY_KEY_SIZE, "%s", KeyOf(i).c_str());
    snprintf(record + PROPERTY_KEY_SIZE, PROPERTY_VALUE_SIZE, "value-%lld",
             static_cast<long long>(i));
    bytes.append(record, sizeof(record));
  }
  isputils_test::WriteStoreFile(bytes);
}

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
  const std::string last = KeyOf(state.range(0) - 1);
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
  const std::string last = KeyOf(state.range(0) - 1);
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

// Prints the usual console output, then a table of ratios to the floor
// built from the medians (or the single runs without repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool usable = run.aggregate_name.empty() ? run.repetitions <= 1
                                                     : run.aggregate_name == "median";
      if (!usable || run.error_occurred) continue;
      const std::string name = run.run_name.function_name;
      const std::string size = run.run_name.args;
      times_[size][name] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    printf("\n%-8s %-14s %12s %10s %10s %10s %14s\n", "records", "operation", "time (us)",
           "vs floor", "vs stream", "vs update", "ns per record");
    for (const auto& [size, by_name] : times_) {
      const auto floor = by_name.find("BM_Floor");
      const auto stream = by_name.find("BM_StreamFloor");
      const auto update = by_name.find("BM_UpdateFloor");
      if (floor == by_name.end() || stream == by_name.end() || update == by_name.end()) continue;
      const double records = atof(size.c_str());
      for (const auto& [name, time] : by_name) {
        printf("%-8s %-14s %12.2f %10.2f %10.2f %10.2f %14.2f\n", size.c_str(),
               name.c_str() + 3, time / 1000.0, time / floor->second, time / stream->second,
               time / update->second, time / records);
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
