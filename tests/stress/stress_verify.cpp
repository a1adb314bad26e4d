// End-of-run verification of the storage file.
#include "tests/stress/stress_verify.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include "propstore/properties.h"
#include "tests/stress/stress_check.h"
#include "tests/stress/stress_value.h"
#include "tests/support/private_run.h"

namespace propstore_stress {
namespace {

using isputils_test::kStoragePath;

void Problem(VerifyResult* result, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void Problem(VerifyResult* result, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  result->problems.push_back(text);
}

// Reads the whole file under the shared lock, as every reader of the store
// does. A missing file reads as empty.
bool ReadStore(std::string* bytes) {
  bytes->clear();
  const int fd = open(kStoragePath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT;
  bool ok = flock(fd, LOCK_SH) == 0;
  char chunk[16 * 1024];
  while (ok) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n == 0) break;
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    bytes->append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

std::string Lookup(const std::string& key, int* result) {
  char value[PROPERTY_VALUE_SIZE];
  *result = property_get(key.c_str(), value, nullptr);
  return *result >= 0 ? std::string(value) : std::string();
}

class Verifier {
 public:
  Verifier(const KeySet& keys, const SharedState& state, int writers, bool killed)
      : keys_(keys),
        state_(state),
        writers_(writers),
        killed_(killed),
        count_(keys.count(), 0),
        first_value_(keys.count()),
        last_append_seq_(writers, 0) {}

  VerifyResult Run() {
    std::string file;
    if (!ReadStore(&file)) {
      Problem(&result_, "cannot read the storage file: %s", strerror(errno));
      return result_;
    }
    result_.file_bytes = file.size();
    result_.partial_tail_bytes = file.size() % PROPERTY_RECORD_SIZE;
    if (result_.partial_tail_bytes != 0 && !killed_) {
      Problem(&result_, "partial trailing record of %llu bytes, yet no writer was killed",
              static_cast<unsigned long long>(result_.partial_tail_bytes));
    }
    const size_t whole = file.size() / PROPERTY_RECORD_SIZE;
    for (size_t i = 0; i < whole; ++i) CheckRecord(i, file.data() + i * PROPERTY_RECORD_SIZE);
    CheckKeys();
    CheckLookups();
    CheckStillWritable(whole);
    return result_;
  }

 private:
  void CheckRecord(size_t index, const char* record) {
    ++result_.records;
    const size_t key_length = strnlen(record, PROPERTY_KEY_SIZE);
    const size_t value_length = strnlen(record + PROPERTY_KEY_SIZE, PROPERTY_VALUE_SIZE);
    if (key_length == PROPERTY_KEY_SIZE || value_length == PROPERTY_VALUE_SIZE) {
      Problem(&result_, "record %zu: a field without its NUL", index);
      return;
    }
    const std::string key(record, key_length);
    const std::string value(record + PROPERTY_KEY_SIZE, value_length);
    const int id = keys_.Find(key);
    if (id < 0) {
      Problem(&result_, "record %zu: unknown key \"%s\"", index, key.c_str());
      return;
    }
    if (count_[id]++ == 0) first_value_[id] = value;
    const KeyKind kind = keys_.kind(id);
    if (kind != KeyKind::kAppend && count_[id] > 1) {
      Problem(&result_, "record %zu: second record of key \"%s\"", index, key.c_str());
    }
    // With every writer gone, an own key must hold its writer's last
    // completed value (or the one it was writing when it was killed).
    const uint64_t lower =
        kind == KeyKind::kOwn ? state_.slots[keys_.owner(id)].own_done.load() : 0;
    std::string why;
    if (!CheckValueOf(keys_, state_, writers_, id, value, lower, &why)) {
      Problem(&result_, "record %zu (key \"%s\"): %s", index, key.c_str(), why.c_str());
      return;
    }
    if (kind == KeyKind::kAppend) {
      ++result_.append_records;
      ValueStamp stamp;
      DecodeCheckedValue(value, &stamp, &why);
      uint64_t& last = last_append_seq_[keys_.owner(id)];
      if (stamp.seq <= last) {
        Problem(&result_, "record %zu: appends of writer %d out of order", index,
                keys_.owner(id));
      }
      last = stamp.seq;
    }
  }

  void CheckKeys() {
    for (int id = 0; id < keys_.count(); ++id) {
      if (count_[id] > 0) ++result_.keys_checked;
      if (state_.key_stored[id].load() != 0 && count_[id] == 0) {
        Problem(&result_, "key \"%s\" lost: an update returned 0 but no record exists",
                keys_.stored_name(id).c_str());
      }
      if (keys_.kind(id) != KeyKind::kAppend) continue;
      const SlotState& slot = state_.slots[keys_.owner(id)];
      const uint64_t done = slot.appends_done.load();
      const uint64_t started = slot.appends_started.load();
      if (count_[id] < done || count_[id] > started) {
        Problem(&result_, "writer %d: %llu append records, %llu appends completed, %llu begun",
                keys_.owner(id), static_cast<unsigned long long>(count_[id]),
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(started));
      }
    }
  }

  // Lookups through the API must answer what the file holds: the first
  // record of each key (so the prefix of an over-long key reads its oldest
  // append), and nothing for a key with no whole record.
  void CheckLookups() {
    for (int id = 0; id < keys_.count(); ++id) {
      int result = 0;
      const std::string seen = Lookup(keys_.stored_name(id), &result);
      ++result_.api_lookups;
      if (result < 0 || seen != first_value_[id]) {
        Problem(&result_, "lookup of \"%s\" gave %d \"%s\", the file holds \"%s\"",
                keys_.stored_name(id).c_str(), result, seen.c_str(),
                first_value_[id].c_str());
      }
    }
  }

  void CheckStillWritable(size_t whole_records) {
    const char kKey[] = "stress.after.run";
    const char kValue[] = "still writable";
    if (property_set(kKey, kValue) != 0) {
      Problem(&result_, "property_set of a new key failed after the run");
      return;
    }
    std::string file;
    ReadStore(&file);
    if (file.size() != (whole_records + 1) * PROPERTY_RECORD_SIZE) {
      Problem(&result_, "append after the run left %zu bytes, expected %zu", file.size(),
              (whole_records + 1) * PROPERTY_RECORD_SIZE);
    }
    int result = 0;
    if (Lookup(kKey, &result) != kValue) {
      Problem(&result_, "the record appended after the run does not read back");
    }
    const std::string& shared = keys_.stored_name(0);
    if (property_set(shared.c_str(), "") != 0 || Lookup(shared, &result) != "" ||
        result != 0) {
      Problem(&result_, "in-place update of \"%s\" after the run failed", shared.c_str());
    }
  }

  const KeySet& keys_;
  const SharedState& state_;
  const int writers_;
  const bool killed_;
  std::vector<uint64_t> count_;
  std::vector<std::string> first_value_;
  std::vector<uint64_t> last_append_seq_;
  VerifyResult result_;
};

}  // namespace

VerifyResult VerifyStore(const KeySet& keys, const SharedState& state, int writers,
                         bool writers_killed) {
  return Verifier(keys, state, writers, writers_killed).Run();
}

}  // namespace propstore_stress
