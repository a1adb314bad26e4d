// A status of the store engine in words an engineer at a console
// understands, for the tools that report one. Each condition has one text,
// so every command names it alike.
//
// Thread-safety: keeps no state; looks at the file system (for the group
// that a denied permission asks for) on each call.
#ifndef PROPERTY_STORE_INTERNAL_STATUS_TEXT_H_
#define PROPERTY_STORE_INTERNAL_STATUS_TEXT_H_

#include <string>

#include "property_store/internal/status.h"

namespace propstore {

// Why the operation failed, or why nothing is stored, as the end of a
// sentence: "is a symbolic link; the store never follows one", "the
// directory /run/camera does not exist", "No space left on device". A
// denied permission names the group to join when the store's directory or
// file lets a group in that this process is not in.
std::string Reason(const Status& status);

// Why a store could not be read, as a whole sentence: "cannot read PATH:
// reason", "cannot lock PATH: reason", or "reading PATH failed after N
// records: reason".
std::string ReadFailure(const Status& status);

// Why the store's directory cannot be watched (StoreFollower::watch_error),
// in an operator's words.
std::string WatchErrorReason(int error);

// For a missing store: whether a first update can create it (by this user,
// or by the users the camera processes run as), so that properties can be
// stored at all.
bool CanBeCreated(const Status& status);

// For a missing store: "no property has been stored", or "no property can
// be stored" when CanBeCreated is false.
const char* MissingContent(const Status& status);

}  // namespace propstore

#endif  // PROPERTY_STORE_INTERNAL_STATUS_TEXT_H_
