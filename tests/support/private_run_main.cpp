// main() of every test program: isolate the store, say how, then run the
// tests. A private mount namespace where one can be had; otherwise (a
// container that forbids namespaces, a chroot whose root is not a mount
// point) a private directory standing in for /run. Refuses to run at all
// when neither works: the machine's /run is never used.
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/private_run.h"
#include "tests/support/redirected_run.h"

int main(int argc, char** argv) {
  std::string isolation = "private mount namespace";
  std::string no_namespace;
  if (!isputils_test::EnterPrivateRun(&no_namespace)) {
    std::string error;
    const std::string dir = isputils_test::EnterRedirectedRun(&error);
    if (dir.empty()) {
      fprintf(stderr,
              "\n*** FATAL: cannot isolate the property store for tests.\n"
              "*** No private mount namespace: %s.\n"
              "*** No stand-in for /run: %s.\n"
              "*** Tests never use the real /run.\n\n",
              no_namespace.c_str(), error.c_str());
      return 1;
    }
    isolation = "/run redirected to " + dir + " (no private mount namespace: " + no_namespace +
                "; tests that mount file systems skip)";
  }
  testing::InitGoogleTest(&argc, argv);
  // Once per program run, not in test listings or a death test's child.
  if (!GTEST_FLAG_GET(list_tests) && GTEST_FLAG_GET(internal_run_death_test).empty()) {
    printf("property store isolation: %s\n", isolation.c_str());
    fflush(stdout);
  }
  return RUN_ALL_TESTS();
}
