// Follows the properties of a store as they change, for whoever acts on
// each change (camprop watch prints it, camprop persist watch saves it). It
// sleeps on StoreEvents, takes a snapshot of the file when woken (holding
// the shared lock only for the copy), and hands out what differs from the
// last snapshot it could read.
//
// The first snapshot it can read is its baseline: what the store held then
// is no change, also when the file only became readable after a while. A
// missing store reads as an empty one; a file that cannot be read for a
// while keeps the properties last read. Where the store's directory cannot
// be watched, it looks once a second instead. status() and watch_error()
// tell the caller which of these holds.
//
// Thread-safety: an instance belongs to one thread.
#ifndef PROPERTY_STORE_INTERNAL_STORE_FOLLOWER_H_
#define PROPERTY_STORE_INTERNAL_STORE_FOLLOWER_H_

#include <functional>
#include <string>
#include <vector>

#include "property_store/internal/property_view.h"
#include "property_store/internal/status.h"
#include "property_store/internal/store.h"
#include "property_store/internal/store_events.h"

namespace propstore {

// Intentionally neither copyable nor movable: it owns its StoreEvents.
class StoreFollower {
 public:
  using Clock = StoreEvents::Clock;

  // Follows the keys of `store` (which must outlive the instance) that start
  // with `prefix` (every key when it is empty). `under_lock`, when given,
  // runs under the store's lock with each snapshot read (see TakeSnapshot).
  StoreFollower(const Store& store, std::string prefix, std::function<void()> under_lock = nullptr);
  StoreFollower(const StoreFollower&) = delete;
  StoreFollower& operator=(const StoreFollower&) = delete;

  // Starts watching and reads the store once, which makes the baseline if
  // the file can be read.
  void Start();

  // True once a snapshot could be read.
  bool has_baseline() const { return has_baseline_; }

  // The properties as last read; empty before the baseline.
  const PropertyView& current() const { return current_; }

  // How the last read went: kOk, a missing store's status, or why the file
  // could not be read (the properties last read are kept then).
  const Status& status() const { return status_; }

  // Why the store's directory is not watched (the store is read once a
  // second instead); 0 while it is, or while the directory is missing.
  int watch_error() const { return watch_error_; }

  // Waits until the store may have changed and reads it: *changes receives
  // what changed since the last snapshot read (nothing for the baseline, for
  // an unreadable file, or when nothing changed). Also returns, with no
  // changes, after a signal handler has run. Returns false, with no changes,
  // once `deadline` has passed.
  bool Next(Clock::time_point deadline, std::vector<PropertyChange>* changes);

  // Reads the store now, without waiting: current() is then the store of
  // this instant, whatever changed since the last read is taken in without
  // being handed out, and `under_lock` ran with it. Returns false, keeping
  // the properties last read, when the file could not be read.
  bool Refresh();

 private:
  // Arms the events before each snapshot, so that a change made while it is
  // taken wakes the next wait.
  void Arm();
  // Reads the store into *view. Returns false, leaving *view as it was,
  // when the file is there but cannot be read now: its properties are not
  // gone.
  bool Read(PropertyView* view);

  const Store& store_;
  const std::string prefix_;
  const std::function<void()> under_lock_;
  StoreEvents events_;
  PropertyView current_;
  bool has_baseline_ = false;
  Status status_;
  int watch_error_ = 0;
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORE_FOLLOWER_H_
