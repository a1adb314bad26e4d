// camprop persist watch and forget, the commands that change the saved file.
//
// The watch follows the store and, after each change of a persist. key,
// writes the whole file anew (atomic_file.h) with the store's settings. A
// save takes the saved file's lock, then reads the store afresh with the
// records of the values nobody set (unowned_values.h) of the same instant,
// then the file: whatever a load or a forget did before it counts. A value
// that is its key's default is no one's setting, so it is not saved, and a
// saved key whose value is such a default leaves the file; a forgotten
// value is neither saved nor removed. Otherwise the file only gains and
// updates keys: a key missing from the store has merely not been stored yet
// (the store lives in /run), so a watch that starts early never erases what
// was saved. Where the records cannot be trusted nothing is saved.
#include <errno.h>
#include <string.h>

#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "property_store/internal/transaction.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/main.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/settings_file.h"
#include "tools/camprop/unowned_values.h"

namespace camprop {
namespace {

using propstore::PropertyChange;
using propstore::StoreFollower;

// How long a failed save waits before it is tried again.
constexpr std::chrono::seconds kRetryInterval{1};

// The saved file, and whether it lags behind the store.
class SavedFile {
 public:
  SavedFile(std::string path, bool damaged) : path_(std::move(path)), dirty_(damaged) {}

  size_t size() const { return saved_count_; }
  bool dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }

