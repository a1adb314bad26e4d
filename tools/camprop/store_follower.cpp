// Following the store's changes from snapshot to snapshot.
#include "tools/camprop/store_follower.h"

#include <errno.h>
#include <string.h>

#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"
#include "tools/camprop/snapshot.h"

namespace camprop {
namespace {

// Why inotify would not watch /run/camera, in an operator's words.
const char* DescribeWatchError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
      return "the limit of inotify watches is reached (fs.inotify.max_user_watches)";
    case EMFILE:
      return "the limit of inotify instances is reached (fs.inotify.max_user_instances)";
    default:
      return strerror(error);
  }
}

}  // namespace

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

void StoreFollower::Arm() {
  events_.Arm();
  const int error = events_.watch_error();
  // A missing /run/camera is said with the store's state; /run is watched
  // for it to come back.
  if (error == 0 || error == ENOENT || error == ENOTDIR) return;
  if (error == said_watch_error_) return;
  said_watch_error_ = error;
  Complain("cannot watch /run/camera: %s; reading %s once a second instead",
           DescribeWatchError(error), propstore::kStoragePath);
}

bool StoreFollower::Read(PropertyView* view) {
  const Snapshot snapshot = TakeSnapshot();
  if (StoreIsMissing(snapshot.scan)) {
    const MissingStore why = DiagnoseMissingStore();
    Say(std::string(DescribeMissingStore(why)) + ": " + DescribeMissingStoreContent(why) +
        "; waiting for it");
    said_unreadable_ = false;
    *view = PropertyView();
    return true;
  }
  if (snapshot.scan.status != ScanStatus::kOk) {
    Say(DescribeScanFailure(snapshot.scan) + "; waiting for it to be readable");
    said_unreadable_ = true;
    return false;
  }
  // Whoever read that it could not be read hears that it can again.
  if (said_unreadable_) Complain("%s can be read again", propstore::kStoragePath);
  said_unreadable_ = false;
  said_.clear();
  *view = PropertyView(snapshot.records, prefix_);
  return true;
}

void StoreFollower::Say(const std::string& text) {
  if (text == said_) return;
  said_ = text;
  Complain("%s", text.c_str());
}

}  // namespace camprop
