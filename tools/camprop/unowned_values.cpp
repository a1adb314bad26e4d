// The records of the values nobody set, beside the store.
#include "tools/camprop/unowned_values.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/camprop/atomic_file.h"
#include "tools/camprop/main.h"
#include "tools/camprop/settings_file.h"

namespace camprop {
namespace {

// Readable by the group camera, which has no reason to write it.
constexpr mode_t kRecordMode = 0640;

}  // namespace

bool Holds(const ValueSets& values, const std::string& key, const std::string& value) {
  const auto at = values.find(key);
  return at != values.end() && at->second.count(value) != 0;
}

UnownedRecords::UnownedRecords(const Places& places) : places_(places) {
  records_[0].path = &places.stored_defaults;
  records_[0].what = " persist. values that camprop load stored as defaults\n";
  records_[1].path = &places.forgotten;
  records_[1].what = " persist. values whose saved setting camprop persist forget removed\n";
}

UnownedRecords::~UnownedRecords() {
  for (Record& record : records_) {
    if (record.fd >= 0) Calls().close(record.fd);
  }
}

void UnownedRecords::Open() {
  for (Record& record : records_) {
    if (record.fd >= 0) Calls().close(record.fd);
    // O_NONBLOCK: a FIFO planted there cannot hang the open (nor the lock).
    record.fd = Calls().open(record.path->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    record.error = record.fd < 0 ? errno : 0;
  }
}

std::string UnownedRecords::Read(UnownedValues* values) {
  // Not opened with a read of the store: there was none to lock, so no
  // writer of the store and its records was at work.
  if (records_[0].fd < 0 && records_[0].error == 0) Open();
  struct stat dir;
  const uid_t service = Calls().stat(DirectoryOf(places_.saved).c_str(), &dir) == 0
                            ? dir.st_uid : geteuid();
  std::string why;
  for (Record& record : records_) {
    const std::string reason = ReadRecord(&record, service);
    if (why.empty()) why = reason;
    // Read once: the next Read opens them anew.
    if (record.fd >= 0) Calls().close(record.fd);
    record.fd = -1;
    record.error = 0;
  }
  values->defaults = records_[0].values;
  values->forgotten = records_[1].values;
  return why;
}

std::string UnownedRecords::ReadRecord(Record* record, uid_t service) {
  record->trusted = false;
  record->values.clear();
  const std::string& path = *record->path;
  if (record->fd < 0) {
    return path + (record->error == ENOENT ? " is missing (camprop load writes it)"
                                           : std::string(": ") + DescribeSettingsError(record->error));
  }
  struct stat info;
  if (Calls().fstat(record->fd, &info) != 0) return path + ": " + strerror(errno);
  if (!S_ISREG(info.st_mode)) return path + " is not a regular file";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return path + " is writable by others than its owner";
  if (info.st_uid != 0 && info.st_uid != service && info.st_uid != geteuid()) {
    return path + " belongs to user " + std::to_string(info.st_uid) + ", not to the service";
  }
  SettingsFile file;
  if (const int error = ReadSettingsFrom(record->fd, &file)) return path + ": " + strerror(error);
  if (file.problem_count != 0 || file.cut) return path + " is damaged";
  for (Setting& setting : file.settings) {
    record->values[setting.key].insert(std::move(setting.value));
  }
  record->trusted = true;
  return "";
}

int UnownedRecords::Write(int which, const ValueSets& values) {
  Record& record = records_[which];
  if (record.trusted && record.values == values) return 0;
  std::string text = std::string(kEscapedFormatMark) + record.what;
  for (const auto& [key, set] : values) {
    for (const std::string& value : set) text += EscapedLine(key, value);
  }
  // Under the store's exclusive lock no other writer of the record is live.
  RemoveLeftoverTemporaries(*record.path);
  const int error = ReplaceFile(*record.path, text, kRecordMode);
  if (error != 0) return error;
  record.trusted = true;
  record.values = values;
  return 0;
}

}  // namespace camprop
