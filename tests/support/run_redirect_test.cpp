// The stand-in for /run (run_redirect.c): which paths it takes, the targets
// of links made through it, and a path it cannot take. Each test points it
// at a directory of its own for the test's length; the program itself runs
// isolated as every test program does, so a fault here cannot reach the
// machine's /run either.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/private_run.h"

namespace isputils_test {
namespace {

class RunRedirectTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* saved = getenv(kRunDirEnv);
    had_saved_ = saved != nullptr;
    if (had_saved_) saved_ = saved;
    char dir[] = "/tmp/isputils-redirect-test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    setenv(kRunDirEnv, dir_.c_str(), 1);
  }
  void TearDown() override {
    if (had_saved_) {
      setenv(kRunDirEnv, saved_.c_str(), 1);
    } else {
      unsetenv(kRunDirEnv);
    }
    RemoveTree(dir_);
  }

  std::string dir_;
  std::string saved_;
  bool had_saved_ = false;
};

TEST_F(RunRedirectTest, RunAndPathsBelowItAndLinkTargetsLandInTheStandIn) {
  struct stat run, stand_in;
  ASSERT_EQ(0, stat("/run", &run));
  ASSERT_EQ(0, stat(dir_.c_str(), &stand_in));
  EXPECT_EQ(stand_in.st_ino, run.st_ino);

  ASSERT_EQ(0, mkdir("/run/sub", 0755));
  const int fd = open("/run/sub/file", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(0, rename("/run/sub/file", "/run/sub/moved"));
  ASSERT_EQ(0, symlink("/run/sub/moved", "/run/link"));
  char target[PATH_MAX];
  const ssize_t length = readlink((dir_ + "/link").c_str(), target, sizeof(target));
  ASSERT_GT(length, 0);
  // The kernel follows the link, so it has to name the stand-in.
  EXPECT_EQ(dir_ + "/sub/moved", std::string(target, static_cast<size_t>(length)));
  EXPECT_EQ(0, access("/run/link", R_OK));

  // "/runaway" is not under /run: were it taken for it, it would name this.
  const std::string lookalike = dir_ + "away";
  const int made = open(lookalike.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(made, 0);
  close(made);
  EXPECT_NE(0, access("/runaway", F_OK));
  unlink(lookalike.c_str());
}

TEST_F(RunRedirectTest, PathTooLongOnceRedirectedFailsInsteadOfGoingAnywhere) {
  // Fits PATH_MAX as given, not once the stand-in's longer name replaces
  // "/run"; passed on cut or unchanged it would meet ENOENT instead.
  std::string path = "/run";
  while (path.size() + 2 < PATH_MAX - 1) path += "/d";
  errno = 0;
  EXPECT_EQ(-1, open(path.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(ENAMETOOLONG, errno);
  errno = 0;
  EXPECT_EQ(-1, mkdir(path.c_str(), 0755));
  EXPECT_EQ(ENAMETOOLONG, errno);
}

}  // namespace
}  // namespace isputils_test
