// Orchestration of a stress run: writers as forked processes sharing an
// anonymous shared mapping, or as threads; the kill-and-restart loop; the
// totals and the report.
#include "tests/stress/stress_run.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>
#include <thread>

#include "property_store/internal/store.h"
#include "tests/stress/stress_keys.h"
#include "tests/stress/stress_state.h"
#include "tests/stress/stress_verify.h"
#include "tests/stress/stress_worker.h"

namespace propstore_stress {
namespace {

// How often the process that runs the writers reaps them and looks for a
// kill that is due.
constexpr int64_t kPollNs = 200 * 1000;

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("died of ") + strsignal(WTERMSIG(status));
  return "stopped";
}

// How far past a kill's operation count the writers may go before they wait
// for it: far enough that a killer a little late still finds them at work,
// so that kills land at random points of their operations.
uint64_t GateMargin(const StressOptions& options) { return options.kill_every_ops / 2; }

// Runs the writers as processes. Owns the shared mapping for the run.
class ProcessRun {
 public:
  ProcessRun(const StressOptions& options, const KeySet& keys, SharedState* state,
             StressReport* report)
      : options_(options), keys_(keys), state_(state), report_(report),
        pids_(options.writers, 0), rng_(options.seed ^ 0x5bd1e995u),
        planned_kills_(PlannedKills(options)) {}

  void Run(const WorkerPlan& base) {
    base_ = base;
    SetGate();
    for (int slot = 0; slot < options_.writers; ++slot) Start(slot);
    const int64_t interval = static_cast<int64_t>(options_.kill_interval_ms) * 1000000;
    int64_t next_kill = interval > 0 ? MonotonicNanos() + NextInterval(interval) : 0;
    while (live_ > 0) {
      ReapFinished();
      if (live_ == 0) break;
      if (CountedKillDue()) {
        // With no writer left to kill, no later kill can be made either.
        if (!KillOne()) planned_kills_ = report_->kills;
        SetGate();
        continue;
      }
      const int64_t now = MonotonicNanos();
      const bool before_deadline = base_.deadline_ns == 0 || now < base_.deadline_ns;
      if (next_kill != 0 && now >= next_kill && before_deadline) {
        KillOne();
        next_kill = now + NextInterval(interval);
      }
      SleepNanos(kPollNs);
    }
  }

 private:
  int64_t NextInterval(int64_t mean) {
    return mean / 2 + static_cast<int64_t>(rng_.Below(static_cast<uint64_t>(mean) + 1));
  }

  bool CountedKillDue() const {
    return report_->kills < planned_kills_ &&
           OperationsDone(*state_, options_.writers) >=
               (report_->kills + 1) * options_.kill_every_ops;
  }

  // Lets the writers go a little past the next counted kill, or all the way
  // when none is left to make.
  void SetGate() {
    const uint64_t next = report_->kills + 1;
    state_->ops_gate.store(report_->kills < planned_kills_
                               ? next * options_.kill_every_ops + GateMargin(options_)
                               : kNoGate);
  }

  bool SlotFinished(int slot) const {
    if (base_.ops_per_writer != 0 && state_->slots[slot].ops.load() >= base_.ops_per_writer) return true;
    return base_.deadline_ns != 0 && MonotonicNanos() >= base_.deadline_ns;
  }

  void Start(int slot) {
    state_->slots[slot].generation.fetch_add(1);
    WorkerPlan plan = base_;
    plan.slot = slot;
    const pid_t pid = fork();
    if (pid == 0) {
      const propstore::Store store(plan.dir.c_str());
      RunWorker(plan, store, keys_, state_);
      _exit(0);
    }
    if (pid < 0) {
      report_->problems.push_back(std::string("fork failed: ") + strerror(errno));
      return;
    }
    pids_[slot] = pid;
    ++live_;
  }

  int SlotOf(pid_t pid) const {
    for (int slot = 0; slot < options_.writers; ++slot) {
      if (pids_[slot] == pid) return slot;
    }
    return -1;
  }

  void Ended(int slot, int status, bool killed_by_us) {
    pids_[slot] = 0;
    --live_;
    const bool clean_exit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!clean_exit && !killed_by_us) {
      report_->problems.push_back("writer " + std::to_string(slot) + " " +
                                  DescribeStatus(status));
    }
  }

