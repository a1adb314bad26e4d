// Replacing a whole file so that a power cut at any instant leaves the old
// content or the new one, whole: a temporary file in the same directory,
// fsync, rename over the file, fsync of the directory.
//
// Thread-safety: keeps no state; two writers of one path each write their
// own temporary file, and the last rename wins whole.
#ifndef TOOLS_CAMPROP_ATOMIC_FILE_H_
#define TOOLS_CAMPROP_ATOMIC_FILE_H_

#include <sys/types.h>

#include <functional>
#include <string>

namespace camprop {

// Makes `path` a regular file of mode `mode` holding exactly `bytes`, as
// described above. A link at `path` is replaced, never followed. Run as
// root, the new file keeps the owner and group of the one it replaces.
// Returns 0, or the errno of the step that failed; the file is then as it
// was, and the temporary file is removed.
int ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode);

// As ReplaceFile, the content written to the temporary file's descriptor by
// `write`, which returns 0 or the errno of its failing write: a large file
// need not be held in memory whole.
int ReplaceFileWith(const std::string& path, mode_t mode, const std::function<int(int fd)>& write);

// The directory that holds `path`: "." for a bare name.
std::string DirectoryOf(const std::string& path);

// Writes all of `bytes` to `fd`. Returns 0 or the errno of the failing write.
int WriteAll(int fd, const std::string& bytes);

// Removes the temporary files of ReplaceFile beside `path` (PATH.XXXXXX)
// that a killed writer left. REQUIRES: the caller holds whatever lock
// orders the writers of `path`, so that none of them is live.
void RemoveLeftoverTemporaries(const std::string& path);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_ATOMIC_FILE_H_
