// Telling an empty store from one that cannot be written at all.
#include "tools/camprop/missing_store.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

namespace camprop {
namespace {

constexpr char kStorageDir[] = "/run/camera";

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
