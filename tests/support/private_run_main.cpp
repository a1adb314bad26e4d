// main() of every test program: isolate the store, say how, then run the
// tests. A private mount namespace where one can be had; otherwise (a
// container that forbids namespaces, a chroot whose root is not a mount
// point) a private directory standing in for /run. Refuses to run at all
// when neither works: the machine's /run is never used.
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/redirected_run.h"

int main(int argc, char** argv) {
  std::string isolation = "private mount namespace";
  std::string redirected_to, no_namespace, error;
  if (!isputils_test::IsolateStore(&redirected_to, &no_namespace, &error)) {
    fprintf(stderr,
            "\n*** FATAL: cannot isolate the property store for tests: %s.\n"
            "*** Tests never use the real /run.\n\n",
            error.c_str());
    return 1;
  }
  if (!redirected_to.empty()) {
    isolation = "/run redirected to " + redirected_to + " (no private mount namespace: " +
                no_namespace + "; tests that mount file systems skip)";
  }
  testing::InitGoogleTest(&argc, argv);
  // Once per program run, not in test listings or a death test's child.
  if (!GTEST_FLAG_GET(list_tests) && GTEST_FLAG_GET(internal_run_death_test).empty()) {
    printf("property store isolation: %s\n", isolation.c_str());
    fflush(stdout);
  }
  return RUN_ALL_TESTS();
}
