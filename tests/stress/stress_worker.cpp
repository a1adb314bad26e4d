// The writer loop of the stress run.
#include "tests/stress/stress_worker.h"

#include <errno.h>
#include <string.h>
#include <time.h>

#include <string>

#include "property_store/internal/status_text.h"
#include "tests/stress/stress_check.h"
#include "tests/stress/stress_value.h"

namespace propstore_stress {
namespace {

// Shares of updates (per mille) that go to the writer's own key and to its
// over-long key; the rest go to the shared keys. Appends are rare because
// each one lengthens every later scan of the file.
constexpr uint64_t kOwnUpdatePerMille = 200;
constexpr uint64_t kAppendUpdatePerMille = 5;
// How often a writer held at the gate looks again.
constexpr int64_t kGatePollNs = 100 * 1000;

std::string Describe(const propstore::Status& status) {
  return "code " + std::to_string(static_cast<int>(status.code())) + ", " +
         propstore::Reason(status);
}

class Worker {
 public:
  Worker(const WorkerPlan& plan, const propstore::Store& store, const KeySet& keys,
         SharedState* state)
      : plan_(plan),
        store_(store),
        keys_(keys),
        state_(state),
        slot_(&state->slots[plan.slot]),
        rng_(plan.seed * 0x100000001b3ull + static_cast<uint64_t>(plan.slot) * 7919 +
             slot_->generation.load()) {}

  void Run() {
    while (!Done()) {
      if (HeldAtGate()) {
        SleepNanos(kGatePollNs);
        continue;
      }
      if (rng_.Below(100) < static_cast<uint64_t>(plan_.read_percent)) {
        Lookup();
      } else {
        Update();
      }
      slot_->ops.fetch_add(1);
    }
  }

 private:
  bool Done() const {
    if (plan_.ops_per_writer != 0 && slot_->ops.load() >= plan_.ops_per_writer) return true;
    return plan_.deadline_ns != 0 && MonotonicNanos() >= plan_.deadline_ns;
  }

  bool HeldAtGate() const {
    const uint64_t gate = state_->ops_gate.load();
    return gate != kNoGate && OperationsDone(*state_, plan_.writers) >= gate;
  }

  size_t CheckedLength() {
    return kMinCheckedLength + rng_.Below(kMaxValueLength - kMinCheckedLength + 1);
  }

  std::string Checked(int key, uint64_t seq, size_t length) {
    ValueStamp stamp;
    stamp.writer = static_cast<uint32_t>(plan_.slot);
    stamp.key = static_cast<uint32_t>(key);
    stamp.seq = seq;
    stamp.length = static_cast<uint32_t>(length);
    return MakeCheckedValue(stamp);
  }

  void Update() {
    const uint64_t pick = rng_.Below(1000);
    const uint64_t seq = slot_->next_seq.fetch_add(1);
    int key;
    propstore::Status status;
    if (pick < kOwnUpdatePerMille) {
      key = keys_.own_key(plan_.slot);
      const std::string value = Checked(key, seq, CheckedLength());
      slot_->own_started.store(seq);
      status = store_.Set(keys_.stored_name(key).c_str(), value.c_str());
      if (status.ok()) slot_->own_done.store(seq);
    } else if (slot_->appends_started.load() < plan_.append_cap &&
               (pick < kOwnUpdatePerMille + kAppendUpdatePerMille ||
                slot_->appends_started.load() == 0)) {
      // A writer's first update past its own key also appends: appends are
      // rare, and a short run on a loaded machine could otherwise end with
      // an over-long key never stored, which the run counts as unexercised.
      key = keys_.append_key(plan_.slot);
      const std::string long_key = keys_.long_form(key, rng_.Below(3));
      const std::string value = Checked(key, seq, CheckedLength());
      slot_->appends_started.fetch_add(1);
      status = store_.Set(long_key.c_str(), value.c_str());
      if (status.ok()) slot_->appends_done.fetch_add(1);
    } else {
      key = static_cast<int>(rng_.Below(kSharedKeyCount));
      const size_t length = rng_.Below(kMaxValueLength + 1);
      const std::string value =
          length < kMinCheckedLength ? MakeTinyValue(length) : Checked(key, seq, length);
      status = store_.Set(keys_.stored_name(key).c_str(), value.c_str());
    }
    slot_->sets.fetch_add(1);
    if (status.ok()) {
      state_->key_stored[key].store(1);
    } else {
      slot_->failed_sets.fetch_add(1);
      NoteSlotProblem(slot_, "writer %d: update of key %d failed: %s", plan_.slot, key,
                      Describe(status).c_str());
    }
  }

  void Lookup() {
    const int key = static_cast<int>(rng_.Below(static_cast<uint64_t>(keys_.count())));
    const uint64_t lower = LowerBoundBefore(keys_, *state_, key);
    const bool stored_before = state_->key_stored[key].load() != 0;
    char value[PROPERTY_VALUE_SIZE];
    memset(value, '#', sizeof(value));
    const propstore::Status status = store_.Get(keys_.stored_name(key).c_str(), value);
    slot_->gets.fetch_add(1);
    const size_t length = strnlen(value, sizeof(value));
    std::string why;
    if (status.ok()) {
      if (length == sizeof(value)) {
        why = "the value found has no NUL";
      } else if (CheckValueOf(keys_, *state_, plan_.writers, key, std::string(value, length),
                              lower, &why)) {
        return;
      }
    } else if (status.code() == propstore::Status::Code::kNotFound ||
               status.code() == propstore::Status::Code::kNoFile) {
      // Nothing stored: the buffer must be as the lookup found it.
      if (std::string(value, sizeof(value)) != std::string(sizeof(value), '#')) {
        why = "a lookup that found nothing wrote into the value";
      } else if (CheckNotFound(lower, stored_before, &why)) {
        return;
      }
    } else {
      why = "lookup failed: " + Describe(status);
    }
    slot_->bad_reads.fetch_add(1);
    NoteSlotProblem(slot_, "writer %d read key %d: %s", plan_.slot, key, why.c_str());
  }

  const WorkerPlan plan_;
  const propstore::Store& store_;
  const KeySet& keys_;
  SharedState* state_;
  SlotState* slot_;
  Rng rng_;
};

}  // namespace

int64_t MonotonicNanos() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepNanos(int64_t nanos) {
  struct timespec pause = {static_cast<time_t>(nanos / 1000000000),
                           static_cast<long>(nanos % 1000000000)};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void RunWorker(const WorkerPlan& plan, const propstore::Store& store, const KeySet& keys,
               SharedState* state) {
  Worker(plan, store, keys, state).Run();
}

}  // namespace propstore_stress
