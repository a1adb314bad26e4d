// The end-of-run check of a stress run: reads the storage file as a peer
// process that knows only flock would (under the shared lock, byte by byte,
// without the engine's reader) and checks every record against the run's
// shared state; then checks that the store's lookups agree with the file
// and that the store still takes updates.
//
// Thread-safety: call once every writer of the run has ended.
#ifndef TESTS_STRESS_STRESS_VERIFY_H_
#define TESTS_STRESS_STRESS_VERIFY_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "property_store/internal/store.h"
#include "tests/stress/stress_keys.h"
#include "tests/stress/stress_state.h"

namespace propstore_stress {

struct VerifyResult {
  uint64_t file_bytes = 0;
  uint64_t records = 0;             // whole records checked
  uint64_t keys_checked = 0;        // keys found stored and checked
  uint64_t append_records = 0;      // records of over-long keys
  uint64_t partial_tail_bytes = 0;  // bytes past the last whole record
  uint64_t api_lookups = 0;         // store lookups compared with the file
  std::vector<std::string> problems;
};

// Checks `store` after a run over `keys` by `writers` writers, and leaves
// one record more in it. A partial trailing record is tolerated only when
// `writers_killed` (a writer died in the middle of an append); it must then
// read as absent and be overwritten by the next append.
VerifyResult VerifyStore(const propstore::Store& store, const KeySet& keys,
                         const SharedState& state, int writers, bool writers_killed);

}  // namespace propstore_stress

#endif  // TESTS_STRESS_STRESS_VERIFY_H_
