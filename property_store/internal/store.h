// The property store engine: one object opened on a directory that owns
// every read and write of the storage file kept there, "DIR/property_storage"
// (LevelDB's DB::Open(options, name) is the model). The C interface is a
// thin client of the system's store at the fixed "/run/camera"; camprop and
// the tests are clients on any directory. Nothing else reads or writes
// records: a lookup and a one-key update are here, a copy of every record
// under the shared lock in snapshot.h, and a change of many keys in one
// commit in transaction.h.
//
// Every operation opens the file, takes its locks, scans the records from
// the start and closes it: nothing is cached between calls, so any number
// of stores (in this process and in others) on one directory see each
// other's changes at once.
//
// Locks. Lookups take flock(LOCK_SH) on the file, updates flock(LOCK_EX),
// as every older build of this store and any other reader of the file do.
// On its own, flock grants a shared lock while a writer waits, so lookups
// that overlap keep a writer out for as long as they keep coming. So a
// writer that cannot have the file at once takes a pending lock (an OFD
// lock on one byte far beyond any record, SQLite's pending byte) and keeps
// it until it is done; a lookup that finds the pending lock taken waits for
// the writer before it takes its shared lock. A writer then waits only for the lookups already under
// way. A lookup never waits for the pending lock longer than
// kPendingWaitNs (100 ms): should a process stop while it holds the shared
// lock (a debugger, SIGSTOP), the writer behind it waits for it, and other
// lookups go on after that wait. A writer waits as long for another
// writer's pending lock before it goes on without one.
// A process that takes only flock is excluded exactly as before; it gets
// no fairness (its writer can wait behind overlapping lookups, and lookups
// of its own can hold a writer of this engine back).
//
// What a reader sees when a writer is cut short:
//  - a commit that runs out of space writes nothing: the room for its
//    records is reserved before its first write;
//  - a commit killed part-way has written some records and not the others,
//    each record whole or, for appended ones, cut into a partial tail that
//    every reader ignores and the next append overwrites; a value written
//    in place that straddles a page of the file can be cut at the page's
//    end, as any single write can.
//
// Thread-safety: a Store is immutable once made and may be used from any
// thread; each operation holds its own descriptor and its own locks, so
// operations of one process exclude each other as those of different
// processes do.
#ifndef PROPERTY_STORE_INTERNAL_STORE_H_
#define PROPERTY_STORE_INTERNAL_STORE_H_

#include <limits.h>
#include <stdint.h>

#include "property_store/internal/record.h"
#include "property_store/internal/status.h"
#include "property_store/internal/storage_path.h"
#include "property_store/internal/syscalls.h"

namespace propstore {

// The longest a lookup, or a writer's wait for another writer's pending
// lock, waits for a pending lock.
inline constexpr int64_t kPendingWaitNs = 100 * 1000 * 1000;

// How a store is opened. Intentionally copyable.
struct Options {
  // The C-library calls the store makes; tests replace some.
  const Syscalls* calls = &kSystemCalls;
  // Tell why a missing store cannot be created (Status::kNoDirectory and
  // its kin) at the cost of looking at the directory: for tools that
  // explain; the C interface does not.
  bool diagnose = false;
  // Asked when a signal interrupts a wait for the file's lock: true ends
  // the wait (kLock, EINTR), so that a tool can stop on SIGTERM while
  // another process holds the lock; null (the C interface) waits on.
  bool (*interrupted)() = nullptr;
};

// Intentionally neither copyable nor movable: its names may point into
// itself.
class Store {
 public:
  // The system's store, "/run/camera/property_storage", which nothing
  // configures.
  constexpr Store() : dir_(kStorageDir), path_(kStoragePath), names_{} {}

  // The store kept in the directory `dir` (copied). Nothing is touched
  // until an operation runs; a directory whose name is too long makes every
  // operation fail (kTooLong).
  explicit Store(const char* dir, const Options& options = Options());

  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const char* dir() const { return dir_; }
  const char* path() const { return path_; }
  const Options& options() const { return options_; }
  const Syscalls& calls() const { return *options_.calls; }

  // Looks `key` up: kOk with the stored value (at most 91 bytes and a NUL)
  // in `value`, copied from the first record with this key; kNotFound, or
  // kNoFile for a missing file, with `value` untouched; or why the file
  // could not be read, also with `value` untouched (a read error part-way
  // ends the search). A key of 64 bytes or more matches no record and
  // touches no file.
  // REQUIRES: key is NUL-terminated; value has room for
  // PROPERTY_VALUE_SIZE bytes.
  Status Get(const char* key, char* value) const;

  // Stores `value` under `key`, a one-key transaction: rewrites the value
  // of the first record with this key in place, or appends a record
  // (creating the file when it is missing). Over-long texts are cut to 63
  // (key) and 91 (value) bytes; a key of 64 bytes or more never matches a
  // stored key, so each such update appends a record. kOk once the record
  // has reached the file at the path, which the update checks still names
  // the file it locked, alone (a file replaced meanwhile is left alone and
  // the one at the path opened again; one with other hard links is
  // refused).
  // REQUIRES: key and value are NUL-terminated.
  Status Set(const char* key, const char* value) const;

 private:
  Options options_;
  const char* dir_;
  const char* path_;
  // "DIR\0DIR/property_storage\0" for a store opened on a directory.
  char names_[PATH_MAX];
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORE_H_
