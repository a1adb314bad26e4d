// camprop persist watch and forget, the commands that change the saved file.
//
// The watch follows the store and, after each change of a persist. key,
// writes the whole file anew (atomic_file.h) with the store's settings as
// the store holds them then: a value that is its key's stored default
// (stored_defaults.h) is no one's setting, so it is not saved, and a saved
// key whose value is such a default leaves the file. Otherwise the file only
// gains and updates keys: a key missing from the store has merely not been
// stored yet (the store lives in /run), so a watch that starts early never
// erases what was saved. Each save reads the file again under its
// directory's lock, so a key that forget removed meanwhile stays removed:
// forget marks the store's values of the keys it removes as no one's
// setting, and the store keeps them until the next boot.
#include <errno.h>
#include <signal.h>
#include <string.h>

#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "property_store/internal/transaction.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/stored_defaults.h"

namespace camprop {
namespace {

using propstore::PropertyChange;
using propstore::PropertyView;
using propstore::StoreFollower;

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

// The saved file, and whether it lags behind the store.
class SavedFile {
 public:
  SavedFile(std::string path, bool damaged) : path_(std::move(path)), dirty_(damaged) {}

  size_t size() const { return saved_count_; }
  bool dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }

  // Makes the file hold the settings of `current`, the store as last read,
  // with the stored `defaults` of the same instant, each only while the file
  // stays within what a restore reads back (kLargestSettingsFile): the keys
  // saved already come first, so a flood of new keys never pushes one out,
  // and each key left out is said once. A failure is said once, and the
  // save is tried again later.
  void Save(const PropertyView& current, const PersistedSettings& defaults) {
    if (!dirty_) return;
    const PersistFileLock lock(path_);
    PersistedSettings saved;
    bool damaged = false;
    int error = lock.error();
    if (error == 0 && !ReadPersistFile(path_, &saved, &damaged)) error = EIO;
    bool changed = damaged;
    size_t size = PersistFileHeaderSize();
    for (const auto& [key, value] : saved) size += EscapedLine(key, value).size();
    for (const bool existing : {true, false}) {
      current.ForEach([&](const std::string& key, const std::string& value) {
        const auto at = saved.find(key);
        if (error != 0 || (at != saved.end()) != existing) return;
        const auto stored_default = defaults.find(key);
        if (stored_default != defaults.end() && stored_default->second == value) {
          if (existing) size -= EscapedLine(key, at->second).size();
          if (existing) saved.erase(at);
          changed = changed || existing;
          return;
        }
        if (existing && at->second == value) return;
        const size_t old_line = existing ? EscapedLine(key, at->second).size() : 0;
        const size_t new_line = EscapedLine(key, value).size();
        if (size - old_line + new_line > kLargestSettingsFile) {
          if (refused_.insert(key).second) {
            Complain("%s is not saved: %s would grow past %zu MiB, the most a restore reads",
                     key.c_str(), path_.c_str(), kLargestSettingsFile >> 20);
          }
          return;
        }
        refused_.erase(key);
        size = size - old_line + new_line;
        saved[key] = value;
        changed = true;
      });
    }
    // A file that already holds every setting is left as it is.
    if (error == 0 && changed) error = WritePersistFile(path_, saved);
    if (error == 0) {
      if (said_error_ != 0) Note("saved %s again", path_.c_str());
      said_error_ = 0;
      dirty_ = false;
      saved_count_ = saved.size();
      return;
    }
    if (error != said_error_) {
      Complain("cannot save %s: %s; trying again every second", path_.c_str(), strerror(error));
    }
    said_error_ = error;
  }

 private:
  const std::string path_;
  bool dirty_;
  size_t saved_count_ = 0;
  int said_error_ = 0;
  std::set<std::string> refused_;  // keys said not to fit
};

}  // namespace

int RunPersistWatch(const Context& context, const std::string& path) {
  PersistedSettings saved;
  bool damaged = false;
  // A file that cannot be read cannot be added to either: writing only what
  // the store holds would erase the rest.
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  StopOnSignals();
  // A damaged file is written anew at once, with its sound lines.
  SavedFile file(path, damaged);
  // The stored defaults, read with each snapshot of the store.
  PersistedSettings defaults;
  StoreFollower follower(context.store, kPersistPrefix, [&] {
    defaults = ReadStoredDefaults(context.places.stored_defaults);
  });
  FollowNotes notes(context);
  follower.Start();
  notes.Say(follower);
  // What the store held when it could first be read is news to the file.
  bool taken_baseline = follower.has_baseline();
  if (taken_baseline) file.MarkDirty();
  file.Save(follower.current(), defaults);
  // Said once the file is in step with the store as it was found.
  Note("saving each change of a %s key in %s (%zu saved now); stop with a signal",
       kPersistPrefix, path.c_str(), file.size() != 0 ? file.size() : saved.size());
  std::vector<PropertyChange> changes;
  while (gStopRequested == 0) {
    // Waits a second at most, to try a failed save again and to see a stop
    // signal that came just before the wait began.
    follower.Next(StoreFollower::Clock::now() + kRetryInterval, &changes);
    notes.Say(follower);
    if (!changes.empty() || (!taken_baseline && follower.has_baseline())) file.MarkDirty();
    taken_baseline = taken_baseline || follower.has_baseline();
    file.Save(follower.current(), defaults);
  }
  // A change seen just before the signal is not lost.
  file.Save(follower.current(), defaults);
  return file.dirty() ? kExitFailed : kExitOk;
}


int RunPersistForget(const Context& context, const std::vector<const char*>& keys,
                     const std::string& path) {
  // The watch saves under the same lock: it reads the file again, so it
  // never writes back what is forgotten here.
  const PersistFileLock lock(path);
  if (lock.error() != 0) {
    Complain("cannot lock the directory of %s: %s", path.c_str(), strerror(lock.error()));
    return kExitFailed;
  }
  PersistedSettings saved;
  bool damaged = false;
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  std::vector<std::string> forgotten;
  for (const char* key : keys) {
    if (saved.erase(key) != 0) {
      forgotten.push_back(key);
    } else {
      Note("%s is not saved in %s", key, path.c_str());
    }
  }
  if (forgotten.empty() && !damaged) return kExitOk;
  if (const int error = WritePersistFile(path, saved)) {
    Complain("cannot save %s: %s", path.c_str(), strerror(error));
    return kExitFailed;
  }
  // Under the store's exclusive lock, as every change of the defaults file.
  const propstore::Transaction store(context.store);
  if (!store.status().ok()) return kExitOk;  // nothing stored to mark
  const std::string& defaults_path = context.places.stored_defaults;
  PersistedSettings defaults = ReadStoredDefaults(defaults_path);
  for (const std::string& key : forgotten) {
    if (const std::string* value = store.Find(key)) defaults[key] = *value;
  }
  if (const int error = WriteStoredDefaults(defaults_path, defaults)) {
    Complain("cannot mark the forgotten values in %s: %s", defaults_path.c_str(),
             strerror(error));
  }
  return kExitOk;
}

}  // namespace camprop
