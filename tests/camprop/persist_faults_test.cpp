// Operators' settings survive every fault of the commands that write: load,
// persist restore, persist forget and a save of persist watch, each killed
// at every one of its calls in turn, or refused room at every write, with
// the invariants checked after each: no default becomes a setting, nothing
// acknowledged is lost, and the store and the saved file are whole. Then
// the faults that other members of the group camera can cause, one by one.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "property_store/internal/snapshot.h"
#include "tests/camprop/camprop_fixture.h"
#include "tools/camprop/output.h"
#include "tools/camprop/settings_file.h"

namespace isputils_test {
namespace {

using camprop::kLargestSettingsFile;
using propstore::kSystemCalls;
using Files = std::map<std::string, std::string>;  // name -> bytes, of one directory

// The regular files of `dir` by name.
Files FilesOf(const std::string& dir) {
  Files files;
  DIR* stream = opendir(dir.c_str());
  while (const dirent* entry = stream != nullptr ? readdir(stream) : nullptr) {
    struct stat info;
    const std::string path = dir + "/" + entry->d_name;
    if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) files[entry->d_name] = ReadFile(path);
  }
  if (stream != nullptr) closedir(stream);
  return files;
}

// Makes `dir` hold exactly `files`.
void Restore(const std::string& dir, const Files& files) {
  RemoveTree(dir);
  ASSERT_EQ(0, mkdir(dir.c_str(), 0777));
  for (const auto& [name, bytes] : files) PutFile(dir + "/" + name, bytes);
}

class CampropFaultsTest : public CampropTest {
 protected:
  CampropFaultsTest() {
    for (const char* made : {"etc", "etc/camera", "etc/camera/properties.d", "var", "var/lib",
                             "var/lib/camera"}) {
      EXPECT_EQ(0, mkdir((root_ / made).c_str(), 0755));
    }
    SetDefaults("d");
  }

  std::string defaults_file() const { return root_ / "etc/camera/properties.d/50-camera.conf"; }
  std::string saved_dir() const { return root_ / "var/lib/camera"; }
  std::string saved() const { return saved_dir() + "/persist.properties"; }

  // Twenty persist. defaults with values starting `value`, and a key that
  // is not persist.; every default value ever given is remembered.
  void SetDefaults(const std::string& value) {
    std::string text = "vendor.v=1\n";
    for (int i = 0; i < 20; ++i) {
      const std::string key = "persist.d" + std::to_string(i), v = value + std::to_string(i);
      text += key + "=" + v + "\n";
      defaults_[key].insert(v);
    }
    PutFile(defaults_file(), text);
  }

  // The store's properties as lookups see them.
  std::map<std::string, std::string> StoreValues() const {
    propstore::Snapshot snapshot;
    propstore::TakeSnapshot(store(), &snapshot);
    std::map<std::string, std::string> values;
    for (const propstore::Record& record : snapshot.records) values.emplace(record.key, camprop::ValueText(record));
    return values;
  }

  // The settings the saved file holds; fails the test where it is not whole.
  std::map<std::string, std::string> SavedSettings() const {
    camprop::SettingsFile file;
    if (camprop::ReadSettingsFile(saved(), camprop::LinkPolicy::kRefuse, &file) != 0) return {};
    EXPECT_TRUE(file.problems.empty() && !file.cut) << "the saved file is damaged";
    std::map<std::string, std::string> settings;
    for (const camprop::Setting& setting : file.settings) settings[setting.key] = setting.value;
    return settings;
  }

  // Runs the watch until it is in step with the store, then ends it.
  // Returns what it said.
  std::string Save() {
    const auto watch = StartHooked({"persist", "watch"});
    EXPECT_TRUE(watch->WaitForError("stop with a signal\n")) << watch->Finish().err;
    watch->Signal(SIGTERM);
    return watch->Finish().err;
  }

  // A boot with `saved` as the saved file: the load, then a setting made
  // since.
  void Boot(const Files& saved) {
    Restore(saved_dir(), saved);
    ResetStore();
    ASSERT_EQ(0, RunTool({"load"}).status);
    Set("persist.op", "operator");
  }
  const Files kBootSaved = {{"persist.properties", "persist.s1=set1\npersist.d3=mine\n"}};

