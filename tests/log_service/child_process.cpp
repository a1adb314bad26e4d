// Runs one scenario in a forked child with a fresh platform log level.
#include "tests/log_service/child_process.h"

#include <unistd.h>

#include "propstore/properties.h"
#include "tests/support/private_run.h"
#include "tests/support/program_run.h"

namespace isputils_test {

namespace {

constexpr char kLevelKey[] = "persist.qvx.camera.log_level";

}  // namespace

std::string RunWithLevelProperty(const char* level_property,
                                 const std::function<std::string()>& scenario) {
  ResetStore();
  if (level_property != nullptr && property_set(kLevelKey, level_property) != 0) {
    return "<child failed: cannot store the level property>";
  }
  // The scenario's result comes back as the child's standard output.
  const ProgramResult child = ProgramRun([&scenario] {
    const std::string result = scenario();
    size_t done = 0;
    while (done < result.size()) {
      const ssize_t n = write(STDOUT_FILENO, result.data() + done, result.size() - done);
      if (n <= 0) return 1;
      done += static_cast<size_t>(n);
    }
    return 0;
  }).Finish();
  if (child.status != 0) {
    return "<child failed: status " + std::to_string(child.status) + ": " + child.err + ">";
  }
  return child.out;
}

}  // namespace isputils_test
