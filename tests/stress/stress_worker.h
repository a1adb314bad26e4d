// One writer of a stress run: a random mix of property_set and property_get
// over the run's key set until its operation count or the deadline is
// reached, checking every value it reads and recording its progress in the
// shared state.
//
// Thread-safety: any number of workers may run at once, as processes or as
// threads, each on a slot of its own.
#ifndef TESTS_STRESS_STRESS_WORKER_H_
#define TESTS_STRESS_STRESS_WORKER_H_

#include <stdint.h>

#include "tests/stress/stress_keys.h"
#include "tests/stress/stress_run.h"
#include "tests/stress/stress_state.h"

namespace propstore_stress {

// One writer's part of a run: the run's options (its operation count
// ops_per_writer counts for the slot in all, a restarted writer going on
// from its predecessor's), the slot, and the deadline of the run.
struct WorkerPlan : StressOptions {
  int slot = 0;
  // CLOCK_MONOTONIC nanoseconds at which to stop; 0: no deadline.
  int64_t deadline_ns = 0;
};

// Runs the writer of `plan.slot` until its plan is done.
void RunWorker(const WorkerPlan& plan, const KeySet& keys, SharedState* state);

// CLOCK_MONOTONIC in nanoseconds; the same clock in every process.
int64_t MonotonicNanos();

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_WORKER_H_
