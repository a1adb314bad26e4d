// How an operation of the store engine ended: what failed, the errno of
// the call that failed, and the path it failed on, made where the failure
// happened so that whoever reports it never has to guess from an errno left
// behind. A lookup's two sound answers (stored, not stored) are statuses
// too. status_text.h turns one into words.
//
// Thread-safety: a plain value. Intentionally copyable.
#ifndef PROPERTY_STORE_INTERNAL_STATUS_H_
#define PROPERTY_STORE_INTERNAL_STATUS_H_

#include <stdint.h>

namespace propstore {

class Status {
 public:
  enum class Code : uint8_t {
    kOk,            // done; a lookup found its key
    kNotFound,      // a lookup found no record with its key
    kNoFile,        // the storage file does not exist: an empty store
    // Why a store that is missing cannot be created (diagnosed only where
    // the store was opened with Options::diagnose):
    kNotPermitted,  // the directory is there, but this user may not create files in it
    kNoDirectory,   // the store's directory does not exist
    kNotDirectory,  // something other than a directory lies at the store's directory
    kReadOnly,      // the store's directory is on a read-only file system
    kOpen,          // opening or creating the file failed (error: the open's errno)
    kNotRegular,    // a directory, FIFO, socket or device lies at the path
    kLinked,        // the file has other hard links: never written through (EMLINK)
    kReplaced,      // each time the lock was taken, the path named another file (EAGAIN)
    kLock,          // the lock could not be taken
    kRead,          // a read failed part-way; records() were read before it
    kShortFile,     // the locked file read shorter than its size: cut by
                    // someone who ignores the lock (EIO); nothing written
    kNoSpace,       // no room for a commit's records: none was written (ENOSPC)
    kWrite,         // a record did not all reach the file
    kClose,         // the close reported that the writes did not reach the file
    kTooLong,       // the store's directory name is too long (ENAMETOOLONG)
  };

  // Done.
  constexpr Status() = default;
  // `path` is not copied: it is the store's own, and lives as long as the
  // store does (for the system store, as long as the process).
  constexpr Status(Code code, int error, const char* path, uint64_t records = 0)
      : code_(code), error_(error), path_(path), records_(records) {}

  bool ok() const { return code_ == Code::kOk; }
  // A lookup's answer rather than a failure: stored, not stored, or no file.
  bool answered() const {
    return code_ == Code::kOk || code_ == Code::kNotFound || code_ == Code::kNoFile;
  }
  // No property is stored, and the store can say why: no file, or one of the
  // conditions that keep it from being created.
  bool missing() const { return code_ >= Code::kNoFile && code_ <= Code::kReadOnly; }

  Code code() const { return code_; }
  // errno of the call that failed; 0 when none did.
  int error() const { return error_; }
  // The path the failure concerns: the storage file, or its directory for
  // the conditions of a missing store. Null for a status made by default.
  const char* path() const { return path_; }
  // Whole records read before a read failed (kRead).
  uint64_t records() const { return records_; }

 private:
  Code code_ = Code::kOk;
  int error_ = 0;
  const char* path_ = nullptr;
  uint64_t records_ = 0;
};

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STATUS_H_
