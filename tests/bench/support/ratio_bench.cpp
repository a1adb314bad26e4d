// The shared main() and ratio table of the benchmark programs.
#include "tests/bench/support/ratio_bench.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <utility>

#include "benchmark/benchmark.h"
#include "propstore/properties.h"
#include "tests/support/private_run.h"

namespace isputils_bench {
namespace {

// True when `argument` is one of the blank-separated words of `list`, or
// the list is null.
bool IsListed(const std::string& argument, const char* list) {
  if (list == nullptr) return true;
  const std::string words = std::string(" ") + list + " ";
  return words.find(" " + argument + " ") != std::string::npos;
}

// True when argument `a` comes before `b`: compared as numbers, the first
// of each "/"-separated part first ("2/1000" before "8/100").
bool ArgumentBefore(const std::string& a, const std::string& b) {
  const char* x = a.c_str();
  const char* y = b.c_str();
  for (;;) {
    char* x_end;
    char* y_end;
    const double x_part = strtod(x, &x_end);
    const double y_part = strtod(y, &y_end);
    if (x_part != y_part) return x_part < y_part;
    if (*x_end != '/' || *y_end != '/') return *x_end != '/' && *y_end == '/';
    x = x_end + 1;
    y = y_end + 1;
  }
}

// The first bound of `bounds` that applies to `function` at `argument`;
// null when none does.
const CounterBound* BoundFor(const std::vector<CounterBound>& bounds, const std::string& function,
                             const std::string& argument) {
  for (const CounterBound& bound : bounds) {
    if (function == bound.function && IsListed(argument, bound.only)) return &bound;
  }
  return nullptr;
}

// Prints the usual console output, then the plan's comparisons as ratios
// and its counter table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal: output kept in a file stays plain text.
  explicit RatioReporter(const BenchPlan& plan)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular), plan_(plan) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool usable = run.aggregate_name.empty() ? run.repetitions <= 1
                                                     : run.aggregate_name == "median";
      if (!usable || run.error_occurred) continue;
      const double time = plan_.cpu_time ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      // In nanoseconds, whatever unit each benchmark reports in.
      const double ns = time / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      const std::string& argument = run.run_name.args;
      if (std::find(arguments_.begin(), arguments_.end(), argument) == arguments_.end()) {
        arguments_.push_back(argument);
      }
      times_[{argument, run.run_name.function_name}] = ns;
      std::map<std::string, double>& counters = counters_[{argument, run.run_name.function_name}];
      for (const auto& [name, counter] : run.counters) counters[name] = counter.value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    // Arguments in ascending order, however the runs were interleaved.
    std::stable_sort(arguments_.begin(), arguments_.end(), ArgumentBefore);
    if (!plan_.comparisons.empty()) PrintRatios();
    if (!plan_.counter_columns.empty()) PrintCounters();
  }

 private:
  void PrintRatios() {
    printf("\n%-9s %-20s %-18s %12s %12s %7s %7s %-6s", "argument", "operation", "baseline",
           "time (ns)", "base (ns)", "ratio", "target", "");
    if (plan_.per_argument != nullptr) printf("  %s", plan_.per_argument);
    printf("\n");
    for (const Comparison& c : plan_.comparisons) {
      for (const std::string& argument : arguments_) {
        if (!IsListed(argument, c.only)) continue;
        const auto found = times_.find({argument, c.measured});
        const auto base = times_.find({argument, c.baseline});
        if (found == times_.end() || base == times_.end()) continue;
        const double measured = found->second;
        const double ratio = plan_.throughput ? base->second / measured : measured / base->second;
        printf("%-9s %-20s %-18s %12.1f %12.1f %7.2f", argument.empty() ? "-" : argument.c_str(),
               c.measured + 3, c.baseline + 3, measured, base->second, ratio);
        if (c.target > 0) {
          const bool met = plan_.throughput ? ratio >= c.target : ratio <= c.target;
          printf(" %7.2f %-6s", c.target, met ? "met" : "MISSED");
        } else {
          printf(" %7s %-6s", "", "");
        }
        if (plan_.per_argument != nullptr) printf("  %.2f", measured / atof(argument.c_str()));
        printf("\n");
      }
    }
  }

  // Rows by argument, then by function name.
  void PrintCounters() {
    printf("\n%-9s %-22s", "argument", "operation");
    for (const CounterColumn& column : plan_.counter_columns) printf(" %12s", column.heading);
    printf(" %-18s\n", "bound");
    for (const std::string& argument : arguments_) {
      for (const auto& [row, counters] : counters_) {
        if (row.first != argument) continue;
        const std::string& function = row.second;
        printf("%-9s %-22s", argument.empty() ? "-" : argument.c_str(),
               function.c_str() + (function.compare(0, 3, "BM_") == 0 ? 3 : 0));
        for (const CounterColumn& column : plan_.counter_columns) {
          const auto found = counters.find(column.counter);
          if (found == counters.end()) {
            printf(" %12s", "-");
          } else {
            printf(" %12.*f", column.decimals, found->second);
          }
        }
        if (const CounterBound* bound = BoundFor(plan_.counter_bounds, function, argument)) {
          const auto found = counters.find(bound->counter);
          const bool met = found != counters.end() && found->second <= bound->most;
          printf(" %s <= %-7g %s", bound->counter, bound->most, met ? "met" : "MISSED");
        }
        printf("\n");
      }
    }
  }

  const BenchPlan& plan_;
  // The arguments the benchmarks ran with, and the median times in
  // nanoseconds and counters by (argument, function name).
  std::vector<std::string> arguments_;
  std::map<std::pair<std::string, std::string>, double> times_;
  std::map<std::pair<std::string, std::string>, std::map<std::string, double>> counters_;
};

}  // namespace

int RunBenchmarks(int argc, char** argv, const BenchPlan& plan) {
  std::string error;
  if (!isputils_test::EnterPrivateRun(&error) && plan.uses_store) {
    fprintf(stderr, "cannot isolate the property store: %s\n", error.c_str());
    return 1;
  }
  if (plan.set_up != nullptr && !plan.set_up()) return 1;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(plan);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

std::string BenchKey(int64_t index) {
  char key[32];
  snprintf(key, sizeof(key), "bench.key.%07lld", static_cast<long long>(index));
  return key;
}

void FillStore(int64_t records) {
  isputils_test::ResetStore();
  std::string bytes;
  bytes.reserve(static_cast<size_t>(records) * PROPERTY_RECORD_SIZE);
  for (int64_t i = 0; i < records; ++i) {
    char record[PROPERTY_RECORD_SIZE] = {};
    snprintf(record, PROPERTY_KEY_SIZE, "%s", BenchKey(i).c_str());
    snprintf(record + PROPERTY_KEY_SIZE, PROPERTY_VALUE_SIZE, "value-%lld",
             static_cast<long long>(i));
    bytes.append(record, sizeof(record));
  }
  isputils_test::WriteStoreFile(bytes);
}

}  // namespace isputils_bench
