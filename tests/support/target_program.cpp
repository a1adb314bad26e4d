// The emulator's command, generated from the build's configuration.
#include "tests/support/target_program.h"

namespace isputils_test {
namespace {

// Empty natively; else the emulator's program (absolute) and its options.
const char* const kEmulator[] = {
#include "target_emulator.inc"
    nullptr};

}  // namespace

bool RunsUnderEmulator() { return kEmulator[0] != nullptr; }

std::vector<std::string> TargetCommand(const std::string& program,
                                       const std::vector<std::string>& arguments) {
  std::vector<std::string> command;
  for (const char* const* part = kEmulator; *part != nullptr; ++part) command.push_back(*part);
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

}  // namespace isputils_test
