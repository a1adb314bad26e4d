// Parsing camprop's command line: the sub-command, the options it takes,
// and how many operands.
#include "tools/camprop/command_line.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace camprop {
namespace {

constexpr char kUsage[] =
    "usage: camprop [--root DIR] COMMAND ...\n"
    "       camprop get [--] KEY [DEFAULT]   print the value of KEY (or DEFAULT)\n"
    "       camprop set [--] KEY VALUE       store VALUE under KEY\n"
    "       camprop list                     print every record in file order\n"
    "       camprop check                    validate the storage file\n"
    "       camprop watch [--count N] [--timeout SECONDS] [--] [PREFIX]\n"
    "                                        print each change of a key starting with\n"
    "                                        PREFIX as it happens: TIME [KEY]: [OLD] -> [NEW]\n"
    "       camprop load [--file PATH] [--] [FILE...]\n"
    "                                        store the KEY=VALUE lines of each FILE\n"
    "                                        (default: /etc/camera/properties.d/*.conf),\n"
    "                                        then the persist. settings saved in PATH\n"
    "       camprop persist restore [--file PATH]\n"
    "                                        store the persist. settings saved in PATH\n"
    "       camprop persist watch [--file PATH]\n"
    "                                        save each change of a persist. setting in PATH\n"
    "       camprop persist forget [--file PATH] [--] KEY...\n"
    "                                        forget the saved setting of each KEY\n"
    "       camprop --help                   print this help (also after a command)\n"
    "\n"
    "Properties live in /run/camera/property_storage; keys hold at most 63 bytes,\n"
    "values at most 91. PATH is /var/lib/camera/persist.properties unless given.\n"
    "--root DIR works on DIR/run/camera, DIR/etc/camera/properties.d and\n"
    "DIR/var/lib/camera instead; --file is taken as given. Options come before the\n"
    "operands; \"--\" ends them. Exit status: 0 done; 1 not set, damaged, unreadable\n"
    "or failed; 2 bad command line or input. See camprop(1).\n";

struct CommandEntry {
  const char* name;
  const char* word;  // the second word of a two-word command, or null
  Command command;
  size_t min_operands;
  size_t max_operands;
  const char* operands;  // how to call it, for complaints
};

constexpr size_t kAnyNumber = ~size_t{0};

constexpr CommandEntry kCommands[] = {
    {"get", nullptr, Command::kGet, 1, 2, "KEY [DEFAULT]"},
    {"set", nullptr, Command::kSet, 2, 2, "KEY VALUE"},
    {"list", nullptr, Command::kList, 0, 0, "no arguments"},
    {"check", nullptr, Command::kCheck, 0, 0, "no arguments"},
    {"watch", nullptr, Command::kWatch, 0, 1, "at most one PREFIX"},
    {"load", nullptr, Command::kLoad, 0, kAnyNumber, "files"},
    {"persist", "forget", Command::kPersistForget, 1, kAnyNumber, "at least one KEY"},
    {"persist", "restore", Command::kPersistRestore, 0, 0, "no arguments"},
    {"persist", "watch", Command::kPersistWatch, 0, 0, "no arguments"},
};

// The longest timeout taken; far beyond any session, far below overflow.
constexpr double kMaxTimeoutSeconds = 1e9;

bool IsHelpOption(const char* argument) {
  return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0;
}

int UsageError() {
  PrintUsage(stderr);
  return kExitUsage;
}

bool TakeCount(const char* text, CommandLine* line) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0) return false;
  line->watch.count = value;
  return true;
}

// Plain decimal notation only, as an operator writes seconds: digits with
// at most one point. strtod alone would also take "0x10" (16 s), "1e3",
// "inf" and blanks.
bool TakeSeconds(const char* text, CommandLine* line) {
  if (strspn(text, "0123456789.") != strlen(text) || strchr(text, '.') != strrchr(text, '.') ||
      strpbrk(text, "0123456789") == nullptr) {
    return false;
  }
  const double value = strtod(text, nullptr);
  if (!isfinite(value) || value <= 0 || value > kMaxTimeoutSeconds) return false;
  line->watch.timeout_seconds = value;
  return true;
}

struct OptionEntry {
  const char* name;
  bool (*applies)(Command command);
  bool (*take)(const char* value, CommandLine* line);
  const char* complaint;  // of a bad value, which is its %s
};

