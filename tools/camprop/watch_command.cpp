// camprop watch: prints each change of the properties as it happens, as
// the store's follower finds them: one line per change, stamped with the
// local time. Also what both watching commands say of the store.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "tools/camprop/commands.h"
#include "tools/camprop/output.h"
#include "property_store/internal/status_text.h"

namespace camprop {
namespace {

using propstore::PropertyChange;
using propstore::StoreFollower;

// The local time to the millisecond, as 2026-12-08T17:20:01.123.
std::string TimeNow() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char text[40];
  const size_t length = strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &local);
  snprintf(text + length, sizeof(text) - length, ".%03ld", now.tv_nsec / 1000000);
  return text;
}

void PrintSide(const std::optional<std::string>& value, const char* absent) {
  if (!value) {
    fputs(absent, stdout);
    return;
  }
  fputc('[', stdout);
  PrintEscaped(stdout, *value);
  fputc(']', stdout);
}

void PrintChange(const std::string& time, const PropertyChange& change) {
  printf("%s [", time.c_str());
  PrintEscaped(stdout, change.key);
  fputs("]: ", stdout);
  PrintSide(change.old_value, "(new)");
  fputs(" -> ", stdout);
  PrintSide(change.new_value, "(removed)");
  fputc('\n', stdout);
  // Whoever reads the watch reads it live.
  fflush(stdout);
}

StoreFollower::Clock::time_point Deadline(const WatchOptions& options) {
  if (options.timeout_seconds <= 0) return StoreFollower::Clock::time_point::max();
  return StoreFollower::Clock::now() +
         std::chrono::duration_cast<StoreFollower::Clock::duration>(
             std::chrono::duration<double>(options.timeout_seconds));
}

}  // namespace

void FollowNotes::Say(const StoreFollower& follower) {
  const auto once = [this](const std::string& text) {
    if (text != said_) Complain("%s", text.c_str());
    said_ = text;
  };
  const int error = follower.watch_error();
  if (error != 0 && error != said_watch_error_) {
    said_watch_error_ = error;
    Complain("cannot watch %s: %s; reading %s once a second instead",
             context_.places.store_dir.c_str(), propstore::WatchErrorReason(error).c_str(), context_.store.path());
  }
  const propstore::Status& status = follower.status();
  if (status.missing()) {
    once(propstore::Reason(status) + ": " + propstore::MissingContent(status) + "; waiting for it");
  } else if (!status.ok()) {
    once(propstore::ReadFailure(status) + "; waiting for it to be readable");
  } else if (said_unreadable_) {
    // Whoever read that it could not be read hears that it can again.
    Complain("%s can be read again", context_.store.path());
  }
  said_unreadable_ = !status.ok() && !status.missing();
  if (status.ok()) said_.clear();
}

int RunWatch(const Context& context, const std::string& prefix, const WatchOptions& options) {
  if (prefix.size() >= PROPERTY_KEY_SIZE) {
    Complain("prefix is %zu bytes long; a key holds at most %d bytes", prefix.size(),
             PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  const StoreFollower::Clock::time_point deadline = Deadline(options);
  StoreFollower follower(context.store, prefix);
  FollowNotes notes(context);
  follower.Start();
  notes.Say(follower);
  if (prefix.empty()) {
    Complain("watching every key of %s (%zu stored now); interrupt to stop",
             context.store.path(), follower.current().size());
  } else {
    Complain("watching keys starting with \"%s\" in %s (%zu stored now); interrupt to stop",
             prefix.c_str(), context.store.path(), follower.current().size());
  }
  uint64_t printed = 0;
  std::vector<PropertyChange> changes;
  while (follower.Next(deadline, &changes)) {
    notes.Say(follower);
    if (changes.empty()) continue;
    const std::string time = TimeNow();
    for (const PropertyChange& change : changes) {
      PrintChange(time, change);
      if (OutputFailed()) return kExitFailed;
      if (options.count != 0 && ++printed == options.count) return kExitOk;
    }
  }
  return kExitOk;
}

}  // namespace camprop
