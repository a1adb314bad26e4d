// A directory of the test's own under $TMPDIR (or /tmp), for a store on a
// directory and the files a test hands a program, removed whole at the end.
// Nothing of it is under /run: the machine's store is never near it.
//
// Thread-safety: make and destroy on the test's main thread; the paths may
// be used from any thread.
#ifndef TESTS_SUPPORT_TEMP_DIR_H_
#define TESTS_SUPPORT_TEMP_DIR_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace isputils_test {

// Intentionally neither copyable nor movable: it owns the directory.
class TempDir {
 public:
  // Makes the directory with `mode` (0755 lets a child that runs as another
  // user in); aborts when it cannot.
  explicit TempDir(mode_t mode = 0700);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // The names inside, sorted, without those that begin with '.'.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// Removes `path` and everything beneath it, without following links or
// crossing into other file systems.
void RemoveTree(const std::string& path);

// The whole file at `path`; "<none>" when it cannot be read.
std::string ReadFile(const std::string& path);

// Makes the file at `path` hold exactly `bytes` (mode 0666 less the umask
// for a new one). Returns false when it could not.
bool WriteFile(const std::string& path, const std::string& bytes);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_TEMP_DIR_H_
