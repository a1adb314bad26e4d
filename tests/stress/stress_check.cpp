// Checking of values read back from the store during and after a stress run.
#include "tests/stress/stress_check.h"

#include "tests/stress/stress_value.h"

namespace propstore_stress {

uint64_t LowerBoundBefore(const KeySet& keys, const SharedState& state, int id) {
  const int owner = keys.owner(id);
  switch (keys.kind(id)) {
    case KeyKind::kShared:
      return 0;
    case KeyKind::kOwn:
      return state.slots[owner].own_done.load();
    case KeyKind::kAppend:
      return state.slots[owner].appends_done.load();
  }
  return 0;
}

bool CheckValueOf(const KeySet& keys, const SharedState& state, int writers, int id,
                  const std::string& text, uint64_t lower, std::string* why) {
  const KeyKind kind = keys.kind(id);
  if (kind == KeyKind::kShared && IsTinyValue(text)) return true;
  // Only shared keys are ever written empty (a tiny value of length 0).
  if (text.empty()) {
    *why = "empty value, never written for this key";
    return false;
  }
  ValueStamp stamp;
  if (!DecodeCheckedValue(text, &stamp, why)) return false;
  if (static_cast<int>(stamp.key) != id) {
    *why = "foreign value: written for key " + std::to_string(stamp.key);
    return false;
  }
  if (stamp.writer >= static_cast<uint32_t>(writers)) {
    *why = "value names an unknown writer";
    return false;
  }
  const int owner = keys.owner(id);
  if (owner >= 0 && stamp.writer != static_cast<uint32_t>(owner)) {
    *why = "value of a key its writer does not own";
    return false;
  }
  const SlotState& slot = state.slots[stamp.writer];
  if (stamp.seq == 0 || stamp.seq >= slot.next_seq.load()) {
    *why = "sequence number never handed out";
    return false;
  }
  if (kind == KeyKind::kOwn && (stamp.seq < lower || stamp.seq > slot.own_started.load())) {
    *why = "stale own value: seq " + std::to_string(stamp.seq) + ", last completed " +
           std::to_string(lower);
    return false;
  }
  return true;
}

bool CheckNotFound(uint64_t lower, bool stored_before, std::string* why) {
  if (lower == 0 && !stored_before) return true;
  *why = "key lost: an update had completed but the lookup found no record";
  return false;
}

}  // namespace propstore_stress
