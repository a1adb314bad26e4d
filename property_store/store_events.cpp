// inotify on /run/camera and /run for the property watchers.
#include "property_store/internal/store_events.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>


namespace propstore {
namespace {

// A write shows as IN_MODIFY (and IN_CLOSE_WRITE after it), a new file as
// IN_CREATE, a replacement renamed over it as IN_MOVED_TO, a chmod as
// IN_ATTRIB; the rest say the file or the directory went away.
constexpr uint32_t kStoreEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO |
                                  IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF |
                                  IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kRunEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

constexpr int kPollMilliseconds = 1000;

bool Named(const inotify_event& event, const char* name) {
  return event.len != 0 && strcmp(event.name, name) == 0;
}

// The last component of `path`.
const char* LastName(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

}  // namespace

StoreEvents::StoreEvents(const Store& store) : store_(store), parent_(store.dir()) {
  while (parent_.size() > 1 && parent_.back() == '/') parent_.pop_back();
  const size_t slash = parent_.rfind('/');
  parent_ = slash == std::string::npos ? "." : parent_.substr(0, slash == 0 ? 1 : slash);
}

StoreEvents::~StoreEvents() {
  if (fd_ >= 0) close(fd_);
}

bool StoreEvents::Open() {
  fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd_ < 0) watch_error_ = errno;
  return fd_ >= 0;
}

bool StoreEvents::Arm() {
  if (fd_ < 0) return false;
  if (run_watch_ < 0) run_watch_ = store_.calls().inotify_add_watch(fd_, parent_.c_str(), kRunEvents);
  // The same directory gives back the same watch; a new one (the old was
  // removed or renamed away) a new watch, and the old one is dropped.
  const int watch = store_.calls().inotify_add_watch(fd_, store_.dir(), kStoreEvents);
  watch_error_ = watch < 0 ? errno : 0;
  if (store_watch_ >= 0 && watch != store_watch_) inotify_rm_watch(fd_, store_watch_);
  store_watch_ = watch;
  return watch >= 0;
}

bool StoreEvents::Wait(Clock::time_point deadline) {
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    // Without a watch on /run/camera (none to be had, refused, or the
    // directory is missing) only a look at the file tells of a change.
    const bool polling = store_watch_ < 0;
    const int timeout = left > kPollMilliseconds ? kPollMilliseconds : static_cast<int>(left);
    // While watched, the loop still wakes each second to re-check the
    // deadline; that costs nothing. poll() ignores a descriptor of -1.
    pollfd ready = {fd_, POLLIN, 0};
    const int count = poll(&ready, 1, timeout);
    if (count < 0) {
      // A signal: the caller may have been asked to stop.
      if (errno == EINTR) return true;
      // Should the kernel fail us, look once per timeout instead of spinning.
      usleep(static_cast<useconds_t>(timeout) * 1000);
      return true;
    }
    if (count > 0 && Drain()) return true;
    if (count == 0 && polling && Clock::now() < deadline) return true;
  }
}

bool StoreEvents::Drain() {
  bool concerns_store = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof(buffer));
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return concerns_store;
    }
    for (ssize_t at = 0; at < got;) {
      const inotify_event& event = *reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
      if ((event.mask & IN_Q_OVERFLOW) != 0) {
        concerns_store = true;  // events were lost: look anyway
      } else if (event.wd == store_watch_) {
        if ((event.mask & IN_IGNORED) != 0) store_watch_ = -1;  // the kernel dropped it
        if ((event.mask & kSelfEvents) != 0 || Named(event, kStorageFileName)) {
          concerns_store = true;
        }
      } else if (event.wd == run_watch_) {
        if ((event.mask & IN_IGNORED) != 0) run_watch_ = -1;
        if (Named(event, LastName(store_.dir()))) concerns_store = true;
      }
    }
  }
}

}  // namespace propstore
