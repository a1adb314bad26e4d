// The rules a value read back during or after a stress run must obey: it
// decodes (or is a tiny value, for shared keys), it was written for the key
// it was read from, by a writer allowed to write that key, and it is no older
// than the last update known to have completed before the read began; and a
// key that a completed update stored is never found missing.
//
// Thread-safety: reads the shared state's atomics only; safe anywhere.
#ifndef TESTS_STRESS_STRESS_CHECK_H_
#define TESTS_STRESS_STRESS_CHECK_H_

#include <stdint.h>

#include <string>

#include "tests/stress/stress_keys.h"
#include "tests/stress/stress_state.h"

namespace propstore_stress {

// The oldest acceptable sequence number (own keys) or completed-update count
// (append keys) for key `id`; take it before the lookup that it bounds.
uint64_t LowerBoundBefore(const KeySet& keys, const SharedState& state, int id);

// Checks `text`, found stored for key `id`, against the rules above; `lower`
// comes from LowerBoundBefore. Returns false with the reason in *why.
bool CheckValueOf(const KeySet& keys, const SharedState& state, int writers, int id,
                  const std::string& text, uint64_t lower, std::string* why);

// Checks that key `id` may be missing: no update of it had completed when
// the lookup began. `lower` comes from LowerBoundBefore and `stored_before`
// is state.key_stored[id], both taken before the lookup. Returns false with
// the reason in *why.
bool CheckNotFound(uint64_t lower, bool stored_before, std::string* why);

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_CHECK_H_
