// Statuses in words.
#include "property_store/internal/status_text.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace propstore {
namespace {

using Code = Status::Code;

// True when this process's effective or supplementary groups hold `group`.
bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// True when `path` lets its group in further than everyone else, and this
// process is neither its owner nor in that group: joining the group is
// what would let it in. *group receives the group.
bool OpenToAGroupWeAreNotIn(const std::string& path, gid_t* group) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || info.st_uid == geteuid() || InGroup(info.st_gid)) {
    return false;
  }
  const mode_t group_bits = (info.st_mode >> 3) & 07;
  const mode_t other_bits = info.st_mode & 07;
  *group = info.st_gid;
  return (group_bits & ~other_bits) != 0;
}

// "permission denied", and, when the store's directory or file lets a group
// in that this process is not in, which group and how to join it.
std::string PermissionDenied(const std::string& file) {
  const size_t slash = file.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
  gid_t group;
  // Root is let in everywhere; a denial is then none of the group's doing.
  std::string where;
  if (geteuid() != 0) {
    if (OpenToAGroupWeAreNotIn(dir, &group)) {
      where = dir;
    } else if (OpenToAGroupWeAreNotIn(file, &group)) {
      where = file;
    }
  }
  if (where.empty()) return "permission denied";
  const struct group* group_entry = getgrgid(group);
  const struct passwd* user_entry = getpwuid(geteuid());
  const std::string group_name =
      group_entry != nullptr ? group_entry->gr_name : std::to_string(group);
  const std::string user_name = user_entry != nullptr ? user_entry->pw_name : "USER";
  return "permission denied (" + where + " is for the group " + group_name +
         ", which this user is not in: join it with 'sudo usermod -aG " + group_name + " " +
         user_name + "' and log in again)";
}

}  // namespace

std::string Reason(const Status& status) {
  const std::string path = status.path() != nullptr ? status.path() : "";
  switch (status.code()) {
    case Code::kOk:
      return "done";
    case Code::kNotFound:
      return "not stored";
    case Code::kNoFile:
      return path + " does not exist";
    case Code::kNotPermitted:
      return path + " does not exist, and this user may not create it";
    case Code::kNoDirectory:
      return "the directory " + path + " does not exist";
    case Code::kNotDirectory:
      return path + " is not a directory";
    case Code::kReadOnly:
      return path + " is on a read-only file system";
    case Code::kNotRegular:
      return status.error() == ELOOP ? "is a symbolic link; the store never follows one"
                                     : "is not a regular file";
    case Code::kLinked:
      return "has other hard links; the store never writes through one";
    case Code::kReplaced:
      return "it was replaced or removed each time this update took its lock";
    case Code::kWrite:
      if (status.error() == 0) return "the record did not reach the file";
      break;
    case Code::kOpen:
      if (status.error() == EACCES || status.error() == EPERM) return PermissionDenied(path);
      break;
    case Code::kLock:
    case Code::kRead:
    case Code::kShortFile:
    case Code::kNoSpace:
    case Code::kClose:
    case Code::kTooLong:
      break;
  }
  return strerror(status.error());
}

std::string ReadFailure(const Status& status) {
  const std::string path = status.path() != nullptr ? status.path() : "";
  if (status.code() == Code::kLock) return "cannot lock " + path + ": " + Reason(status);
  if (status.code() != Code::kRead) return "cannot read " + path + ": " + Reason(status);
  const uint64_t records = status.records();
  return "reading " + path + " failed after " + std::to_string(records) +
         (records == 1 ? " record: " : " records: ") + Reason(status);
}

std::string WatchErrorReason(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case ENOSPC:
      return "the limit of inotify watches is reached (fs.inotify.max_user_watches)";
    case EMFILE:
      return "the limit of inotify instances is reached (fs.inotify.max_user_instances)";
    default:
      return strerror(error);
  }
}

bool CanBeCreated(const Status& status) {
  return status.code() == Code::kNoFile || status.code() == Code::kNotPermitted;
}

const char* MissingContent(const Status& status) {
  return CanBeCreated(status) ? "no property has been stored" : "no property can be stored";
}

}  // namespace propstore
