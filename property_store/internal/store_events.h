// Wakes the watchers of the store (camprop watch, camprop persist watch)
// when the storage file may have changed, through inotify: on the store's
// directory (/run/camera) for the file (written, created, replaced,
// removed, its mode changed) and for the directory itself, and on the
// directory above (/run) for the store's directory coming and going.
// Watching the directory rather than the file also sees a file that is
// created or replaced later. Wherever /run/camera is not watched (inotify
// refused it or is not to be had, or it does not exist yet) it also wakes
// once a second, so a change is never missed for long.
//
// Thread-safety: an instance belongs to one thread.
#ifndef PROPERTY_STORE_INTERNAL_STORE_EVENTS_H_
#define PROPERTY_STORE_INTERNAL_STORE_EVENTS_H_

#include <chrono>
#include <string>

#include "property_store/internal/store.h"

namespace propstore {

// Owns an inotify descriptor. Intentionally neither copyable nor movable.
class StoreEvents {
 public:
  using Clock = std::chrono::steady_clock;

  // Watches `store`, which must outlive the instance.
  explicit StoreEvents(const Store& store);
  ~StoreEvents();
  StoreEvents(const StoreEvents&) = delete;
  StoreEvents& operator=(const StoreEvents&) = delete;

  // Starts inotify. Returns false, with errno set, when the kernel refuses;
  // the instance then wakes once a second instead.
  bool Open();

  // Watches /run/camera as it is now, and /run. Call before each snapshot:
  // whatever happens from then on wakes the next Wait(). Returns false when
  // /run/camera is not watched; watch_error() tells why.
  bool Arm();

  // errno of the last attempt to watch /run/camera (of Open() when inotify
  // could not be had at all); 0 while it is watched.
  int watch_error() const { return watch_error_; }

  // Waits until the storage file or /run/camera may have changed, until a
  // second has passed while /run/camera is not watched, or until a signal
  // handler has run; true then. False once `deadline` has passed.
  bool Wait(Clock::time_point deadline);

 private:
  // Reads every queued event; true when one concerns the store.
  bool Drain();

  const Store& store_;
  std::string parent_;  // the directory that holds the store's
  int fd_ = -1;
  int run_watch_ = -1;     // /run, for /run/camera itself
  int store_watch_ = -1;   // /run/camera
  int watch_error_ = 0;
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORE_EVENTS_H_
