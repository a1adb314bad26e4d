// main() of the test programs that reach the system's store at its fixed
// path: move into a private /run, then run the tests. Where none can be had,
// no test runs: the program says why and exits 77, which ctest takes for
// "skipped" (isputils_add_test sets SKIP_RETURN_CODE); the machine's /run
// is never used.
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/private_run.h"

int main(int argc, char** argv) {
  std::string error;
  const bool isolated = isputils_test::EnterPrivateRun(&error);
  testing::InitGoogleTest(&argc, argv);
  // A listing runs no test, and needs no private /run.
  if (!isolated && !GTEST_FLAG_GET(list_tests)) {
    printf("property store isolation: none, so no test runs (%s); tests never use the real "
           "/run\n", error.c_str());
    return 77;
  }
  // Once per program run, not in test listings or a death test's child.
  if (!GTEST_FLAG_GET(list_tests) && GTEST_FLAG_GET(internal_run_death_test).empty()) {
    printf("property store isolation: private mount namespace\n");
    fflush(stdout);
  }
  return RUN_ALL_TESTS();
}
