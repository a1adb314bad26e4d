// The values of persist. keys that the store holds but nobody set, kept in
// two records beside the store, gone at every boot as the store is:
// ROOT/run/camera/persist_defaults, the defaults camprop load stored, and
// ROOT/run/camera/persist_forgotten, the values whose saved setting camprop
// persist forget removed. camprop persist watch saves neither kind; load
// puts a newer default over an older one, never over a forgotten value.
//
// A record is written whole or not at all (atomic_file.h), only under the
// store's exclusive lock, and read as it was while a lock was held, so it
// always describes the store of the same instant. It is readable by the
// group camera and writable only by its owner, who must be the service's
// user (the owner of the saved file's directory), root, or whoever runs
// camprop. One that is missing, not a regular file, writable by others,
// owned by anyone else, damaged or larger than a restore reads is not
// trusted: the watch then saves nothing, since any value could be a default,
// and load and forget write it anew.
//
// Thread-safety: an instance belongs to one thread.
#ifndef TOOLS_CAMPROP_UNOWNED_VALUES_H_
#define TOOLS_CAMPROP_UNOWNED_VALUES_H_

#include <map>
#include <set>
#include <string>

#include "tools/camprop/places.h"

namespace camprop {

// Values by key; a key may hold several while a load replaces defaults.
using ValueSets = std::map<std::string, std::set<std::string>>;

// True when `values` holds `value` for `key`.
bool Holds(const ValueSets& values, const std::string& key, const std::string& value);

// What both records hold. Intentionally copyable.
struct UnownedValues {
  ValueSets defaults;
  ValueSets forgotten;
};

// Both records of one store. Intentionally neither copyable nor movable:
// it owns descriptors.
class UnownedRecords {
 public:
  explicit UnownedRecords(const Places& places);
  ~UnownedRecords();
  UnownedRecords(const UnownedRecords&) = delete;
  UnownedRecords& operator=(const UnownedRecords&) = delete;

  // Opens both records as they are now; an open and nothing more, which
  // never blocks. REQUIRES: the caller holds the store's lock (a snapshot's
  // `under_lock`, or a transaction).
  void Open();

  // Reads what Open opened (or, when Open did not run since the last Read,
  // what is there now); the lock need no longer be held. Returns "" with
  // *values filled, or why a record is not trusted (its values are then
  // left empty; the other's are read all the same).
  std::string Read(UnownedValues* values);

  // Replaces the record of defaults, or of forgotten values, with `values`
  // when it holds others or was not trusted when read. Returns 0 or the
  // errno of the step that failed; the record is then as it was.
  // REQUIRES: the store's exclusive lock, and Read before.
  int WriteDefaults(const ValueSets& values) { return Write(0, values); }
  int WriteForgotten(const ValueSets& values) { return Write(1, values); }

 private:
  struct Record {
    const std::string* path;
    const char* what;  // for the record's first line
    int fd = -1;
    int error = 0;     // of the open
    bool trusted = false;
    ValueSets values;  // as read or written last
  };

  std::string ReadRecord(Record* record, uid_t service);
  int Write(int which, const ValueSets& values);

  const Places& places_;
  Record records_[2];
};

}  // namespace camprop

#endif  // TOOLS_CAMPROP_UNOWNED_VALUES_H_
