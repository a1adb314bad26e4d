// A whole stress run of the property store: starts the writers (processes
// by default, or threads of this process), optionally kills writers with
// SIGKILL at random moments and starts new ones in their place, waits for
// the run to end, then verifies the storage file and reports the figures.
//
// The run works on the store's fixed path; the caller must have moved the
// process into a private /run first, and the store must start empty.
//
// Thread-safety: one run at a time per process; call it from a process with
// no other threads when writers are processes (they are forked).
#ifndef TESTS_STRESS_STRESS_RUN_H_
#define TESTS_STRESS_STRESS_RUN_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tests/stress/stress_state.h"
#include "tests/stress/stress_verify.h"

namespace propstore_stress {

struct StressOptions {
  int writers = 8;
  // Writers as threads of this process rather than processes.
  bool threads = false;
  // Bounds of the run; at least one must be set. Operations are per writer.
  double seconds = 5.0;
  uint64_t ops_per_writer = 0;
  int read_percent = 50;
  // Mean time between kills of a random writer; 0 kills none. Processes only.
  int kill_interval_ms = 0;
  // Over-long-key updates per writer at most (each appends a record).
  uint64_t append_cap = 48;
  uint64_t seed = 1;
};

// Checks the options; returns false with the reason in *why.
bool ValidateOptions(const StressOptions& options, std::string* why);

// What the writers did, summed over them, and what the check of the file
// found; `problems` holds both kinds.
struct StressReport : OperationCounts<uint64_t>, VerifyResult {
  int writers = 0;
  bool threads = false;
  double elapsed_seconds = 0;
  uint64_t kills = 0;     // writers killed with SIGKILL
  uint64_t restarts = 0;  // writers started in place of killed ones

  bool ok() const { return problems.empty(); }
  double ops_per_second() const { return elapsed_seconds > 0 ? ops / elapsed_seconds : 0; }
};

// Runs the stress described by `options` (which must be valid).
StressReport RunStress(const StressOptions& options);

// Prints the figures and every problem to `out`, ending in "stress: OK" or
// "stress: FAILED".
void PrintReport(const StressReport& report, FILE* out);

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_RUN_H_
