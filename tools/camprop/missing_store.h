// Why the storage file is missing or out of reach. A missing file is an
// empty store when the first update can create it; when /run/camera is
// missing or read-only every update fails, and the operator has to hear
// that, not "the store is empty". When the store is kept to a group the
// user is not in, the operator has to hear which group and how to join it,
// not only "permission denied". Each condition has one message, used by
// every sub-command.
//
// Thread-safety: looks at the file system on each call; only
// DescribePermissionDenied keeps state (its text), so call that from one
// thread.
#ifndef TOOLS_CAMPROP_MISSING_STORE_H_
#define TOOLS_CAMPROP_MISSING_STORE_H_

namespace camprop {

// What stands in the way of the storage file, once a reader found none.
enum class MissingStore {
  kNothingStored,  // the directory is there: the first update creates the file
  kNotPermitted,   // the directory is there, but this user may not create files in it
  kNoDirectory,    // /run/camera does not exist
  kNotDirectory,   // something other than a directory lies at /run/camera
  kReadOnly,       // /run/camera is on a read-only file system
};

// Looks at /run/camera to tell why the storage file is missing.
MissingStore DiagnoseMissingStore();

// The condition for an errno of a failed update, when it is one of the
// above (ENOENT, ENOTDIR, EROFS); false for any other error.
bool MissingStoreFromError(int error, MissingStore* why);

// The one message of each condition, e.g. "the directory /run/camera does
// not exist": a static text.
const char* DescribeMissingStore(MissingStore why);

// True when a property can be stored once the file is created (by this
// user, or by the users the camera processes run as); false when every
// update fails whoever runs it.
bool StoreCanBeCreated(MissingStore why);

// What the condition means for the store's content: "no property has been
// stored" or "no property can be stored". A static text.
const char* DescribeMissingStoreContent(MissingStore why);

// "permission denied" for the storage file, and, when /run/camera or the
// file lets a group in that this process is not in, which group it is and
// how to join it. The text is valid until the next call.
const char* DescribePermissionDenied();

}  // namespace camprop

#endif  // TOOLS_CAMPROP_MISSING_STORE_H_
