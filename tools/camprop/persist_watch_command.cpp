// camprop persist watch: keeps the saved persist. properties in step with
// the store, so that `camprop persist restore` finds them after a reboot or
// a power cut. It follows the store (store_follower.h) and, after each
// change of a persist. key, writes the whole file anew (atomic_file.h), so
// the file on the disk is always one whole version of it.
//
// The saved file only gains and updates keys: a key missing from the store
// has merely not been restored yet (the store lives in /run and starts
// empty at each boot), so a watch that starts before the restore never
// erases what was saved.
#include <signal.h>
#include <string.h>

#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/camprop/atomic_file.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/store_follower.h"

namespace camprop {
namespace {

// Readable by all, as the store itself is to its group: properties hold no
// secrets.
constexpr mode_t kSavedFileMode = 0644;

// How long a failed save waits before it is tried again.
constexpr std::chrono::seconds kRetryInterval{1};

volatile sig_atomic_t gStopRequested = 0;

void RequestStop(int) { gStopRequested = 1; }

// A stop signal ends the watch between two saves, never inside one: a
// half-written temporary file is never left behind.
void StopOnSignals() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the wait for the next change returns at once.
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
}

// The saved properties, what the file on the disk holds of them, and how
// they get there.
class SavedProperties {
 public:
  SavedProperties(std::string path, PersistedSettings saved, bool rewrite)
      : path_(std::move(path)), saved_(std::move(saved)), dirty_(rewrite) {}

  size_t size() const { return saved_.size(); }
  bool dirty() const { return dirty_; }

  // Takes in one value of the store.
  void Take(const std::string& key, const std::string& value) {
    if (!FitsOnALine(key, value)) {
      // Kept as it was saved; said once for as long as it lasts.
      if (unsaveable_.insert(key).second) {
        Complain("%s holds a value that no line of %s can carry (a control byte, or blanks "
                 "at an end); it is not saved",
                 key.c_str(), path_.c_str());
      }
      return;
    }
    unsaveable_.erase(key);
    auto [at, added] = saved_.emplace(key, value);
    if (!added && at->second == value) return;
    at->second = value;
    dirty_ = true;
  }

  // Writes the file when it lags behind. A failure is said once, and the
  // save is tried again later.
  void Save() {
    if (!dirty_) return;
    const int error = ReplaceFile(path_, PersistFileText(saved_), kSavedFileMode);
    if (error == 0) {
      if (said_error_ != 0) Complain("saved %s again", path_.c_str());
      said_error_ = 0;
      dirty_ = false;
      return;
    }
    if (error != said_error_) {
      Complain("cannot save %s: %s; trying again every second", path_.c_str(), strerror(error));
    }
    said_error_ = error;
  }

 private:
  const std::string path_;
  PersistedSettings saved_;
  bool dirty_;
  int said_error_ = 0;
  std::set<std::string> unsaveable_;
};

void TakeChanges(const std::vector<PropertyChange>& changes, SavedProperties* saved) {
  for (const PropertyChange& change : changes) {
    // A key gone from the store stays saved (see the top of the file).
    if (change.new_value) saved->Take(change.key, *change.new_value);
  }
}

}  // namespace

int RunPersistWatch(const std::string& path) {
  PersistedSettings saved;
  bool damaged = false;
  // A file that cannot be read cannot be added to either: writing only what
  // the store holds would erase the rest.
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  StopOnSignals();
  // A damaged file is written anew at once, with its sound lines.
  SavedProperties properties(path, std::move(saved), damaged);
  StoreFollower follower(kPersistPrefix);
  follower.Start();
  bool taken_baseline = false;
  const auto catch_up = [&] {
    // What the store held when it could first be read is news to the file.
    if (!taken_baseline && follower.has_baseline()) {
      TakeChanges(follower.current().ChangesSince(PropertyView()), &properties);
      taken_baseline = true;
    }
    properties.Save();
  };
  // Said once the file is in step with the store as it was found.
  catch_up();
  Complain("saving each change of a %s key in %s (%zu saved now); stop with a signal",
           kPersistPrefix, path.c_str(), properties.size());
  std::vector<PropertyChange> changes;
  while (gStopRequested == 0) {
    // Waits a second at most, to try a failed save again and to see a stop
    // signal that came just before the wait began.
    follower.Next(StoreFollower::Clock::now() + kRetryInterval, &changes);
    TakeChanges(changes, &properties);
    catch_up();
  }
  // A change seen just before the signal is not lost.
  properties.Save();
  return properties.dirty() ? kExitFailed : kExitOk;
}

}  // namespace camprop
