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
    "usage: camprop get [--] KEY [DEFAULT]   print the value of KEY (or DEFAULT)\n"
    "       camprop set [--] KEY VALUE       store VALUE under KEY\n"
    "       camprop list                     print every record in file order\n"
    "       camprop check                    validate the storage file\n"
    "       camprop watch [--count N] [--timeout SECONDS] [--] [PREFIX]\n"
    "                                        print each change of a property whose\n"
    "                                        key starts with PREFIX (every key when\n"
    "                                        omitted) as it happens\n"
    "       camprop load [--file PATH] [--] [FILE...]\n"
    "                                        store the KEY=VALUE lines of each FILE\n"
    "                                        (default: /etc/camera/properties.d/*.conf),\n"
    "                                        then the persist. keys saved in PATH\n"
    "       camprop persist restore [--file PATH]\n"
    "                                        store the persist. keys saved in PATH\n"
    "       camprop persist watch [--file PATH]\n"
    "                                        save each change of a persist. key in PATH\n"
    "                                        until a signal ends it\n"
    "       camprop persist forget [--file PATH] [--] KEY...\n"
    "                                        remove each KEY from PATH: its default (or\n"
    "                                        nothing) applies from the next boot on\n"
    "       camprop --help                   print this help (also after a command)\n"
    "\n"
    "Options come before the operands; \"--\" ends them, so a KEY or PREFIX that\n"
    "begins with \"-\" follows \"--\". Properties live in\n"
    "/run/camera/property_storage. Keys hold at most 63 bytes, values at most 91.\n"
    "list, check and watch show control bytes and backslashes as \\xNN and \\\\;\n"
    "get does so only on a terminal and otherwise prints the value as stored.\n"
    "\n"
    "watch prints one line per change, \"TIME [KEY]: [OLD] -> [NEW]\", with (new)\n"
    "for a key that was not stored and (removed) for one that is gone; a value\n"
    "rewritten unchanged prints nothing. It runs until interrupted, or until N\n"
    "changes have been printed or SECONDS have passed.\n"
    "\n"
    "load reads lines of KEY=VALUE as sysctl.d does: blank lines and lines that\n"
    "begin with # or ; are skipped, blanks around KEY and VALUE dropped, and a\n"
    "line whose KEY begins with - is skipped should it be bad. A directory stands\n"
    "for its *.conf files; a file with a bad line is left out whole, the others\n"
    "are stored; a later line overrides an earlier one. persist keeps the keys\n"
    "that begin with \"persist.\" in PATH (default\n"
    "/var/lib/camera/persist.properties), whose values win over the defaults;\n"
    "a value equal to its key's default is not saved. restore and load skip\n"
    "damaged lines of PATH and keep the damaged file as PATH.bad.\n"
    "\n"
    "Exit status: 0 done (also a watch ended by --count or --timeout); 1 key\n"
    "not set, file damaged or unreadable, /run/camera missing or read-only\n"
    "(check), store failed, or output not written; 2 bad command line,\n"
    "over-long key or value, or a bad line in a file to load (the other files\n"
    "are stored all the same).\n";

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

// The value of an option given as "--name=VALUE" or "--name VALUE"; null
// when `argument` is not that option. Advances *index past a separate value.
const char* OptionValue(const char* name, int argc, char** argv, int* index, bool* missing) {
  const char* argument = argv[*index];
  const size_t length = strlen(name);
  if (strncmp(argument, name, length) != 0) return nullptr;
  if (argument[length] == '=') return argument + length + 1;
  if (argument[length] != '\0') return nullptr;
  if (*index + 1 >= argc) {
    *missing = true;
    return nullptr;
  }
  return argv[++*index];
}

bool ParseCount(const char* text, uint64_t* count) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0) return false;
  *count = value;
  return true;
}

// Plain decimal notation only, as an operator writes seconds: digits with
// at most one point. strtod alone would also take "0x10" (16 s), "1e3",
// "inf" and blanks.
bool IsDecimal(const char* text) {
  bool digits = false, point = false;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at >= '0' && *at <= '9') {
      digits = true;
    } else if (*at == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

bool ParseSeconds(const char* text, double* seconds) {
  if (!IsDecimal(text)) return false;
  char* end = nullptr;
  errno = 0;
  const double value = strtod(text, &end);
  if (errno != 0 || *end != '\0' || !isfinite(value) || value <= 0 ||
      value > kMaxTimeoutSeconds) {
    return false;
  }
  *seconds = value;
  return true;
}

// Takes a watch option at argv[*index]. Returns -1 when it was one and is
// sound, kExitUsage after a complaint, or 0 when it is no watch option.
int ParseWatchOption(int argc, char** argv, int* index, WatchOptions* options) {
  bool missing = false;
  if (const char* value = OptionValue("--count", argc, argv, index, &missing)) {
    if (ParseCount(value, &options->count)) return -1;
    Complain("--count takes a whole number of at least 1, not '%s'", value);
    return kExitUsage;
  }
  if (!missing) {
    if (const char* value = OptionValue("--timeout", argc, argv, index, &missing)) {
      if (ParseSeconds(value, &options->timeout_seconds)) return -1;
      Complain("--timeout takes a number of seconds above 0, not '%s'", value);
      return kExitUsage;
    }
  }
  if (!missing) return 0;
  Complain("%s needs a value", argv[*index]);
  return kExitUsage;
}

// Takes a persist option at argv[*index], as ParseWatchOption does.
int ParsePersistOption(int argc, char** argv, int* index, const char** file) {
  bool missing = false;
  if (const char* value = OptionValue("--file", argc, argv, index, &missing)) {
    if (value[0] != '\0') {
      *file = value;
      return -1;
    }
    Complain("--file takes a path");
    return kExitUsage;
  }
  if (!missing) return 0;
  Complain("%s needs a value", argv[*index]);
  return kExitUsage;
}

bool TakesFileOption(Command command) {
  return command == Command::kPersistRestore || command == Command::kPersistWatch ||
         command == Command::kPersistForget || command == Command::kLoad;
}

}  // namespace

void PrintUsage(FILE* out) { fputs(kUsage, out); }

int ParseCommandLine(int argc, char** argv, CommandLine* line) {
  if (argc < 2) {
    Complain("missing command");
    return UsageError();
  }
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
    if (entry->command == Command::kWatch) {
      const int status = ParseWatchOption(argc, argv, &index, &line->watch);
      if (status == -1) continue;
      if (status != 0) return UsageError();
    }
    if (TakesFileOption(entry->command)) {
      const int status = ParsePersistOption(argc, argv, &index, &line->file);
      if (status == -1) continue;
      if (status != 0) return UsageError();
    }
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
