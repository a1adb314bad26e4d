// The pending lock that lets a waiting writer through (store.h tells the
// protocol): an OFD write lock on one byte of the storage file, far beyond
// any record, which a writer holds from before it asks for the exclusive
// flock until its descriptor is closed. OFD locks belong to the open file
// description, as flock locks do, so threads of one process exclude each
// other through it as processes do; and they never interact with flock, so
// processes that know only flock are not affected. The lock goes with the
// descriptor when its holder exits or is killed.
//
// Where OFD locks cannot be had (a file system or kernel without them) the
// store works with flock alone, as before.
//
// Thread-safety: keeps no state; each call works on its caller's descriptor.
#ifndef PROPERTY_STORE_INTERNAL_PENDING_LOCK_H_
#define PROPERTY_STORE_INTERNAL_PENDING_LOCK_H_

#include <sys/types.h>

#include "property_store/internal/syscalls.h"

namespace propstore {

// Far beyond the end of any store, and of no interest to anyone else.
inline constexpr off_t kPendingByte = off_t{1} << 62;

// For a lookup, before its shared lock: returns at once when no writer
// holds the pending lock (one call); otherwise waits until none does, or
// until kPendingWaitNs have passed.
void WaitForPendingWriter(const Syscalls& calls, int fd);

// For a writer, before its exclusive lock, on a descriptor open for
// writing: takes the pending lock, waiting for another writer that holds
// it for at most kPendingWaitNs. Returns whether it is held; the writer
// goes on without it otherwise.
bool TakePendingLock(const Syscalls& calls, int fd);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_PENDING_LOCK_H_
