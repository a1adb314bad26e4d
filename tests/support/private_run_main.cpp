// main() of every test program: enter the private /run, then run the tests.
// Refuses to run at all when isolation cannot be had.
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/support/private_run.h"

int main(int argc, char** argv) {
  std::string error;
  if (!isputils_test::EnterPrivateRun(&error)) {
    fprintf(stderr,
            "\n*** FATAL: cannot isolate the property store for tests: %s\n"
            "*** Tests need a private mount namespace (run as root, or allow\n"
            "*** unprivileged user namespaces). They never use the real /run.\n\n",
            error.c_str());
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
