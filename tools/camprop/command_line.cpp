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
    "Exit status: 0 done (also a watch ended by --count or --timeout); 1 key\n"
    "not set, file damaged or unreadable, /run/camera missing or read-only\n"
    "(check), store failed, or output not written; 2 bad command line or\n"
    "over-long key or value.\n";

struct CommandEntry {
  const char* name;
  Command command;
  size_t min_operands;
  size_t max_operands;
  const char* operands;  // how to call it, for complaints
};

constexpr CommandEntry kCommands[] = {
    {"get", Command::kGet, 1, 2, "KEY [DEFAULT]"},
    {"set", Command::kSet, 2, 2, "KEY VALUE"},
    {"list", Command::kList, 0, 0, "no arguments"},
    {"check", Command::kCheck, 0, 0, "no arguments"},
    {"watch", Command::kWatch, 0, 1, "at most one PREFIX"},
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
  for (const CommandEntry& candidate : kCommands) {
    if (strcmp(candidate.name, name) == 0) entry = &candidate;
  }
  if (entry == nullptr) {
    Complain(name[0] == '-' ? "unknown option '%s'" : "unknown command '%s'", name);
    return UsageError();
  }
  line->command = entry->command;
  int index = 2;
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