  void ReapFinished() {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
      const int slot = SlotOf(pid);
      if (slot >= 0) Ended(slot, status, /*killed_by_us=*/false);
    }
  }

  // Kills a random live writer at whatever point it has reached, and starts
  // a new one in its slot if the slot still has work to do. Returns false
  // when every writer had ended before it could be killed.
  bool KillOne() {
    while (live_ > 0) {
      const int start = static_cast<int>(rng_.Below(static_cast<uint64_t>(options_.writers)));
      int slot = -1;
      for (int i = 0; i < options_.writers && slot < 0; ++i) {
        if (pids_[(start + i) % options_.writers] != 0) slot = (start + i) % options_.writers;
      }
      if (slot < 0) break;
      const pid_t pid = pids_[slot];
      kill(pid, SIGKILL);
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
      Ended(slot, status, killed);
      if (!killed) continue;  // it had finished on its own an instant earlier
      ++report_->kills;
      if (!SlotFinished(slot)) {
        Start(slot);
        ++report_->restarts;
      }
      return true;
    }
    return false;
  }

  const StressOptions& options_;
  const KeySet& keys_;
  SharedState* state_;
  StressReport* report_;
  WorkerPlan base_;
  std::vector<pid_t> pids_;
  int live_ = 0;
  Rng rng_;
  uint64_t planned_kills_;
};

// The threads share one store, as the threads of a camera process do.
void RunThreads(const StressOptions& options, const propstore::Store& store, const KeySet& keys,
                SharedState* state, const WorkerPlan& base) {
  std::vector<std::thread> threads;
  for (int slot = 0; slot < options.writers; ++slot) {
    WorkerPlan plan = base;
    plan.slot = slot;
    state->slots[slot].generation.fetch_add(1);
    threads.emplace_back([plan, &store, &keys, state] { RunWorker(plan, store, keys, state); });
  }
  for (std::thread& thread : threads) thread.join();
}

