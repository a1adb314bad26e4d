// Crash consistency of the property store, on a store in a temporary
// directory: writers killed with SIGKILL at random moments while others go
// on (a known number of kills, one every so many operations), and an update
// dying in the middle of an append while holding the lock. Afterwards every
// lookup and update still works, no update that completed before a kill is
// lost, and a partial trailing record is ignored and then overwritten.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/stress/stress_run.h"
#include "tests/support/program_run.h"
#include "tests/support/store_dir_test.h"
#include "tests/support/store_model.h"

namespace isputils_test {
namespace {

using CrashConsistencyTest = StoreDirTest;

// Runs `writers` writers of `ops` operations each on `dir`, killing one
// after every `kill_every` operations of all of them, and checks that the
// kills happened, each killed writer's successor finished its work, and
// nothing was lost or damaged.
void ExpectKillsLoseNothing(const std::string& dir, int writers, uint64_t ops,
                            uint64_t kill_every, int read_percent) {
  propstore_stress::StressOptions options;
  options.dir = dir;
  options.writers = writers;
  options.seconds = 0;
  options.ops_per_writer = ops;
  options.kill_every_ops = kill_every;
  options.read_percent = read_percent;
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  EXPECT_TRUE(report.ok());
  // One kill for every kill_every operations but the last, whose writers
  // would all have finished.
  EXPECT_EQ(propstore_stress::PlannedKills(options), report.kills);
  EXPECT_GE(report.kills, writers * ops / kill_every - 1);
  // The first kill comes before any writer can have finished.
  EXPECT_GT(report.restarts, 0u);
  // A restarted writer resumes its slot's count; none ends early.
  EXPECT_EQ(writers * ops, report.ops);
}

TEST_F(CrashConsistencyTest, WritersKilledAtRandomLoseNothing) {
  ExpectKillsLoseNothing(dir_.path(), 8, 1500, 300, 50);
}

// Two writers that only update, killed every few dozen of their updates:
// most kills land in the middle of one.
TEST_F(CrashConsistencyTest, CountBoundRunFinishesEveryWriterDespiteKills) {
  ExpectKillsLoseNothing(dir_.path(), 2, 800, 20, 0);
}

TEST_F(CrashConsistencyTest, UpdaterDyingMidAppendReleasesLockAndLeavesTailHarmless) {
  ASSERT_TRUE(store_.Set("a", "1").ok());
  StoreModel model(Bytes());
  // The dying updater, a process that knows only flock: takes the lock,
  // writes part of a record, and is killed before it finishes.
  const std::string path = store_.path();
  ProgramRun updater([&path] {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) return 1;
    StoreModel ghost;
    ghost.Update("ghost", "never finished");
    const std::string part = ghost.bytes().substr(0, 100);
    if (pwrite(fd, part.data(), part.size(), PROPERTY_RECORD_SIZE) != 100) return 1;
    if (write(STDOUT_FILENO, "written\n", 8) != 8) return 1;
    for (;;) pause();
  });
  ASSERT_TRUE(updater.WaitForOutput("written\n")) << updater.Finish().err;

  std::atomic<int> finished{0};
  std::string seen;
  bool set_ok = false;
  std::thread reader([&] {
    seen = Lookup("a");
    ++finished;
  });
  std::thread writer([&] {
    set_ok = store_.Set("b", "2").ok();
    ++finished;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, finished.load()) << "a call went on while the updater held the lock";
  updater.Signal(SIGKILL);
  updater.Finish();
  reader.join();
  writer.join();

  EXPECT_EQ("1", seen);
  EXPECT_TRUE(set_ok);
  EXPECT_EQ("<none>", Lookup("ghost"));
  // Whichever of the two ran first, the append overwrote the partial record.
  model.Update("b", "2");
  EXPECT_EQ("", model.Reconcile(Bytes()));
  EXPECT_EQ("2", Lookup("b"));
}

}  // namespace
}  // namespace isputils_test
