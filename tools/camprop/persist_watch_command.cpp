// camprop persist watch: keeps the saved persist. properties in step with
// the store, so that `camprop load` finds them after a reboot or a power
// cut. It follows the store (store_follower.h) and, after each change of a
// persist. key, writes the whole file anew (atomic_file.h), so the file on
// the disk is always one whole version of it.
//
// What it saves are settings: a value that is its key's stored default
// (stored_defaults.h) is no one's setting, so it is not saved, and a saved
// key set back to its default is dropped from the file. Otherwise the file
// only gains and updates keys: a key missing from the store has merely not
// been stored yet (the store lives in /run and starts empty at each boot),
// so a watch that starts early never erases what was saved. Each save reads
// the file again under its directory's lock, so a key that `camprop persist
// forget` removed meanwhile stays removed.
#include <signal.h>
#include <string.h>

#include <errno.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/camprop/atomic_file.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/store_follower.h"
#include "tools/camprop/stored_defaults.h"

namespace camprop {
namespace {

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

// The changes of settings that the file on the disk does not hold yet, and
// how they get there.
class SavedProperties {
 public:
  SavedProperties(std::string path, bool rewrite, size_t saved_count)
      : path_(std::move(path)), rewrite_(rewrite), saved_count_(saved_count) {}

  size_t size() const { return saved_count_; }
  bool dirty() const { return rewrite_ || take_all_ || !pending_.empty(); }

  // Takes in one value of the store, given the stored defaults.
  void Take(const std::string& key, const std::string& value, const PersistedSettings& defaults) {
    pending_[key] = IsDefault(key, value, defaults) ? std::nullopt
                                                     : std::optional<std::string>(value);
  }

  // Takes in every value of the store, as the next save finds it. Nothing is
  // copied: the store may be large.
  void TakeAll() {
    take_all_ = true;
    pending_.clear();
  }

  // Writes the file when it lags behind `current`, the store as last read.
  // A failure is said once, and the save is tried again later.
  void Save(const PropertyView& current) {
    if (!dirty()) return;
    const PersistFileLock lock(path_);
    PersistedSettings saved;
    bool damaged = false;
    int error = lock.error();
    if (error == 0 && !ReadPersistFile(path_, &saved, &damaged)) error = EIO;
    bool changed = rewrite_ || damaged;
    if (error == 0) {
      if (take_all_) {
        const PersistedSettings defaults = ReadStoredDefaultsLocked();
        changed |= Apply(&saved, [&](const auto& apply) {
          current.ForEach([&](const std::string& key, const std::string& value) {
            apply(key, IsDefault(key, value, defaults) ? nullptr : &value);
          });
        });
      } else {
        changed |= Apply(&saved, [&](const auto& apply) {
          for (const auto& [key, value] : pending_) apply(key, value ? &*value : nullptr);
        });
      }
      // A file that already holds every setting is left as it is.
      if (changed) error = WritePersistFile(path_, saved);
    }
    if (error == 0) {
      if (said_error_ != 0) Note("saved %s again", path_.c_str());
      said_error_ = 0;
      pending_.clear();
      rewrite_ = take_all_ = false;
      saved_count_ = saved.size();
      return;
    }
    if (error != said_error_) {
      Complain("cannot save %s: %s; trying again every second", path_.c_str(), strerror(error));
    }
    said_error_ = error;
  }

 private:
  static bool IsDefault(const std::string& key, const std::string& value,
                        const PersistedSettings& defaults) {
    const auto stored_default = defaults.find(key);
    return stored_default != defaults.end() && stored_default->second == value;
  }

  // Applies the changes that `changes` hands out (by calling its argument
  // with a key and its value, or null where the key is to leave the file)
  // to `saved`, each only while the file stays within what a restore reads
  // back (kLargestSettingsFile): the keys saved already come first, so a
  // flood of new keys never pushes one out. Each key left out is said once.
  // Returns whether `saved` changed.
  template <typename Changes>
  bool Apply(PersistedSettings* saved, const Changes& changes) {
    bool changed = false;
    size_t size = PersistFileHeaderSize();
    for (const auto& [key, value] : *saved) size += EscapedLine(key, value).size();
    for (const bool existing : {true, false}) {
      changes([&](const std::string& key, const std::string* value) {
        const auto at = saved->find(key);
        if ((at != saved->end()) != existing) return;
        if (value == nullptr) {
          if (at != saved->end()) {
            size -= EscapedLine(key, at->second).size();
            saved->erase(at);
            changed = true;
          }
          return;
        }
        if (existing && at->second == *value) return;
        const size_t old_line = existing ? EscapedLine(key, at->second).size() : 0;
        const size_t new_line = EscapedLine(key, *value).size();
        if (size - old_line + new_line > kLargestSettingsFile) {
          if (refused_.insert(key).second) {
            Complain("%s is not saved: %s would grow past %zu MiB, the most a restore reads",
                     key.c_str(), path_.c_str(), kLargestSettingsFile >> 20);
          }
          return;
        }
        refused_.erase(key);
        size = size - old_line + new_line;
        (*saved)[key] = *value;
        changed = true;
      });
    }
    return changed;
  }

  const std::string path_;
  // Key -> its new value, or none where it is to leave the file.
  std::map<std::string, std::optional<std::string>> pending_;
  bool take_all_ = false;  // every value of the store is to be taken in
  bool rewrite_;           // the file is damaged: written anew with its sound lines
  size_t saved_count_;
  int said_error_ = 0;
  std::set<std::string> refused_;  // keys said not to fit
};

void TakeChanges(const std::vector<PropertyChange>& changes, SavedProperties* saved) {
  if (changes.empty()) return;
  const PersistedSettings defaults = ReadStoredDefaultsLocked();
  for (const PropertyChange& change : changes) {
    // A key gone from the store stays saved (see the top of the file).
    if (change.new_value) saved->Take(change.key, *change.new_value, defaults);
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
  SavedProperties properties(path, damaged, saved.size());
  saved.clear();  // each save reads the file again
  StoreFollower follower(kPersistPrefix);
  follower.Start();
  bool taken_baseline = false;
  const auto catch_up = [&] {
    // What the store held when it could first be read is news to the file.
    if (!taken_baseline && follower.has_baseline()) {
      properties.TakeAll();
      taken_baseline = true;
    }
    properties.Save(follower.current());
  };
  // Said once the file is in step with the store as it was found.
  catch_up();
  Note("saving each change of a %s key in %s (%zu saved now); stop with a signal",
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
  properties.Save(follower.current());
  return properties.dirty() ? kExitFailed : kExitOk;
}

}  // namespace camprop
