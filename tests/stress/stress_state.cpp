// Shared-state helpers of the stress run.
#include "tests/stress/stress_state.h"

#include <stdarg.h>
#include <stdio.h>

namespace propstore_stress {

void NoteSlotProblem(SlotState* slot, const char* format, ...) {
  uint32_t expected = 0;
  if (!slot->has_problem.compare_exchange_strong(expected, 1)) return;
  va_list args;
  va_start(args, format);
  vsnprintf(slot->first_problem, sizeof(slot->first_problem), format, args);
  va_end(args);
}

uint64_t OperationsDone(const SharedState& state, int writers) {
  uint64_t total = 0;
  for (int slot = 0; slot < writers; ++slot) total += state.slots[slot].ops.load();
  return total;
}

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

}  // namespace propstore_stress