  // Makes the file hold the settings of the store as `follower` reads it
  // now, with `records` of the same instant, each only while the file stays
  // within what a restore reads back (kLargestSettingsFile): the keys saved
  // already come first, so a flood of new keys never pushes one out, and
  // each key left out is said once. A failure is said once, and the save is
  // tried again later.
  void Save(StoreFollower* follower, UnownedRecords* records) {
    if (!dirty_) return;
    const PersistFileLock lock(path_);
    int error = lock.error();
    if (error == 0 && !follower->Refresh()) error = follower->status().error() ? follower->status().error() : EIO;
    UnownedValues unowned;
    const std::string untrusted = error == 0 ? records->Read(&unowned) : "";
    if (!untrusted.empty()) {
      if (untrusted != said_untrusted_) Complain("not saving %s: %s", path_.c_str(), untrusted.c_str());
      said_untrusted_ = untrusted;
      return;
    }
    PersistedSettings saved;
    bool damaged = false;
    if (error == 0 && !ReadPersistFile(path_, &saved, &damaged)) error = EIO;
    if (error == 0) {
      bool changed = damaged;
      Merge(follower->current(), unowned, &saved, &changed);
      // A file that already holds every setting is left as it is.
      if (changed) error = WritePersistFile(path_, saved);
    }
    if (error == 0) {
      if (said_error_ != 0 || !said_untrusted_.empty()) Note("saved %s again", path_.c_str());
      said_error_ = 0;
      said_untrusted_.clear();
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
  // Takes the settings of `current` into *saved, within the size limit.
  void Merge(const propstore::PropertyView& current, const UnownedValues& unowned,
             PersistedSettings* saved, bool* changed) {
    size_t size = PersistFileHeaderSize();
    for (const auto& [key, value] : *saved) size += EscapedLine(key, value).size();
    // A file read cut short may hold more than fits: its last keys go (the
    // whole file is kept as PATH.bad).
    while (size > kLargestSettingsFile) {
      const auto last = std::prev(saved->end());
      size -= EscapedLine(last->first, last->second).size();
      Refuse(last->first);
      saved->erase(last);
      *changed = true;
    }
    for (const bool existing : {true, false}) {
      current.ForEach([&](const std::string& key, const std::string& value) {
        const auto at = saved->find(key);
        if ((at != saved->end()) != existing || Holds(unowned.forgotten, key, value)) return;
        const size_t old_line = existing ? EscapedLine(key, at->second).size() : 0;
        if (Holds(unowned.defaults, key, value)) {
          if (existing) saved->erase(at);
          size -= old_line;
          *changed = *changed || existing;
          return;
        }
        if (existing && at->second == value) return;
        const size_t new_line = EscapedLine(key, value).size();
        if (size - old_line + new_line > kLargestSettingsFile) return Refuse(key);
        refused_.erase(key);
        size = size - old_line + new_line;
        (*saved)[key] = value;
        *changed = true;
      });
    }
  }

  void Refuse(const std::string& key) {
    if (!refused_.insert(key).second) return;
    Complain("%s is not saved: %s would grow past %zu MiB, the most a restore reads", key.c_str(),
             path_.c_str(), kLargestSettingsFile >> 20);
  }

  const std::string path_;
  bool dirty_;
  size_t saved_count_ = 0;
  int said_error_ = 0;
  std::string said_untrusted_;
  std::set<std::string> refused_;  // keys said not to fit
};

}  // namespace

int RunPersistWatch(const Context& context, const std::string& path) {
  PersistedSettings saved;
  bool damaged = false;
  // A file that cannot be read cannot be added to either: writing only what
  // the store holds would erase the rest.
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  // A stop signal ends the watch between two saves, never inside one.
  StopOnSignals();
  // A damaged file is written anew at once, with its sound lines.
  SavedFile file(path, damaged);
  // The records are opened with each read of the store, under its lock.
  UnownedRecords records(context.places);
  StoreFollower follower(context.store, kPersistPrefix, [&records] { records.Open(); });
  FollowNotes notes(context);
  follower.Start();
  notes.Say(follower);
  // What the store held when it could first be read is news to the file.
  bool taken_baseline = follower.has_baseline();
  if (taken_baseline) file.MarkDirty();
  file.Save(&follower, &records);
  // Said once the file is in step with the store as it was found.
  Note("saving each change of a %s key in %s (%zu saved now); stop with a signal",
       kPersistPrefix, path.c_str(), file.size() != 0 ? file.size() : saved.size());
  std::vector<PropertyChange> changes;
  while (!StopRequested()) {
    // Waits a second at most, to try a failed save again and to see a stop
    // signal that came just before the wait began.
    follower.Next(StoreFollower::Clock::now() + kRetryInterval, &changes);
    notes.Say(follower);
    if (!changes.empty() || (!taken_baseline && follower.has_baseline())) file.MarkDirty();
    taken_baseline = taken_baseline || follower.has_baseline();
    file.Save(&follower, &records);
  }
  // A change seen just before the signal is not lost.
  file.Save(&follower, &records);
  return file.dirty() ? kExitFailed : kExitOk;
}

int RunPersistForget(const Context& context, const std::vector<const char*>& keys,
                     const std::string& path) {
  // The watch saves under the same lock, with the store and its records
  // read afresh: it never writes back what is forgotten here.
  const PersistFileLock lock(path);
  if (lock.error() != 0) {
    Complain("cannot lock %s: %s", path.c_str(), strerror(lock.error()));
    return kExitFailed;
  }
  PersistedSettings saved;
  bool damaged = false;
  if (!ReadPersistFile(path, &saved, &damaged)) return kExitFailed;
  std::string forgotten;  // the keys removed, for a complaint
  for (const char* key : keys) {
    if (saved.erase(key) != 0) {
      forgotten += std::string(forgotten.empty() ? "" : " ") + key;
    } else {
      Note("%s is not saved in %s", key, path.c_str());
    }
  }
  // The store's values of the keys are marked first, also those not saved
  // yet (a save the watch is retrying): once the file is written, neither
  // the watch nor a load can put them back, and until then the file keeps
  // them.
  propstore::Transaction store(context.store);
  UnownedRecords records(context.places);
  UnownedValues unowned;
  // No store, no value to mark.
  int error = store.status().ok() || store.status().missing() ? 0 : store.status().error();
  if (store.status().ok()) {
    records.Open();
    records.Read(&unowned);
    for (const char* key : keys) {
      const std::string* value = store.Find(key);
      if (value != nullptr && !Holds(unowned.defaults, key, *value)) unowned.forgotten[key].insert(*value);
    }
    error = records.WriteForgotten(unowned.forgotten);
  }
  store.Close();
  if (error != 0) {
    Complain("cannot mark the forgotten values in %s: %s; nothing is forgotten",
             context.places.forgotten.c_str(), strerror(error));
    return kExitFailed;
  }
  if (forgotten.empty() && !damaged) return kExitOk;
  if (const int write_error = WritePersistFile(path, saved)) {
    Complain("cannot save %s: %s; still saved: %s", path.c_str(), strerror(write_error),
             forgotten.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace camprop
