// camprop watch: prints each change of the properties as it happens, as
// the store follower (store_follower.h) finds them: one line per change,
// stamped with the local time.
#include <stdio.h>
#include <time.h>

#include <string>
#include <vector>

#include "tools/camprop/commands.h"
#include "tools/camprop/property_view.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/standard_output.h"
#include "tools/camprop/store_follower.h"

namespace camprop {
namespace {

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

int RunWatch(const std::string& prefix, const WatchOptions& options) {
  if (prefix.size() >= PROPERTY_KEY_SIZE) {
    Complain("prefix is %zu bytes long; a key holds at most %d bytes", prefix.size(),
             PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  const StoreFollower::Clock::time_point deadline = Deadline(options);
  StoreFollower follower(prefix);
  follower.Start();
  if (prefix.empty()) {
    Complain("watching every key of %s (%zu stored now); interrupt to stop",
             propstore::kStoragePath, follower.current().size());
  } else {
    Complain("watching keys starting with \"%s\" in %s (%zu stored now); interrupt to stop",
             prefix.c_str(), propstore::kStoragePath, follower.current().size());
  }
  uint64_t printed = 0;
  std::vector<PropertyChange> changes;
  while (follower.Next(deadline, &changes)) {
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