  std::map<std::string, std::set<std::string>> defaults_;  // every default value given
};

// The calls that take room on a disk: where a full one says ENOSPC.
bool TakesRoom(const char* call) {
  static const std::set<std::string> kCalls = {"write", "pwrite", "fallocate", "fsync",
                                               "rename", "mkostemp"};
  return kCalls.count(call) != 0;
}

TEST_F(CampropFaultsTest, EveryCommandKilledOrRefusedRoomAtEachCallLosesNoSettingAndSavesNoDefault) {
  struct Row {
    const char* name;
    std::function<void()> before;  // makes the state the command starts from
    std::vector<std::string> command;
    std::set<std::string> forgets;  // keys the command forgets
  };
  // The boot: the saved settings (one over a default) and no store.
  const auto boot = [&] {
    Restore(saved_dir(), kBootSaved);
    ResetStore();
  };
  const auto booted = [&] { Boot(kBootSaved); };
  const std::vector<Row> rows = {
      {"load at boot", boot, {"load"}, {}},
      {"load with a default changed", [&] { booted(); SetDefaults("e"); }, {"load"}, {}},
      {"persist restore", booted, {"persist", "restore"}, {}},
      {"persist forget", [&] { booted(); Save(); }, {"persist", "forget", "persist.s1", "persist.d3"},
       {"persist.s1", "persist.d3"}},
      {"a save of persist watch", booted, {"persist", "watch"}, {}},
  };
  // The fault, armed in the child: SIGKILL at the `at`-th call, or ENOSPC
  // from the `at`-th call that takes room.
  bool kill = true, refuse = false;
  int at = 0, seen = 0;
  const std::string count_file = root_ / "calls";
  calls_.before = [&](const char* call) {
    if (at == 0) {  // counting, for the parent: one byte per call, '+' for room
      FILE* out = fopen(count_file.c_str(), "ae");
      fputc(TakesRoom(call) ? '+' : '.', out);
      fclose(out);
    } else if ((kill || TakesRoom(call)) && ++seen == at) {
      if (kill) raise(SIGKILL);
      refuse = true;
    }
  };
  const auto refused = [&refuse] {
    const bool now = refuse;
    refuse = false;
    if (now) errno = ENOSPC;
    return now;
  };
  calls_.write = [&](int fd, const void* b, size_t n) {
    return refused() ? ssize_t{-1} : kSystemCalls.write(fd, b, n);
  };
  calls_.pwrite = [&](int fd, const void* b, size_t n, off_t offset) {
    return refused() ? ssize_t{-1} : kSystemCalls.pwrite(fd, b, n, offset);
  };
  calls_.fallocate = [&](int fd, int mode, off_t offset, off_t n) {
    return refused() ? -1 : kSystemCalls.fallocate(fd, mode, offset, n);
  };
  calls_.fsync = [&](int fd) { return refused() ? -1 : kSystemCalls.fsync(fd); };
  calls_.rename = [&](const char* from, const char* to) {
    return refused() ? -1 : kSystemCalls.rename(from, to);
  };
  calls_.mkostemp = [&](char* name, int flags) {
    return refused() ? -1 : kSystemCalls.mkostemp(name, flags);
  };
  for (const Row& row : rows) {
    row.before();
    const Files store_before = FilesOf(camera()), saved_before = FilesOf(saved_dir());
    const std::map<std::string, std::string> values_before = StoreValues();
    const std::map<std::string, std::string> settings_before = SavedSettings();
    const auto run = [&] {
      Restore(camera(), store_before);
      Restore(saved_dir(), saved_before);
      seen = 0;
      const auto tool = StartHooked(row.command);
      if (row.command.back() == "watch" && tool->WaitForError("stop with a signal\n")) {
        tool->Signal(SIGTERM);
      }
      return tool->Finish();
    };
    // Undisturbed, counting its calls.
    at = 0;
    unlink(count_file.c_str());
    ASSERT_EQ(0, run().status) << row.name;
    const std::string counted = ReadFile(count_file);
    const std::map<std::string, std::string> values_after = StoreValues();
    ASSERT_LT(10u, counted.size()) << row.name;
    for (const bool killing : {true, false}) {
      kill = killing;
      const size_t faults = kill ? counted.size() : std::count(counted.begin(), counted.end(), '+');
      for (at = 1; at <= static_cast<int>(faults); ++at) {
        SCOPED_TRACE(std::string(row.name) + (kill ? ": killed at call " : ": no room at write ") +
                     std::to_string(at));
        const ProgramResult result = run();
        const int armed = at;
        at = -1;  // the checks below run undisturbed
        // The store is whole: each key holds its value of before or of after.
        for (const auto& [key, value] : StoreValues()) {
          const auto was = values_before.find(key), is = values_after.find(key);
          EXPECT_TRUE((was != values_before.end() && was->second == value) ||
                      (is != values_after.end() && is->second == value))
              << key << "=" << value;
        }
        // Once the watch has saved the store: nothing saved is gone but what
        // a forget that exited 0 removed, and no default became a setting.
        Save();
        const std::map<std::string, std::string> settings = SavedSettings();
        for (const auto& [key, value] : settings_before) {
          if (row.forgets.count(key) == 0) {
            EXPECT_EQ(1u, settings.count(key)) << key << " was lost";
          } else if (result.status == 0) {
            EXPECT_EQ(0u, settings.count(key)) << "forget exited 0, yet " << key << " is saved";
          }
        }
        for (const auto& [key, value] : settings) {
          const auto given = defaults_.find(key);
          const auto was = settings_before.find(key);
          EXPECT_TRUE((was != settings_before.end() && was->second == value) ||
                      given == defaults_.end() || given->second.count(value) == 0)
              << "the default " << key << "=" << value << " was saved as a setting";
        }
        // And no temporary file of an interrupted save is left behind.
        for (const auto& [name, bytes] : FilesOf(saved_dir())) {
          EXPECT_TRUE(name == "persist.properties" || name == "persist.properties.lock") << name;
        }
        at = armed;
        if (HasFailure()) return;
      }
    }
  }
}

TEST_F(CampropFaultsTest, ForgetAndLoadKeepTheirWordWhileTheWatchSaves) {
  Boot(kBootSaved);
  Save();
  // The watch's save waits for the saved file's lock (as a save retried
  // while the disk was full would) while the flag file exists.
  const std::string pause = root_ / "pause", paused = root_ / "paused";
  calls_.flock = [&](int fd, int operation) {
    while ((operation & LOCK_EX) != 0 && access(pause.c_str(), F_OK) == 0) {
      WriteFile(paused, "");
      usleep(10000);
    }
    return kSystemCalls.flock(fd, operation);
  };
  const auto watch = StartHooked({"persist", "watch"});
  ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
  PutFile(pause, "");
  Set("persist.s1", "changed");
  ASSERT_TRUE(WaitForFileToLose(paused, "<none>"));
  // Forgotten meanwhile: the save does not bring the key back.
  EXPECT_EQ(0, RunTool({"persist", "forget", "persist.s1", "persist.d3"}).status);
  ASSERT_EQ(0, unlink(pause.c_str()));
  EXPECT_TRUE(WaitForFileToLose(saved(), "persist.s1"));
  watch->Signal(SIGTERM);
  EXPECT_EQ(0, watch->Finish().status);
  EXPECT_EQ((std::map<std::string, std::string>{{"persist.op", "operator"}}), SavedSettings());
  // A load in the same boot puts no default over a forgotten value.
  SetDefaults("e");
  ASSERT_EQ(0, RunTool({"load"}).status);
  EXPECT_EQ("mine", Lookup("persist.d3"));
  EXPECT_EQ("e4", Lookup("persist.d4"));
  EXPECT_EQ((std::map<std::string, std::string>{{"persist.op", "operator"}}), SavedSettings());
}

TEST_F(CampropFaultsTest, WhatTheGroupPlantsOrLocksNeitherSavesADefaultNorStopsTheWatch) {
  const std::string defaults = camera() + "/persist_defaults";
  // What a member of the group may put where load records its defaults,
  // before the boot's load; the records are written anew, or nothing that
  // could be a default is stored or saved.
  struct Row {
    const char* name;
    std::function<void()> plant;
    int load_status;
  };
  const std::vector<Row> rows = {
      {"FIFO", [&] { ASSERT_EQ(0, mkfifo(defaults.c_str(), 0600)); }, 0},
      {"link", [&] { ASSERT_EQ(0, symlink(saved().c_str(), defaults.c_str())); }, 0},
      {"group-writable file", [&] {
         PutFile(defaults, "persist.d0=x\n");
         ASSERT_EQ(0, chmod(defaults.c_str(), 0660));
       }, 0},
      {"directory", [&] { ASSERT_EQ(0, mkdir(defaults.c_str(), 0700)); }, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Restore(saved_dir(), kBootSaved);
    ResetStore();
    ASSERT_EQ(0, unlink(defaults.c_str()));
    row.plant();
    EXPECT_EQ(row.load_status, RunTool({"load"}).status);
    EXPECT_EQ(row.load_status == 0 ? "d0" : "<none>", Lookup("persist.d0"));
    Set("persist.op", "operator");
    const std::string said = Save();
    if (row.load_status == 0) {
      struct stat record;
      ASSERT_EQ(0, lstat(defaults.c_str(), &record));
      EXPECT_EQ(S_IFREG | 0640, record.st_mode);
      EXPECT_EQ(1u, SavedSettings().count("persist.op"));
    } else {
      EXPECT_NE(std::string::npos, said.find("not saving " + saved() + ": " + defaults)) << said;
      EXPECT_EQ(0u, SavedSettings().count("persist.op"));
    }
    for (const auto& [key, value] : SavedSettings()) {
      EXPECT_TRUE(defaults_.count(key) == 0 || defaults_[key].count(value) == 0) << key;
    }
  }
  // A record made group-writable after the load is not trusted either.
  Boot(kBootSaved);
  ASSERT_EQ(0, chmod(defaults.c_str(), 0660));
  EXPECT_NE(std::string::npos, Save().find(defaults + " is writable by others than its owner"));

  // Locks another user can hold: the saved file's directory's keeps no save
  // waiting, and the store's keeps no stop waiting.
  ASSERT_EQ(0, chmod(defaults.c_str(), 0640));
  const int dir = open(saved_dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(0, flock(dir, LOCK_EX));
  const auto watch = StartHooked({"persist", "watch"});
  ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
  Set("persist.new", "1");
  EXPECT_TRUE(WaitForFileToHold(saved(), "persist.new=1\n"));
  close(dir);
  {
    const HeldLock held(path(), LOCK_EX);
    // A change made past the lock wakes the watch, which waits for the lock.
    const std::string bytes = ReadFile(path());
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), pwrite(held.fd(), bytes.data(), bytes.size(), 0));
    ASSERT_TRUE(watch->StillRunningAfter(200));
    watch->Signal(SIGTERM);
    EXPECT_NE(128 + SIGKILL, watch->Finish().status);  // ended by itself, not at the deadline
  }
}

TEST_F(CampropFaultsTest, CostFollowsWhatIsStoredNotWhatAFileClaims) {
  // A saved file over what a restore reads is kept whole as PATH.bad, and
  // what the watch writes in its place fits what a restore reads.
  std::string big;
  for (int i = 0; big.size() <= kLargestSettingsFile; ++i) {
    char line[PROPERTY_KEY_SIZE + PROPERTY_VALUE_SIZE];
    snprintf(line, sizeof(line), "persist.k%07d=%s\n", i, std::string(80, 'v').c_str());
    big += line;
  }
  PutFile(saved(), big);
  const std::string said = Save();
  EXPECT_TRUE(big == ReadFile(saved() + ".bad"));  // no diff of 16 MiB on failure
  EXPECT_GE(kLargestSettingsFile, ReadFile(saved()).size());
  EXPECT_NE(std::string::npos, said.find("would grow past 16 MiB")) << said.substr(0, 2000);
  // A flood of bad lines is reported up to a limit, then counted.
  std::string flood;
  for (int i = 0; i < 200000; ++i) flood += "x\n";
  PutFile(saved(), flood);
  ProgramResult result = RunTool({"persist", "restore"});
  EXPECT_EQ(0, result.status);
  EXPECT_GE(15, std::count(result.err.begin(), result.err.end(), '\n')) << result.err.substr(0, 2000);
  // A store of absurd size: list costs what it stores, about what it costs
  // on a store of one record.
  Set("persist.a", "1");
  const ProgramResult small = RunTool({"list"});
  ASSERT_EQ(0, truncate(path().c_str(), off_t{256} << 20));
  result = RunTool({"list"});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(std::string::npos, result.out.find("more records of zero bytes"));
  EXPECT_GT(small.max_resident_kb + 32 * 1024, result.max_resident_kb);
}

}  // namespace
}  // namespace isputils_test
