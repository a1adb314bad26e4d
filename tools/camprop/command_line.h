// The command line of camprop: a sub-command (of one or two words, as
// "persist restore"), its options, then its operands; --root DIR may also
// come before the command. Options come before the operands, as POSIX
// utilities take them:
// the first operand, or "--", ends them, so a value such as -1 needs no
// quoting and a key that begins with "-" is reached after "--". -h and
// --help work after every sub-command.
//
// Thread-safety: keeps no state.
#ifndef TOOLS_CAMPROP_COMMAND_LINE_H_
#define TOOLS_CAMPROP_COMMAND_LINE_H_

#include <stdio.h>

#include <vector>

#include "tools/camprop/commands.h"

namespace camprop {

enum class Command {
  kHelp, kGet, kSet, kList, kCheck, kWatch, kLoad, kPersistRestore, kPersistWatch,
  kPersistForget
};

// A parsed command line. The operand texts are argv's; argv outlives it.
struct CommandLine {
  Command command = Command::kHelp;
  std::vector<const char*> operands;
  WatchOptions watch;
  const char* file = nullptr;  // load, persist: --file PATH; null for the default
  const char* root = nullptr;  // --root DIR, before or after the command; null for none
};

// Parses argv into *line. Returns -1 when the command is to run; otherwise
// the exit status of a command line that is done with: kExitOk after
// printing the help on stdout for -h or --help, kExitUsage after a
// complaint and the usage on stderr.
int ParseCommandLine(int argc, char** argv, CommandLine* line);

// Writes the help text to `out`.
void PrintUsage(FILE* out);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_COMMAND_LINE_H_
