// Following the store's changes from snapshot to snapshot.
#include "property_store/internal/store_follower.h"

#include <errno.h>

#include <utility>

#include "property_store/internal/snapshot.h"

namespace propstore {

StoreFollower::StoreFollower(const Store& store, std::string prefix,
                             std::function<void()> under_lock)
    : store_(store), prefix_(std::move(prefix)), under_lock_(std::move(under_lock)),
      events_(store) {}

void StoreFollower::Start() {
  events_.Open();
  Arm();
  PropertyView view;
  if (Read(&view)) {
    current_ = std::move(view);
    has_baseline_ = true;
  }
}

bool StoreFollower::Next(Clock::time_point deadline, std::vector<PropertyChange>* changes) {
  changes->clear();
  if (!events_.Wait(deadline)) return false;
  Arm();
  PropertyView next;
  if (!Read(&next)) return true;
  if (has_baseline_) *changes = next.ChangesSince(current_);
  current_ = std::move(next);
  has_baseline_ = true;
  return true;
}

bool StoreFollower::Refresh() {
  PropertyView view;
  if (!Read(&view)) return false;
  current_ = std::move(view);
  has_baseline_ = true;
  return true;
}

void StoreFollower::Arm() {
  events_.Arm();
  // A missing directory is told by the store's status; the one above it is
  // watched for it to come back.
  const int error = events_.watch_error();
  watch_error_ = error == ENOENT || error == ENOTDIR ? 0 : error;
}

bool StoreFollower::Read(PropertyView* view) {
  Snapshot snapshot;
  status_ = TakeSnapshot(store_, &snapshot, under_lock_);
  if (status_.missing()) {
    *view = PropertyView();
    return true;
  }
  if (!status_.ok()) return false;
  *view = PropertyView(snapshot, prefix_);
  return true;
}

}  // namespace propstore
