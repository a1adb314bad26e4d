// Wakes `camprop watch` when the storage file may have changed, through
// inotify: on /run/camera for the file (written, created, replaced,
// removed, its mode changed) and for the directory itself, and on /run for
// /run/camera coming and going. Watching the directory rather than the file
// also sees a file that is created or replaced later. Where not even /run
// can be watched it falls back to waking once a second.
//
// Thread-safety: an instance belongs to one thread.
#ifndef TOOLS_CAMPROP_STORE_EVENTS_H_
#define TOOLS_CAMPROP_STORE_EVENTS_H_

#include <chrono>

namespace camprop {

// Owns an inotify descriptor. Intentionally neither copyable nor movable.
class StoreEvents {
 public:
  using Clock = std::chrono::steady_clock;

  StoreEvents() = default;
  ~StoreEvents();
  StoreEvents(const StoreEvents&) = delete;
  StoreEvents& operator=(const StoreEvents&) = delete;

  // Starts inotify. Returns false, with errno set, when the kernel refuses.
  bool Open();

  // Watches /run/camera as it is now, and /run. Call before each snapshot:
  // whatever happens from then on wakes the next Wait(). Returns false when
  // /run/camera cannot be watched (it is missing, say).
  bool Arm();

  // Waits until the storage file or /run/camera may have changed, or until
  // `deadline`. Returns true for a change, false once the deadline passed.
  bool Wait(Clock::time_point deadline);

 private:
  // Reads every queued event; true when one concerns the store.
  bool Drain();

  int fd_ = -1;
  int run_watch_ = -1;     // /run, for /run/camera itself
  int store_watch_ = -1;   // /run/camera
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORE_EVENTS_H_