// Why a run cannot start on `store`, or "" when it can: its directory must
// exist and the store must hold no records.
std::string WhyNotRunnable(const propstore::Store& store) {
  if (store.dir()[0] == '\0') return "no directory given for the store";
  if (store.path()[0] == '\0') return "the directory's name is too long";
  struct stat info;
  if (stat(store.dir(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return std::string(store.dir()) + " is not a directory";
  }
  if (lstat(store.path(), &info) != 0) {
    return errno == ENOENT ? "" : std::string(store.path()) + ": " + strerror(errno);
  }
  if (S_ISREG(info.st_mode) && info.st_size == 0) return "";
  return std::string("the store must start empty: ") + store.path() + " holds data";
}

void AddTotals(const SharedState& state, int writers, StressReport* report) {
  for (int slot = 0; slot < writers; ++slot) {
    const SlotState& s = state.slots[slot];
    report->ops += s.ops.load();
    report->sets += s.sets.load();
    report->gets += s.gets.load();
    report->failed_sets += s.failed_sets.load();
    report->bad_reads += s.bad_reads.load();
    if (s.has_problem.load() != 0) {
      report->problems.push_back(std::string(s.first_problem,
                                             strnlen(s.first_problem, sizeof(s.first_problem))));
    }
  }
  if (report->bad_reads != 0) {
    report->problems.push_back(std::to_string(report->bad_reads) +
                               " lookups saw a torn, foreign or stale value");
  }
  if (report->failed_sets != 0) {
    report->problems.push_back(std::to_string(report->failed_sets) + " updates failed");
  }
}

}  // namespace

bool ValidateOptions(const StressOptions& options, std::string* why) {
  if (options.writers < 1 || options.writers > kMaxWriters) {
    *why = "writers must be 1 to " + std::to_string(kMaxWriters);
  } else if (options.seconds <= 0 && options.ops_per_writer == 0) {
    *why = "the run needs a time bound or an operation count";
  } else if (options.seconds < 0 || options.seconds > 24 * 3600) {
    *why = "seconds out of range";
  } else if (options.read_percent < 0 || options.read_percent > 100) {
    *why = "read percentage must be 0 to 100";
  } else if (options.kill_interval_ms < 0) {
    *why = "kill interval must not be negative";
  } else if (options.ops_per_writer > 0xffffffffu) {
    *why = "at most 4294967295 operations per writer";  // sequence numbers have 32 bits
  } else if (options.threads && (options.kill_interval_ms > 0 || options.kill_every_ops > 0)) {
    *why = "writers can be killed only when they are processes";
  } else if (options.kill_interval_ms > 0 && options.kill_every_ops > 0) {
    *why = "kill by time or by operation count, not both";
  } else if (options.kill_every_ops > 0 && options.ops_per_writer == 0) {
    *why = "kills by operation count need an operation count per writer";
  } else {
    return true;
  }
  return false;
}

uint64_t PlannedKills(const StressOptions& options) {
  if (options.threads || options.kill_every_ops == 0) return 0;
  // Before a kill, the writers together get at most one operation each past
  // the gate, which lies GateMargin past the kill's count: the last kill must
  // still find an operation of the run not done, and so a writer alive.
  const uint64_t total = static_cast<uint64_t>(options.writers) * options.ops_per_writer;
  const uint64_t beyond = GateMargin(options) + static_cast<uint64_t>(options.writers);
  return total > beyond ? (total - beyond) / options.kill_every_ops : 0;
}

StressReport RunStress(const StressOptions& options) {
  StressReport report;
  report.writers = options.writers;
  report.threads = options.threads;
  std::string why;
  if (!ValidateOptions(options, &why)) {
    report.problems.push_back("invalid options: " + why);
    return report;
  }
  const propstore::Store store(options.dir.c_str());
  why = WhyNotRunnable(store);
  if (!why.empty()) {
    report.problems.push_back(why);
    return report;
  }

  void* memory = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    report.problems.push_back(std::string("mmap failed: ") + strerror(errno));
    return report;
  }
  SharedState* state = new (memory) SharedState();
  const KeySet keys(options.writers);

  WorkerPlan base;
  static_cast<StressOptions&>(base) = options;
  const int64_t start = MonotonicNanos();
  if (options.seconds > 0) base.deadline_ns = start + static_cast<int64_t>(options.seconds * 1e9);

  if (options.threads) {
    RunThreads(options, store, keys, state, base);
  } else {
    ProcessRun(options, keys, state, &report).Run(base);
  }
  report.elapsed_seconds = static_cast<double>(MonotonicNanos() - start) / 1e9;
  AddTotals(*state, options.writers, &report);

  // The writers' problems first, then the file's.
  std::vector<std::string> problems = std::move(report.problems);
  static_cast<VerifyResult&>(report) =
      VerifyStore(store, keys, *state, options.writers, report.kills > 0);
  report.problems.insert(report.problems.begin(), problems.begin(), problems.end());

  state->~SharedState();
  munmap(memory, sizeof(SharedState));
  return report;
}

void PrintReport(const StressReport& r, FILE* out) {
  fprintf(out, "stress: %d %s, %.2f s, %llu operations (%llu updates, %llu lookups), %.0f ops/s\n",
          r.writers, r.threads ? "threads" : "processes", r.elapsed_seconds,
          static_cast<unsigned long long>(r.ops), static_cast<unsigned long long>(r.sets),
          static_cast<unsigned long long>(r.gets), r.ops_per_second());
  fprintf(out, "stress: %llu writers killed, %llu restarted; %llu updates failed; "
          "%llu torn, foreign or stale values read\n",
          static_cast<unsigned long long>(r.kills), static_cast<unsigned long long>(r.restarts),
          static_cast<unsigned long long>(r.failed_sets),
          static_cast<unsigned long long>(r.bad_reads));
  fprintf(out, "stress: file of %llu bytes: %llu records checked (%llu of over-long keys), "
          "%llu keys, %llu lookups compared, partial tail %llu bytes\n",
          static_cast<unsigned long long>(r.file_bytes), static_cast<unsigned long long>(r.records),
          static_cast<unsigned long long>(r.append_records),
          static_cast<unsigned long long>(r.keys_checked),
          static_cast<unsigned long long>(r.api_lookups),
          static_cast<unsigned long long>(r.partial_tail_bytes));
  for (const std::string& problem : r.problems) fprintf(out, "stress: problem: %s\n", problem.c_str());
  fprintf(out, "stress: %s\n", r.ok() ? "OK" : "FAILED");
}

}  // namespace propstore_stress
