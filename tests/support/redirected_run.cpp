// A private directory under /tmp standing in for /run, for test programs
// that cannot have a private mount namespace.
#include "tests/support/redirected_run.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "tests/support/private_run.h"
#include "tests/support/target_program.h"

// Defined by run_redirect.c: the stand-in for /run, or null.
extern "C" const char* isputils_test_run_dir();

namespace isputils_test {
namespace {

// The stand-in this process made, removed when it exits; forked children
// (death tests, writers) exit too and must leave it alone.
char gOwnedDir[64];
pid_t gOwner = -1;

void RemoveOwnedDir() {
  if (getpid() == gOwner) RemoveTree(gOwnedDir);
}

std::string Reason(const std::string& step) { return step + ": " + strerror(errno); }

bool IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// The file the redirect library was loaded from. Naming its function here
// also keeps the library among the program's own, even for a linker that
// drops libraries a program does not call.
std::string RedirectLibraryPath() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&isputils_test_run_dir), &info) == 0 ||
      info.dli_fname == nullptr) {
    return "";
  }
  return info.dli_fname;
}

// Makes a new stand-in: world-searchable, so that children that drop to
// another user reach the store and the preloaded library in it, and on a
// file system that lets programs and libraries be loaded from it: a
// library that cannot be preloaded would leave a child with the real /run.
std::string MakeStandIn(std::string* error) {
  const char* parent = nullptr;
  for (const char* candidate : {"/tmp", "/var/tmp"}) {
    struct statvfs info;
    if (statvfs(candidate, &info) == 0 && (info.f_flag & ST_NOEXEC) == 0) {
      parent = candidate;
      break;
    }
  }
  if (parent == nullptr) {
    *error = "neither /tmp nor /var/tmp allows loading programs (mounted noexec)";
    return "";
  }
  snprintf(gOwnedDir, sizeof(gOwnedDir), "%s/isputils-run.XXXXXX", parent);
  if (mkdtemp(gOwnedDir) == nullptr) {
    *error = Reason(std::string("creating a directory under ") + parent);
    return "";
  }
  gOwner = getpid();
  atexit(RemoveOwnedDir);
  const std::string dir = gOwnedDir;
  const std::string camera = dir + "/camera";
  if (chmod(gOwnedDir, 0755) != 0 || mkdir(camera.c_str(), 0777) != 0 ||
      chmod(camera.c_str(), 0777) != 0) {
    *error = Reason("preparing " + dir);
    return "";
  }
  return dir;
}

// True when an open of `dir`'s probe file under its /run name reaches it:
// the calls of this process (and of the store library in it) are redirected.
bool RedirectTakesEffect(const std::string& dir) {
  const std::string name = "/.redirect-probe." + std::to_string(getpid());
  const std::string real = dir + name;
  const int made = open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (made < 0) return false;
  close(made);
  struct stat expected, seen;
  const int fd = open(("/run" + name).c_str(), O_RDONLY | O_CLOEXEC);
  const bool same = fd >= 0 && fstat(fd, &seen) == 0 && stat(real.c_str(), &expected) == 0 &&
                    seen.st_dev == expected.st_dev && seen.st_ino == expected.st_ino;
  if (fd >= 0) close(fd);
  unlink(real.c_str());
  return same;
}

}  // namespace

std::string EnterRedirectedRun(std::string* error) {
  const std::string library = RedirectLibraryPath();
  if (library.empty()) {
    *error = "cannot find the file of the redirect library (run_redirect.c)";
    return "";
  }
  unsetenv(kPrivateRunMarkerEnv);
  const char* inherited = getenv(kRunDirEnv);
  const bool adopted = inherited != nullptr && inherited[0] == '/' && IsDirectory(inherited);
  const std::string dir = adopted ? std::string(inherited) : MakeStandIn(error);
  if (dir.empty()) return "";
  setenv(kRunDirEnv, dir.c_str(), 1);
  if (!RedirectTakesEffect(dir)) {
    unsetenv(kRunDirEnv);
    *error = "the C library calls of this program do not reach " + dir + " for /run";
    return "";
  }
  if (!adopted) {
    // A copy in the stand-in, which every user may read, unlike a build tree
    // in a private home directory.
    const std::string preload = CopyIntoPrivateRun(library);
    if (preload.empty()) {
      unsetenv(kRunDirEnv);
      *error = Reason("copying " + library + " into " + dir);
      return "";
    }
    PreloadInChildren(preload);
  }
  return dir;
}

bool IsolateStore(std::string* redirected_to, std::string* no_namespace, std::string* error) {
  redirected_to->clear();
  if (EnterPrivateRun(no_namespace)) return true;
  std::string why;
  *redirected_to = EnterRedirectedRun(&why);
  if (!redirected_to->empty()) return true;
  *error = "no private mount namespace (" + *no_namespace + "), and no stand-in for /run (" +
           why + ")";
  return false;
}

}  // namespace isputils_test
