// propstore_stress: hammers a property store with many writers at once and
// verifies the storage file afterwards. It works on a store in a directory
// of its own, never on the machine's store: the run fills the file with
// records that are never removed. Without --dir it makes a temporary
// directory and removes it at the end.
#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "property_store/internal/storage_path.h"
#include "tests/stress/stress_run.h"

namespace {

void Usage(FILE* out) {
  fprintf(out,
          "usage: propstore_stress [options]\n"
          "  -d, --dir DIR         the store in DIR, which must hold no records\n"
          "                        (default: a temporary directory, removed at the end)\n"
          "  -w, --writers N       writers (default 8, at most 64)\n"
          "  -t, --threads         writers as threads of one process, not processes\n"
          "  -s, --seconds S       stop after S seconds (default 5; 0: no time bound)\n"
          "  -n, --ops N           stop each writer after N operations (default: no bound)\n"
          "  -r, --read-percent P  share of lookups among operations (default 50)\n"
          "  -k, --kill-every MS   SIGKILL a random writer about every MS ms and\n"
          "                        start a new one in its place (default: never)\n"
          "  -K, --kill-every-ops N\n"
          "                        the same each time the writers together have done\n"
          "                        N more operations (needs --ops)\n"
          "  -a, --appends N       over-long-key updates per writer at most (default 48)\n"
          "  -S, --seed N          seed of the random choices (default 1)\n"
          "  -h, --help            this text\n"
          "Exit status: 0 when the store verified, 1 on any problem, 2 on bad usage.\n");
}

// A directory of the program's own under $TMPDIR (or /tmp); "" on failure.
std::string MakeTemporaryDir() {
  const char* tmp = getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                     "/propstore_stress.XXXXXX";
  return mkdtemp(&name[0]) != nullptr ? name : std::string();
}

// Removes the temporary directory and the store in it; says so if it cannot.
void RemoveTemporaryDir(const std::string& dir) {
  const std::string file = dir + "/" + propstore::kStorageFileName;
  if ((unlink(file.c_str()) != 0 && errno != ENOENT) || rmdir(dir.c_str()) != 0) {
    fprintf(stderr, "propstore_stress: cannot remove %s: %s\n", dir.c_str(), strerror(errno));
  }
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
      {"kill-every-ops", required_argument, nullptr, 'K'},
      {"dir", required_argument, nullptr, 'd'},
      {"appends", required_argument, nullptr, 'a'}, {"seed", required_argument, nullptr, 'S'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
  propstore_stress::StressOptions options;
  int option;
  while ((option = getopt_long(argc, argv, "d:w:ts:n:r:k:K:a:S:h", kLongOptions, nullptr)) != -1) {
    unsigned long long number = 0;
    bool valid = true;
    switch (option) {
      case 'd':
        options.dir = optarg;
        valid = !options.dir.empty();
        break;
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
      case 'K':
      case 'a':
      case 'S':
        valid = ParseNumber(optarg, &number);
        if (option == 'w') options.writers = number > 1000 ? 1000 : static_cast<int>(number);
        if (option == 'n') options.ops_per_writer = number;
        if (option == 'r') options.read_percent = number > 1000 ? 1000 : static_cast<int>(number);
        if (option == 'k') {
          options.kill_interval_ms = number > 3600000 ? 3600000 : static_cast<int>(number);
        }
        if (option == 'K') options.kill_every_ops = number;
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
  const bool own_dir = options.dir.empty();
  if (own_dir) {
    options.dir = MakeTemporaryDir();
    if (options.dir.empty()) {
      fprintf(stderr, "propstore_stress: cannot make a temporary directory: %s\n",
              strerror(errno));
      return 1;
    }
  }
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  if (own_dir) RemoveTemporaryDir(options.dir);
  return report.ok() ? 0 : 1;
}
