// Programs of the target machine started from tests. A cross-built tree
// runs its tests through an emulator (CMAKE_CROSSCOMPILING_EMULATOR, e.g.
// QEMU's user mode); a program that a test starts, built for the same
// machine, has to go through it too.
//
// Thread-safety: safe to call from any thread.
#ifndef TESTS_SUPPORT_TARGET_PROGRAM_H_
#define TESTS_SUPPORT_TARGET_PROGRAM_H_

#include <string>
#include <vector>

namespace isputils_test {

// True when this build's programs run under an emulator.
bool RunsUnderEmulator();

// The argument vector that starts `program` with `arguments`: the program
// itself natively, the emulator's command before it in a cross-built tree.
// The first element is an absolute path, for execv.
std::vector<std::string> TargetCommand(const std::string& program,
                                       const std::vector<std::string>& arguments);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_TARGET_PROGRAM_H_
