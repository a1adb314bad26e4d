// camprop watch: prints each change of the properties as it happens. It
// sleeps on inotify, takes a snapshot of the file when woken (holding the
// shared lock only for the copy), and prints what differs from the last
// snapshot it could read. A file that is missing, replaced, damaged or
// unreadable for a while, and a /run/camera that comes and goes, are
// waited out, each said once on standard error.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "tools/camprop/commands.h"
#include "tools/camprop/missing_store.h"
#include "tools/camprop/property_view.h"
#include "tools/camprop/record_fields.h"
#include "tools/camprop/snapshot.h"
#include "tools/camprop/standard_output.h"
#include "tools/camprop/store_events.h"

namespace camprop {
namespace {

// Says each state of the store once, not at every wake-up.
class StateNote {
 public:
  void Say(const std::string& text) {
    if (text == said_) return;
    said_ = text;
    Complain("%s", text.c_str());
  }
  void Clear() { said_.clear(); }

 private:
  std::string said_;
};

// Reads the store into *view. Returns false, leaving *view as it was, when
// the file is there but cannot be read now: its properties are not gone.
bool ReadStore(const std::string& prefix, StateNote* note, PropertyView* view) {
  const Snapshot snapshot = TakeSnapshot();
  if (StoreIsMissing(snapshot.scan)) {
    const MissingStore why = DiagnoseMissingStore();
    note->Say(std::string(DescribeMissingStore(why)) + ": " +
              DescribeMissingStoreContent(why) + "; waiting for it");
    *view = PropertyView();
    return true;
  }
  if (snapshot.scan.status != ScanStatus::kOk) {
    note->Say(DescribeScanFailure(snapshot.scan) + "; waiting for it to be readable");
    return false;
  }
  note->Clear();
  *view = PropertyView(snapshot.records, prefix);
  return true;
}

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

StoreEvents::Clock::time_point Deadline(const WatchOptions& options) {
  if (options.timeout_seconds <= 0) return StoreEvents::Clock::time_point::max();
  return StoreEvents::Clock::now() +
         std::chrono::duration_cast<StoreEvents::Clock::duration>(
             std::chrono::duration<double>(options.timeout_seconds));
}

}  // namespace

int RunWatch(const std::string& prefix, const WatchOptions& options) {
  if (prefix.size() >= PROPERTY_KEY_SIZE) {
    Complain("prefix is %zu bytes long; a key holds at most %d bytes", prefix.size(),
             PROPERTY_KEY_SIZE - 1);
    return kExitUsage;
  }
  const StoreEvents::Clock::time_point deadline = Deadline(options);
  StoreEvents events;
  if (!events.Open()) {
    Complain("cannot watch /run/camera: %s", strerror(errno));
    return kExitFailed;
  }
  StateNote note;
  PropertyView current;
  // Armed before each snapshot, so a change made while it is taken wakes
  // the next wait instead of going unseen.
  events.Arm();
  ReadStore(prefix, &note, &current);
  if (prefix.empty()) {
    Complain("watching every key of %s (%zu stored now); interrupt to stop",
             propstore::kStoragePath, current.size());
  } else {
    Complain("watching keys starting with \"%s\" in %s (%zu stored now); interrupt to stop",
             prefix.c_str(), propstore::kStoragePath, current.size());
  }
  uint64_t printed = 0;
  while (events.Wait(deadline)) {
    events.Arm();
    PropertyView next;
    if (!ReadStore(prefix, &note, &next)) continue;
    const std::string time = TimeNow();
    for (const PropertyChange& change : next.ChangesSince(current)) {
      PrintChange(time, change);
      if (OutputFailed()) return kExitFailed;
      if (options.count != 0 && ++printed == options.count) return kExitOk;
    }
    current = std::move(next);
  }
  return kExitOk;
}

}  // namespace camprop
