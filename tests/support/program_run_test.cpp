// The runner of child processes (program_run.h): how a child's end reads
// back, and where its streams go. The camprop tests lean on the rest
// (terminals, other users, the waits).
#include "tests/support/program_run.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace isputils_test {
namespace {

TEST(ProgramRunTest, ChildrenReportTheirEndAsAShellDoes) {
  struct Row {
    const char* name;
    std::function<int()> body;
    int status;
  };
  const std::vector<Row> rows = {
      {"returns 0", [] { return 0; }, 0},
      {"returns 3", [] { return 3; }, 3},
      {"terminated", [] { return raise(SIGTERM); }, 128 + SIGTERM},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.status, ProgramRun(row.body).Finish().status);
  }

  ProgramRun waiting([]() -> int {
    for (;;) pause();
  });
  EXPECT_TRUE(waiting.StillRunningAfter(0));
  waiting.Signal(SIGKILL);
  EXPECT_EQ(128 + SIGKILL, waiting.Finish().status);
  EXPECT_EQ(128 + SIGKILL, waiting.Finish().status) << "a second Finish differs";

  const ProgramResult missing = RunProgram({"/nonexistent/program"});
  EXPECT_EQ(kCannotStartProgram, missing.status);
  const ProgramResult nothing = RunProgram({});
  EXPECT_EQ(-1, nothing.status);
  EXPECT_EQ("cannot start: no command", nothing.err);
}

TEST(ProgramRunTest, StreamsComeBackApartOrMergedInTheOrderWritten) {
  // stdio and plain writes alike: what stdio holds is flushed at the end.
  const std::function<int()> body = [] {
    printf("out 1;");
    fflush(stdout);
    fprintf(stderr, "err 1;");
    printf("out 2;");
    return 0;
  };
  ProgramRun apart(body);
  EXPECT_TRUE(apart.WaitForError("err 1;"));
  ProgramResult result = apart.Finish();
  EXPECT_EQ("out 1;out 2;", result.out);
  EXPECT_EQ("err 1;", result.err);

  ProgramOptions options;
  options.merged = true;
  result = ProgramRun(body, options).Finish();
  EXPECT_EQ("out 1;err 1;out 2;", result.out);
  EXPECT_EQ("", result.err);

  options = {};
  options.output = ChildOutput::kClosed;
  result = ProgramRun([] { return write(STDOUT_FILENO, "x", 1) < 0 && errno == EBADF ? 0 : 1; },
                      options)
               .Finish();
  EXPECT_EQ(0, result.status) << "standard output was open";

  options.output = ChildOutput::kFile;
  options.output_file = "/dev/full";
  result = ProgramRun([] { return write(STDOUT_FILENO, "x", 1) < 0 && errno == ENOSPC ? 0 : 1; },
                      options)
               .Finish();
  EXPECT_EQ(0, result.status) << "standard output was not /dev/full";
  EXPECT_EQ("", result.out);
}

}  // namespace
}  // namespace isputils_test
