// Crash consistency of the property store: writers killed with SIGKILL at
// random moments while others go on, and an update dying in the middle of
// an append while holding the lock. Afterwards every lookup and update still
// works, no update that completed before a kill is lost, and a partial
// trailing record is ignored and then overwritten.
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
#include "tests/support/store_model.h"
#include "tests/support/private_run.h"
#include "tests/support/program_run.h"
#include "tests/support/store_test.h"
#include "tests/support/target_program.h"
#include "tests/stress/stress_run.h"

namespace isputils_test {
namespace {

using CrashConsistencyTest = StoreTest;

TEST_F(CrashConsistencyTest, WritersKilledAtRandomLoseNothing) {
  propstore_stress::StressOptions options;
  options.writers = 8;
  options.seconds = 4;
  options.kill_interval_ms = 40;
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  EXPECT_TRUE(report.ok());
  EXPECT_GE(report.kills, 30u);
  EXPECT_GT(report.restarts, 0u);
  EXPECT_GT(report.sets, 1000u);
}

TEST_F(CrashConsistencyTest, CountBoundRunFinishesEveryWriterDespiteKills) {
  propstore_stress::StressOptions options;
  options.writers = 6;
  options.seconds = 0;
  options.ops_per_writer = 1500;
  // A killed writer's successor has to get some work done before the next
  // kill, which picks the last writer left every time: a restart costs a
  // fork, a fraction of a millisecond natively but tens of milliseconds
  // under an emulator.
  options.kill_interval_ms = RunsUnderEmulator() ? 100 : 5;
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  EXPECT_TRUE(report.ok());
  EXPECT_GT(report.kills, 0u);
  // A restarted writer resumes its slot's count; none ends early.
  EXPECT_EQ(6u * 1500u, report.ops);
}

std::string Lookup(const std::string& key) {
  char value[PROPERTY_VALUE_SIZE];
  return fetch_property(key.c_str(), value) ? std::string(value) : std::string("<none>");
}

TEST_F(CrashConsistencyTest, UpdaterDyingMidAppendReleasesLockAndLeavesTailHarmless) {
  ASSERT_EQ(0, property_set("a", "1"));
  StoreModel model(ReadStoreFile());
  // The dying updater: takes the lock, writes part of a record, and is
  // killed before it finishes.
  ProgramRun updater([] {
    const int fd = open(kStoragePath, O_RDWR | O_CLOEXEC);
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
  int set_result = 1;
  std::thread reader([&] {
    seen = Lookup("a");
    ++finished;
  });
  std::thread writer([&] {
    set_result = property_set("b", "2");
    ++finished;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, finished.load()) << "a call went on while the updater held the lock";
  updater.Signal(SIGKILL);
  updater.Finish();
  reader.join();
  writer.join();

  EXPECT_EQ("1", seen);
  EXPECT_EQ(0, set_result);
  EXPECT_EQ("<none>", Lookup("ghost"));
  // Whichever of the two ran first, the append overwrote the partial record.
  model.Update("b", "2");
  EXPECT_EQ("", model.Reconcile(ReadStoreFile()));
  EXPECT_EQ("2", Lookup("b"));
}

}  // namespace
}  // namespace isputils_test
