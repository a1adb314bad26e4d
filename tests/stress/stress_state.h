// State that the writers of a stress run share with the process that runs
// them: per writer slot, how far its updates got and what its lookups saw;
// per key, whether an update of it has completed; for a run that kills
// writers by operation count, how far the writers may get before the next
// kill. It lives in memory mapped shared before the writers are forked, so
// it outlives a writer killed with SIGKILL and a writer started in its place
// continues where it stopped.
//
// Thread-safety: every counter is a lock-free atomic (address-free, so it
// works across processes); each slot's problem text is written only by the
// slot's current writer and read after that writer has ended.
#ifndef TESTS_STRESS_STRESS_STATE_H_
#define TESTS_STRESS_STRESS_STATE_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "tests/stress/stress_keys.h"

namespace propstore_stress {

inline constexpr int kMaxWriters = 64;
inline constexpr int kMaxKeys = kSharedKeyCount + 2 * kMaxWriters;

// What writers' operations did, counted as they happen (atomics, in the
// shared slots) and summed for the report (plain integers).
template <typename Count>
struct OperationCounts {
  Count ops{0};
  Count sets{0};
  Count gets{0};
  Count failed_sets{0};
  Count bad_reads{0};  // torn, foreign or stale values seen by lookups
};

struct SlotState : OperationCounts<std::atomic<uint64_t>> {
  // Next sequence number to hand out; numbers start at 1 and are never
  // reused, even across a restart of the slot's writer.
  std::atomic<uint64_t> next_seq{1};
  // Sequence number of the last own-key update that succeeded, and of the
  // last one begun. They differ only when a writer died mid-update.
  std::atomic<uint64_t> own_done{0};
  std::atomic<uint64_t> own_started{0};
  // Over-long-key updates (each appends a record) completed and begun.
  std::atomic<uint64_t> appends_done{0};
  std::atomic<uint64_t> appends_started{0};
  // Bumped for every writer started in this slot; varies its random choices.
  std::atomic<uint32_t> generation{0};
  std::atomic<uint32_t> has_problem{0};
  char first_problem[256] = {};
};

// No gate: writers never wait for a kill.
inline constexpr uint64_t kNoGate = UINT64_MAX;

struct SharedState {
  SlotState slots[kMaxWriters];
  // Set once some update of the key has succeeded: its record must exist.
  std::atomic<uint32_t> key_stored[kMaxKeys] = {};
  // Writers begin no operation while the operations done by all slots
  // together number this many or more. A run that kills a writer every so
  // many operations sets it a little past the next kill's count, so that
  // the kill always finds writers with work left, however fast they are
  // and however late the killer comes; it reopens the gate after the kill.
  std::atomic<uint64_t> ops_gate{kNoGate};
};

static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "counters must work in memory shared between processes");

// Operations done by the first `writers` slots together.
uint64_t OperationsDone(const SharedState& state, int writers);

// Records the first problem a slot's writer met; later ones are only counted.
void NoteSlotProblem(SlotState* slot, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A small, fast generator (splitmix64) for the writers' random choices.
// Intentionally copyable.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, bound); bound must be positive.
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_STATE_H_
