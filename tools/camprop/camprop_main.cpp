// camprop: inspects and changes the system properties of the camera stack
// from a console. Reads and writes the one property storage file under the
// same whole-file locks as every camera process, so it is safe to run while
// the camera is streaming.
#include <stdio.h>
#include <string.h>

#include "tools/camprop/commands.h"

namespace {

constexpr char kUsage[] =
    "usage: camprop get KEY [DEFAULT]   print the value of KEY (or DEFAULT)\n"
    "       camprop set KEY VALUE       store VALUE under KEY\n"
    "       camprop list                print every record in file order\n"
    "       camprop check               validate the storage file\n"
    "       camprop --help              print this help\n"
    "\n"
    "Properties live in /run/camera/property_storage. Keys hold at most 63\n"
    "bytes, values at most 91.\n"
    "\n"
    "Exit status: 0 done; 1 key not set, file damaged or unreadable, or store\n"
    "failed; 2 bad command line or over-long key or value.\n";

bool IsHelp(const char* argument) {
  return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0 ||
         strcmp(argument, "help") == 0;
}

// Follows a complaint about the command line.
int Usage() {
  fputs(kUsage, stderr);
  return camprop::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    camprop::Complain("missing command");
    return Usage();
  }
  const char* command = argv[1];
  const int operands = argc - 2;
  char** operand = argv + 2;
  if (IsHelp(command)) {
    fputs(kUsage, stdout);
    return camprop::kExitOk;
  }
  if (strcmp(command, "get") == 0) {
    if (operands < 1 || operands > 2) {
      camprop::Complain("get takes KEY [DEFAULT]");
      return Usage();
    }
    return camprop::RunGet(operand[0], operands == 2 ? operand[1] : nullptr);
  }
  if (strcmp(command, "set") == 0) {
    if (operands != 2) {
      camprop::Complain("set takes KEY VALUE");
      return Usage();
    }
    return camprop::RunSet(operand[0], operand[1]);
  }
  if (strcmp(command, "list") == 0 || strcmp(command, "check") == 0) {
    if (operands != 0) {
      camprop::Complain("%s takes no arguments", command);
      return Usage();
    }
    return command[0] == 'l' ? camprop::RunList() : camprop::RunCheck();
  }
  camprop::Complain("unknown command '%s'", command);
  return Usage();
}
