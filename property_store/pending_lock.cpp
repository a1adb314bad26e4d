// Waiting for, and taking, the pending lock of a writer.
#include "property_store/internal/pending_lock.h"

#include <errno.h>
#include <fcntl.h>

#include "property_store/internal/store.h"

namespace propstore {
namespace {

// A waiter looks again after 50 us, then at doubling intervals up to 2 ms:
// a writer's turn takes microseconds, so most waits end at the first look,
// and a long one costs a look every 2 ms.
constexpr int64_t kFirstLookNs = 50 * 1000;
constexpr int64_t kLongestLookNs = 2 * 1000 * 1000;

struct flock PendingRange(short type) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = kPendingByte;
  range.l_len = 1;
  return range;
}

// True when another open file description holds the pending lock. An
// error (no OFD locks here) counts as none: flock alone still excludes.
bool WriterPending(const Syscalls& calls, int fd) {
  struct flock range = PendingRange(F_WRLCK);
  return calls.lock(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

// Calls `ready` at growing intervals until it returns true or
// kPendingWaitNs have passed since the first call. Returns its last answer.
template <typename Ready>
bool WaitUntil(const Syscalls& calls, Ready ready) {
  if (ready()) return true;
  const int64_t deadline = calls.now_ns() + kPendingWaitNs;
  for (int64_t look = kFirstLookNs;; look = look * 2 < kLongestLookNs ? look * 2 : kLongestLookNs) {
    const int64_t left = deadline - calls.now_ns();
    if (left <= 0) return false;
    calls.sleep_ns(look < left ? look : left);
    if (ready()) return true;
  }
}

}  // namespace

void WaitForPendingWriter(const Syscalls& calls, int fd) {
  WaitUntil(calls, [&] { return !WriterPending(calls, fd); });
}

bool TakePendingLock(const Syscalls& calls, int fd) {
  bool unavailable = false;
  const bool taken = WaitUntil(calls, [&] {
    struct flock range = PendingRange(F_WRLCK);
    if (calls.lock(fd, F_OFD_SETLK, &range) == 0) return true;
    // Held by another writer: wait. Anything else (EINVAL where OFD locks
    // are unknown, ENOLCK): go on with flock alone.
    unavailable = errno != EAGAIN && errno != EACCES && errno != EINTR;
    return unavailable;
  });
  return taken && !unavailable;
}

}  // namespace propstore
