// End-of-run verification of the storage file.
#include "tests/stress/stress_verify.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include "property_store/internal/status_text.h"
#include "tests/stress/stress_check.h"
#include "tests/stress/stress_value.h"

namespace propstore_stress {
namespace {

using Code = propstore::Status::Code;

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

// Reads the whole file at `path` under the shared lock, as every reader of
// the store does. A missing file reads as empty.
bool ReadStore(const char* path, std::string* bytes) {
  bytes->clear();
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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

std::string Found(const std::string& value) { return "ok \"" + value + "\""; }

// What a lookup answers, as one comparable text: Found(value), "not found"
// (no record, or no file) or why it failed.
std::string Answer(const propstore::Store& store, const std::string& key) {
  char value[PROPERTY_VALUE_SIZE] = {};
  const propstore::Status status = store.Get(key.c_str(), value);
  if (status.ok()) return Found(std::string(value, strnlen(value, sizeof(value))));
  if (status.code() == Code::kNotFound || status.code() == Code::kNoFile) return "not found";
  return "failed: " + propstore::Reason(status);
}

class Verifier {
 public:
  Verifier(const propstore::Store& store, const KeySet& keys, const SharedState& state,
           int writers, bool killed)
      : store_(store),
        keys_(keys),
        state_(state),
        writers_(writers),
        killed_(killed),
        count_(keys.count(), 0),
        first_value_(keys.count()),
        last_append_seq_(writers, 0) {}

  VerifyResult Run() {
    std::string file;
    if (!ReadStore(store_.path(), &file)) {
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
        Problem(&result_, "key \"%s\" lost: an update succeeded but no record exists",
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

  // The store's lookups must answer what the file holds: the first record
  // of each key (so the prefix of an over-long key reads its oldest append),
  // and "not found" for a key with no whole record.
  void CheckLookups() {
    for (int id = 0; id < keys_.count(); ++id) {
      const std::string& key = keys_.stored_name(id);
      const std::string expected = count_[id] > 0 ? Found(first_value_[id]) : "not found";
      const std::string seen = Answer(store_, key);
      ++result_.api_lookups;
      if (seen != expected) {
        Problem(&result_, "lookup of \"%s\" gave %s, the file holds %s", key.c_str(),
                seen.c_str(), expected.c_str());
      }
    }
  }

  void CheckStillWritable(size_t whole_records) {
    const char kKey[] = "stress.after.run";
    const char kValue[] = "still writable";
    const propstore::Status status = store_.Set(kKey, kValue);
    if (!status.ok()) {
      Problem(&result_, "update of a new key failed after the run: %s",
              propstore::Reason(status).c_str());
      return;
    }
    std::string file;
    ReadStore(store_.path(), &file);
    if (file.size() != (whole_records + 1) * PROPERTY_RECORD_SIZE) {
      Problem(&result_, "append after the run left %zu bytes, expected %zu", file.size(),
              (whole_records + 1) * PROPERTY_RECORD_SIZE);
    }
    if (Answer(store_, kKey) != Found(kValue)) {
      Problem(&result_, "the record appended after the run does not read back");
    }
    const std::string& shared = keys_.stored_name(0);
    if (!store_.Set(shared.c_str(), "").ok() || Answer(store_, shared) != Found("")) {
      Problem(&result_, "in-place update of \"%s\" after the run failed", shared.c_str());
    }
  }

  const propstore::Store& store_;
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

VerifyResult VerifyStore(const propstore::Store& store, const KeySet& keys,
                         const SharedState& state, int writers, bool writers_killed) {
  return Verifier(store, keys, state, writers, writers_killed).Run();
}

}  // namespace propstore_stress