constexpr OptionEntry kOptions[] = {
    {"--count", [](Command c) { return c == Command::kWatch; }, TakeCount,
     "--count takes a whole number of at least 1, not '%s'"},
    {"--timeout", [](Command c) { return c == Command::kWatch; }, TakeSeconds,
     "--timeout takes a number of seconds above 0, not '%s'"},
    {"--file",
     [](Command c) {
       return c == Command::kLoad || c == Command::kPersistRestore ||
              c == Command::kPersistWatch || c == Command::kPersistForget;
     },
     [](const char* text, CommandLine* line) { return *(line->file = text) != '\0'; },
     "--file takes a path%s"},
    {"--root", [](Command) { return true; },
     [](const char* text, CommandLine* line) { return *(line->root = text) != '\0'; },
     "--root takes a directory%s"},
};

// Takes the option at argv[*index] when it is one that `command` takes, as
// "--name=VALUE" or "--name VALUE" (advancing *index past the value).
// Returns -1 when it was taken, 0 when it is no such option, kExitUsage
// after a complaint.
int TakeOption(Command command, int argc, char** argv, int* index, CommandLine* line) {
  const char* argument = argv[*index];
  for (const OptionEntry& option : kOptions) {
    const size_t length = strlen(option.name);
    if (!option.applies(command) || strncmp(argument, option.name, length) != 0 ||
        (argument[length] != '=' && argument[length] != '\0')) {
      continue;
    }
    if (argument[length] == '\0' && *index + 1 >= argc) {
      Complain("%s needs a value", argument);
      return kExitUsage;
    }
    const char* value = argument[length] == '=' ? argument + length + 1 : argv[++*index];
    if (option.take(value, line)) return -1;
    Complain(option.complaint, value);
    return kExitUsage;
  }
  return 0;
}

}  // namespace

void PrintUsage(FILE* out) { fputs(kUsage, out); }

int ParseCommandLine(int argc, char** argv, CommandLine* line) {
  int first = 1;
  for (int status; first < argc; ++first) {
    if ((status = TakeOption(Command::kHelp, argc, argv, &first, line)) == 0) break;
    if (status != -1) return UsageError();
  }
  if (argc <= first) {
    Complain("missing command");
    return UsageError();
  }
  argv += first - 1;
  argc -= first - 1;
  const char* name = argv[1];
  if (IsHelpOption(name) || strcmp(name, "help") == 0) {
    PrintUsage(stdout);
    return kExitOk;
  }
  const CommandEntry* entry = nullptr;
  bool known_name = false;
  for (const CommandEntry& candidate : kCommands) {
    if (strcmp(candidate.name, name) != 0) continue;
    known_name = true;
    if (candidate.word == nullptr || (argc > 2 && strcmp(candidate.word, argv[2]) == 0)) {
      entry = &candidate;
    }
  }
  if (entry == nullptr && known_name && argc > 2 && IsHelpOption(argv[2])) {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (entry == nullptr && known_name) {
    Complain("%s takes restore, watch or forget", name);
    return UsageError();
  }
  if (entry == nullptr) {
    Complain(name[0] == '-' ? "unknown option '%s'" : "unknown command '%s'", name);
    return UsageError();
  }
  line->command = entry->command;
  int index = entry->word == nullptr ? 2 : 3;
  for (; index < argc; ++index) {
    const char* argument = argv[index];
    if (strcmp(argument, "--") == 0) {
      ++index;
      break;
    }
    // A lone "-" is an operand, as it is for other tools.
    if (argument[0] != '-' || argument[1] == '\0') break;
    if (IsHelpOption(argument)) {
      PrintUsage(stdout);
      return kExitOk;
    }
    const int status = TakeOption(entry->command, argc, argv, &index, line);
    if (status == -1) continue;
    if (status != 0) return UsageError();
    Complain("unknown option '%s' for %s", argument, entry->name);
    return UsageError();
  }
  for (; index < argc; ++index) line->operands.push_back(argv[index]);
  if (line->operands.size() < entry->min_operands ||
      line->operands.size() > entry->max_operands) {
    Complain("%s takes %s", entry->name, entry->operands);
    return UsageError();
  }
  return -1;
}

}  // namespace camprop
