// One writer of a stress run: a random mix of updates (Store::Set) and
// lookups (Store::Get) over the run's key set until its operation count or
// the deadline is reached, checking every lookup's answer and recording its
// progress in the shared state.
//
// Thread-safety: any number of workers may run at once, as processes or as
// threads, each on a slot of its own; threads may share one Store.
#ifndef TESTS_STRESS_STRESS_WORKER_H_
#define TESTS_STRESS_STRESS_WORKER_H_

#include <stdint.h>

#include "property_store/internal/store.h"
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

// Runs the writer of `plan.slot` on `store` until its plan is done. The
// store is the one on plan.dir; a writer that is a process opens its own.
void RunWorker(const WorkerPlan& plan, const propstore::Store& store, const KeySet& keys,
               SharedState* state);

// CLOCK_MONOTONIC in nanoseconds; the same clock in every process.
int64_t MonotonicNanos();

// Sleeps for `nanos`, going on after a signal.
void SleepNanos(int64_t nanos);

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_WORKER_H_
