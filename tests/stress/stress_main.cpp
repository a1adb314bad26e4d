// propstore_stress: hammers the property store with many writers at once and
// verifies the storage file afterwards. It always works in a private /run
// (its own mount namespace with an empty tmpfs), never on the machine's
// store: the run fills the file with records that are never removed.
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/support/private_run.h"
#include "tests/stress/stress_run.h"

namespace {

void Usage(FILE* out) {
  fprintf(out,
          "usage: propstore_stress [options]\n"
          "  -w, --writers N       writers (default 8, at most 64)\n"
          "  -t, --threads         writers as threads of one process, not processes\n"
          "  -s, --seconds S       stop after S seconds (default 5; 0: no time bound)\n"
          "  -n, --ops N           stop each writer after N operations (default: no bound)\n"
          "  -r, --read-percent P  share of lookups among operations (default 50)\n"
          "  -k, --kill-every MS   SIGKILL a random writer about every MS ms and\n"
          "                        start a new one in its place (default: never)\n"
          "  -a, --appends N       over-long-key updates per writer at most (default 48)\n"
          "  -S, --seed N          seed of the random choices (default 1)\n"
          "  -h, --help            this text\n"
          "Exit status: 0 when the store verified, 1 on any problem, 2 on bad usage.\n");
}

bool ParseNumber(const char* text, unsigned long long* out) {
  char* end = nullptr;
  *out = strtoull(text, &end, 10);
  return end != text && *end == '\0' && text[0] != '-';
}

}  // namespace

int main(int argc, char** argv) {
  static const struct option kLongOptions[] = {
      {"writers", required_argument, nullptr, 'w'}, {"threads", no_argument, nullptr, 't'},
      {"seconds", required_argument, nullptr, 's'}, {"ops", required_argument, nullptr, 'n'},
      {"read-percent", required_argument, nullptr, 'r'},
      {"kill-every", required_argument, nullptr, 'k'},
      {"appends", required_argument, nullptr, 'a'}, {"seed", required_argument, nullptr, 'S'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
  propstore_stress::StressOptions options;
  int option;
  while ((option = getopt_long(argc, argv, "w:ts:n:r:k:a:S:h", kLongOptions, nullptr)) != -1) {
    unsigned long long number = 0;
    bool valid = true;
    switch (option) {
      case 't':
        options.threads = true;
        break;
      case 's': {
        char* end = nullptr;
        options.seconds = strtod(optarg, &end);
        valid = end != optarg && *end == '\0';
        break;
      }
      case 'w':
      case 'n':
      case 'r':
      case 'k':
      case 'a':
      case 'S':
        valid = ParseNumber(optarg, &number);
        if (option == 'w') options.writers = number > 1000 ? 1000 : static_cast<int>(number);
        if (option == 'n') options.ops_per_writer = number;
        if (option == 'r') options.read_percent = number > 1000 ? 1000 : static_cast<int>(number);
        if (option == 'k') {
          options.kill_interval_ms = number > 3600000 ? 3600000 : static_cast<int>(number);
        }
        if (option == 'a') options.append_cap = number;
        if (option == 'S') options.seed = number;
        break;
      case 'h':
        Usage(stdout);
        return 0;
      default:
        valid = false;
    }
    if (!valid) {
      Usage(stderr);
      return 2;
    }
  }
  std::string why;
  if (optind != argc || !propstore_stress::ValidateOptions(options, &why)) {
    if (!why.empty()) fprintf(stderr, "propstore_stress: %s\n", why.c_str());
    Usage(stderr);
    return 2;
  }
  if (!isputils_test::EnterPrivateRun(&why)) {
    fprintf(stderr, "propstore_stress: cannot make a private /run: %s\n", why.c_str());
    return 1;
  }
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  return report.ok() ? 0 : 1;
}
