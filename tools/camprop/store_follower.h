// Follows the properties of the store as they change, for the commands that
// act on each change (`camprop watch` prints it, `camprop persist watch`
// saves it). It sleeps on StoreEvents, takes a snapshot of the file when
// woken (holding the shared lock only for the copy), and hands out what
// differs from the last snapshot it could read.
//
// The first snapshot it can read is its baseline: what the store held then
// is no change, also when the file only became readable after a while. A
// file that is missing, replaced, damaged or unreadable for a while, a
// /run/camera that comes and goes, and one that cannot be watched (looked
// at once a second instead) are waited out, each said once on standard
// error.
//
// Thread-safety: an instance belongs to one thread.
#ifndef TOOLS_CAMPROP_STORE_FOLLOWER_H_
#define TOOLS_CAMPROP_STORE_FOLLOWER_H_

#include <string>
#include <utility>
#include <vector>

#include "tools/camprop/property_view.h"
#include "tools/camprop/store_events.h"

namespace camprop {

// Intentionally neither copyable nor movable: it owns its StoreEvents.
class StoreFollower {
 public:
  using Clock = StoreEvents::Clock;

  // Follows the keys that start with `prefix` (every key when it is empty).
  explicit StoreFollower(std::string prefix) : prefix_(std::move(prefix)) {}
  StoreFollower(const StoreFollower&) = delete;
  StoreFollower& operator=(const StoreFollower&) = delete;

  // Starts watching and reads the store once, which makes the baseline if
  // the file can be read.
  void Start();

  // True once a snapshot could be read.
  bool has_baseline() const { return has_baseline_; }

  // The properties as last read; empty before the baseline.
  const PropertyView& current() const { return current_; }

  // Waits until the store may have changed and reads it: *changes receives
  // what changed since the last snapshot read (nothing for the baseline, for
  // an unreadable file, or when nothing changed). Also returns, with no
  // changes, after a signal handler has run. Returns false, with no changes,
  // once `deadline` has passed.
  bool Next(Clock::time_point deadline, std::vector<PropertyChange>* changes);

 private:
  // Arms the events (before each snapshot, so a change made while it is
  // taken wakes the next wait) and says once when /run/camera cannot be
  // watched.
  void Arm();
  // Reads the store into *view. Returns false, leaving *view as it was,
  // when the file is there but cannot be read now: its properties are not
  // gone.
  bool Read(PropertyView* view);
  // Says `text` on standard error unless it was the last thing said about
  // the store.
  void Say(const std::string& text);

  const std::string prefix_;
  StoreEvents events_;
  PropertyView current_;
  bool has_baseline_ = false;
  std::string said_;             // the store's state, as last said
  bool said_unreadable_ = false; // the last state said was an unreadable file
  int said_watch_error_ = 0;     // why /run/camera is not watched, as last said
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STORE_FOLLOWER_H_
