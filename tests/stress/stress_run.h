// A whole stress run of the property store: starts the writers (processes
// by default, or threads of this process), optionally kills writers with
// SIGKILL at random moments and starts new ones in their place, waits for
// the run to end, then verifies the storage file and reports the figures.
//
// The run is a client of the store engine on a directory of the caller's
// (StressOptions::dir), which must exist and hold no records yet; writers
// that are processes each open their own store on it, threads share one.
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

// Intentionally copyable.
struct StressOptions {
  // The directory of the store the run works on.
  std::string dir;
  int writers = 8;
  // Writers as threads of this process rather than processes.
  bool threads = false;
  // Bounds of the run; at least one must be set. Operations are per writer.
  double seconds = 5.0;
  uint64_t ops_per_writer = 0;
  int read_percent = 50;
  // Writers are killed (processes only, one kind of kill at most):
  // - kill_interval_ms: a random writer about every so many milliseconds;
  // - kill_every_ops: a random writer each time the writers together have
  //   done this many more operations. Needs ops_per_writer: the run makes
  //   exactly PlannedKills() kills, however fast the machine is, holding
  //   writers back when the killer falls behind.
  int kill_interval_ms = 0;
  uint64_t kill_every_ops = 0;
  // Over-long-key updates per writer at most (each appends a record).
  uint64_t append_cap = 48;
  uint64_t seed = 1;
};

// Checks the options; returns false with the reason in *why.
bool ValidateOptions(const StressOptions& options, std::string* why);

// The kills a run with kill_every_ops makes unless its deadline ends it
// first: every kill leaves some writer work to do, so that there is one to
// kill. 0 for other runs.
uint64_t PlannedKills(const StressOptions& options);

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
