// The camprop program: command line, store, command, output.
#include "tools/camprop/main.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "property_store/internal/store.h"
#include "tools/camprop/command_line.h"
#include "tools/camprop/commands.h"
#include "tools/camprop/places.h"

namespace camprop {
namespace {

const propstore::Syscalls* gCalls = &propstore::kSystemCalls;

volatile sig_atomic_t gStopRequested = 0;

void RequestStop(int) { gStopRequested = 1; }

int Run(const CommandLine& line, const propstore::Syscalls& calls) {
  const Places places(line.root != nullptr ? line.root : "");
  propstore::Options options;
  options.calls = &calls;
  options.diagnose = true;
  // A lock another user holds never keeps a stopping command waiting.
  options.interrupted = StopRequested;
  const propstore::Store store(places.store_dir.c_str(), options);
  const Context context{places, store};
  const std::vector<const char*>& operand = line.operands;
  const std::string saved = line.file != nullptr ? line.file : places.saved;
  switch (line.command) {
    case Command::kGet:
      return RunGet(context, operand[0], operand.size() == 2 ? operand[1] : nullptr);
    case Command::kSet:
      return RunSet(context, operand[0], operand[1]);
    case Command::kList:
      return RunList(context);
    case Command::kCheck:
      return RunCheck(context);
    case Command::kWatch:
      return RunWatch(context, operand.empty() ? std::string() : operand[0], line.watch);
    case Command::kLoad:
      return RunLoad(context, operand, saved);
    case Command::kPersistRestore:
      return RunPersistRestore(context, saved);
    case Command::kPersistWatch:
      return RunPersistWatch(context, saved);
    case Command::kPersistForget:
      return RunPersistForget(context, operand, saved);
    case Command::kHelp:
      break;
  }
  return kExitOk;
}

}  // namespace

const propstore::Syscalls& Calls() { return *gCalls; }

void StopOnSignals() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
}

bool StopRequested() { return gStopRequested != 0; }

int Main(int argc, char** argv, const propstore::Syscalls& calls) {
  gCalls = &calls;
  ProtectStandardStreams();
  // A store that root creates (its umask is often 022) stays writable for
  // the group camera, whose processes would otherwise be locked out until
  // the next boot; the files camprop replaces set their modes themselves.
  if (geteuid() == 0) {
    const mode_t mask = umask(0);
    umask(mask & ~static_cast<mode_t>(S_IRGRP | S_IWGRP));
  }
  CommandLine line;
  int status = ParseCommandLine(argc, argv, &line);
  if (status < 0) status = Run(line, calls);
  // Output that never arrived is a failure, whatever the command found.
  return FinishStandardOutput(status);
}

}  // namespace camprop
