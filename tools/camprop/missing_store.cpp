// Telling an empty store from one that cannot be written at all.
#include "tools/camprop/missing_store.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "property_store/internal/storage_path.h"

namespace camprop {
namespace {

using propstore::kStorageDir;

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
bool OpenToAGroupWeAreNotIn(const char* path, gid_t* group) {
  struct stat info;
  if (stat(path, &info) != 0 || info.st_uid == geteuid() || InGroup(info.st_gid)) {
    return false;
  }
  const mode_t group_bits = (info.st_mode >> 3) & 07;
  const mode_t other_bits = info.st_mode & 07;
  *group = info.st_gid;
  return (group_bits & ~other_bits) != 0;
}

}  // namespace

MissingStore DiagnoseMissingStore() {
  struct stat info;
  if (stat(kStorageDir, &info) != 0) {
    if (errno == ENOENT) return MissingStore::kNoDirectory;
    return errno == ENOTDIR ? MissingStore::kNotDirectory : MissingStore::kNotPermitted;
  }
  if (!S_ISDIR(info.st_mode)) return MissingStore::kNotDirectory;
  // access() answers EROFS for a read-only file system whoever asks, so it
  // tells that apart from a mere lack of permission.
  if (access(kStorageDir, W_OK | X_OK) == 0) return MissingStore::kNothingStored;
  return errno == EROFS ? MissingStore::kReadOnly : MissingStore::kNotPermitted;
}

bool MissingStoreFromError(int error, MissingStore* why) {
  switch (error) {
    case ENOENT:  // creating the file: only a missing directory says this
      *why = MissingStore::kNoDirectory;
      return true;
    case ENOTDIR:
      *why = MissingStore::kNotDirectory;
      return true;
    case EROFS:
      *why = MissingStore::kReadOnly;
      return true;
    default:
      return false;
  }
}

const char* DescribePermissionDenied() {
  static char text[384];
  gid_t group;
  // Root is let in everywhere; a denial is then none of the group's doing.
  const char* where = nullptr;
  if (geteuid() != 0) {
    if (OpenToAGroupWeAreNotIn(kStorageDir, &group)) {
      where = kStorageDir;
    } else if (OpenToAGroupWeAreNotIn(propstore::kStoragePath, &group)) {
      where = propstore::kStoragePath;
    }
  }
  if (where == nullptr) return "permission denied";
  char group_name[64], user_name[64];
  const struct group* group_entry = getgrgid(group);
  const struct passwd* user_entry = getpwuid(geteuid());
  if (group_entry != nullptr) {
    snprintf(group_name, sizeof(group_name), "%s", group_entry->gr_name);
  } else {
    snprintf(group_name, sizeof(group_name), "%u", static_cast<unsigned>(group));
  }
  snprintf(user_name, sizeof(user_name), "%s",
           user_entry != nullptr ? user_entry->pw_name : "USER");
  snprintf(text, sizeof(text),
           "permission denied (%s is for the group %s, which this user is not in: join it "
           "with 'sudo usermod -aG %s %s' and log in again)",
           where, group_name, group_name, user_name);
  return text;
}

const char* DescribeMissingStore(MissingStore why) {
  switch (why) {
    case MissingStore::kNothingStored:
      return "/run/camera/property_storage does not exist";
    case MissingStore::kNotPermitted:
      return "/run/camera/property_storage does not exist, and this user may not create it";
    case MissingStore::kNoDirectory:
      return "the directory /run/camera does not exist";
    case MissingStore::kNotDirectory:
      return "/run/camera is not a directory";
    case MissingStore::kReadOnly:
      return "/run/camera is on a read-only file system";
  }
  return "/run/camera/property_storage does not exist";
}

bool StoreCanBeCreated(MissingStore why) {
  return why == MissingStore::kNothingStored || why == MissingStore::kNotPermitted;
}

const char* DescribeMissingStoreContent(MissingStore why) {
  return StoreCanBeCreated(why) ? "no property has been stored" : "no property can be stored";
}

}  // namespace camprop
