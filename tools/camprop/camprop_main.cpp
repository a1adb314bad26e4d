// camprop: inspects and changes the system properties of the camera stack
// from a console. Reads and writes the one property storage file under the
// same whole-file locks as every camera process, so it is safe to run while
// the camera is streaming.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tools/camprop/command_line.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/persist_file.h"
#include "tools/camprop/standard_output.h"

namespace {

int Run(const camprop::CommandLine& line) {
  const std::vector<const char*>& operand = line.operands;
  const std::string persist_path = line.file != nullptr ? line.file : camprop::kDefaultPersistPath;
  switch (line.command) {
    case camprop::Command::kGet:
      return camprop::RunGet(operand[0], operand.size() == 2 ? operand[1] : nullptr);
    case camprop::Command::kSet:
      return camprop::RunSet(operand[0], operand[1]);
    case camprop::Command::kList:
      return camprop::RunList();
    case camprop::Command::kCheck:
      return camprop::RunCheck();
    case camprop::Command::kWatch:
      return camprop::RunWatch(operand.empty() ? std::string() : operand[0], line.watch);
    case camprop::Command::kLoad:
      return camprop::RunLoad(operand, persist_path);
    case camprop::Command::kPersistRestore:
      return camprop::RunPersistRestore(persist_path);
    case camprop::Command::kPersistWatch:
      return camprop::RunPersistWatch(persist_path);
    case camprop::Command::kPersistForget:
      return camprop::RunPersistForget(operand, persist_path);
    case camprop::Command::kHelp:
      break;
  }
  return camprop::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  camprop::ProtectStandardStreams();
  // A store that root creates (its umask is often 022) stays writable for
  // the group camera, whose processes would otherwise be locked out until
  // the next boot; the files camprop replaces set their modes themselves.
  if (geteuid() == 0) {
    const mode_t mask = umask(0);
    umask(mask & ~static_cast<mode_t>(S_IRGRP | S_IWGRP));
  }
  camprop::CommandLine line;
  int status = camprop::ParseCommandLine(argc, argv, &line);
  if (status < 0) status = Run(line);
  // Output that never arrived is a failure, whatever the command found.
  return camprop::FinishStandardOutput(status);
}
