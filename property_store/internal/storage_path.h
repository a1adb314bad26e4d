// Where the property storage file lies: the one fixed path of the system,
// which nothing configures, and the directories above it. The store, the
// tools that inspect or watch the file, and the tests that isolate it all
// name it from here, so they cannot drift apart. Plain constants with no
// other dependency, for test-only libraries that include nothing else of
// the store.
//
// Thread-safety: constants only.
#ifndef PROPERTY_STORE_INTERNAL_STORAGE_PATH_H_
#define PROPERTY_STORE_INTERNAL_STORAGE_PATH_H_

namespace propstore {

// The directory that holds the store's directory; watchers look there for
// the store's directory coming and going.
inline constexpr char kRunDir[] = "/run";
// The store's directory: the file is created there when missing.
inline constexpr char kStorageDir[] = "/run/camera";
// The one storage file of the system.
inline constexpr char kStoragePath[] = "/run/camera/property_storage";

// True when `path` names an entry of the directory `dir`: `dir`, a '/',
// then one name.
constexpr bool IsEntryOf(const char* path, const char* dir) {
  for (; *dir != '\0'; ++path, ++dir) {
    if (*path != *dir) return false;
  }
  if (*path++ != '/' || *path == '\0') return false;
  for (; *path != '\0'; ++path) {
    if (*path == '/') return false;
  }
  return true;
}
static_assert(IsEntryOf(kStorageDir, kRunDir), "the store's directory lies in /run");
static_assert(IsEntryOf(kStoragePath, kStorageDir), "the file lies in the store's directory");

// The last component of each path, as a directory event names it: "camera"
// in /run, "property_storage" in /run/camera.
inline constexpr const char* kStorageDirName = kStorageDir + sizeof(kRunDir);
inline constexpr const char* kStorageFileName = kStoragePath + sizeof(kStorageDir);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STORAGE_PATH_H_
