// The camprop tool on a directory of the test's own (--root), run as a
// child process, or its commands in a forked copy of the test where the
// store is to fail: its output and exit status for each command, its
// refusals of bad input, its reports on damaged and unreadable files, and
// the locks it takes.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/camprop/camprop_fixture.h"

namespace isputils_test {
namespace {

using propstore::kSystemCalls;

TEST_F(CampropTest, HelpSucceedsAndBadCommandLinesAreUsageErrors) {
  // -h and --help are options of every command, never a key or a value.
  const std::vector<std::vector<std::string>> help = {
      {"--help"}, {"-h"}, {"get", "--help"}, {"set", "--help", "me"}, {"set", "-h", "k", "v"},
      {"list", "--help"}, {"check", "-h"}, {"watch", "--count", "1", "--help"}};
  for (const auto& arguments : help) {
    const ToolResult result = RunTool(arguments);
    EXPECT_EQ(0, result.status) << Joined(arguments);
    EXPECT_NE(std::string::npos, result.out.find("camprop get [--] KEY [DEFAULT]"));
    EXPECT_NE(std::string::npos, result.out.find("camprop watch [--count N]"));
    EXPECT_EQ("", result.err) << Joined(arguments);
  }

  const std::vector<std::vector<std::string>> bad = {
      {}, {"frob"}, {"-x"}, {"get"}, {"get", "a", "b", "c"}, {"get", "-x", "k"},
      {"set", "k"}, {"set", "--value=v", "k"}, {"list", "x"}, {"list", "--all"},
      {"check", "x"}, {"watch", "a", "b"}, {"watch", "--count", "0"}, {"watch", "--count"},
      {"watch", "--timeout", "-1"}, {"watch", "--timeout=soon"}, {"watch", "--since", "1"},
      {"watch", "--timeout", "0x10"}, {"watch", "--timeout=1e3"}};
  for (const auto& arguments : bad) {
    const ToolResult result = RunTool(arguments);
    EXPECT_EQ(2, result.status) << Joined(arguments);
    EXPECT_EQ("", result.out);
    EXPECT_NE(std::string::npos, result.err.find("usage: camprop")) << Joined(arguments);
  }
  EXPECT_NE(std::string::npos, RunTool({"frob"}).err.find("unknown command 'frob'"));
  EXPECT_NE(std::string::npos, RunTool({"get", "-x", "k"}).err.find("unknown option '-x'"));
  EXPECT_FALSE(StoreExists());
}

TEST_F(CampropTest, DoubleDashEndsTheOptionsAndOperandsMayBeginWithADash) {
  ASSERT_EQ(0, RunTool({"set", "--", "-k", "--help"}).status);
  ASSERT_EQ(0, RunTool({"set", "level", "-1"}).status);  // options end at the first operand
  EXPECT_EQ("--help", Lookup("-k"));
  EXPECT_EQ("-1", Lookup("level"));
  EXPECT_EQ(2u * PROPERTY_RECORD_SIZE, StoreBytes().size());
  EXPECT_EQ("--help\n", RunTool({"get", "--", "-k", "-"}).out);
  EXPECT_EQ("-1\n", RunTool({"get", "level", "--help"}).out);
  const ToolResult unset = RunTool({"get", "--", "KEY"});
  EXPECT_EQ(1, unset.status);
  EXPECT_EQ("", unset.out);
  EXPECT_EQ("camprop: KEY is not set\n", unset.err);
  EXPECT_EQ("-\n", RunTool({"get", "--", "--", "-"}).out);
}

TEST_F(CampropTest, SetWritesTheStoreLayoutAndGetReadsWhatTheLibraryStored) {
  // Root's usual umask would lock the group out of a store it creates.
  const mode_t mask = umask(022);
  ASSERT_EQ(0, RunTool({"set", "persist.qvx.camera.log_level", "3"}).status);
  umask(mask);
  EXPECT_EQ(RecordBytes("persist.qvx.camera.log_level", "3"), StoreBytes());
  struct stat info;
  ASSERT_EQ(0, stat(path().c_str(), &info));
  EXPECT_EQ(geteuid() == 0 ? 0664u : 0644u, info.st_mode & 0777);
  EXPECT_EQ("3", Lookup("persist.qvx.camera.log_level"));

  // An update rewrites the record in place.
  ASSERT_EQ(0, RunTool({"set", "persist.qvx.camera.log_level", "5"}).status);
  EXPECT_EQ(static_cast<size_t>(PROPERTY_RECORD_SIZE), StoreBytes().size());

  Set("vendor.debug.x", "on");
  Set("empty", "");
  const ToolResult got = RunTool({"get", "vendor.debug.x"});
  EXPECT_EQ(0, got.status);
  EXPECT_EQ("on\n", got.out);
  EXPECT_EQ("5\n", RunTool({"get", "persist.qvx.camera.log_level"}).out);
  // A key stored empty is stored: the default is not used.
  const ToolResult empty = RunTool({"get", "empty", "fallback"});
  EXPECT_EQ(0, empty.status);
  EXPECT_EQ("\n", empty.out);
}

TEST_F(CampropTest, GetOfUnsetKeyFailsUnlessGivenADefault) {
  ToolResult result = RunTool({"get", "k"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("camprop: k is not set: " + path() + " does not exist\n", result.err);
  EXPECT_FALSE(StoreExists());

  result = RunTool({"get", "k", "dflt"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("dflt\n", result.out);

  Set("other", "v");
  result = RunTool({"get", "k"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: k is not set\n", result.err);
  // A default is cut where property_get cuts it.
  result = RunTool({"get", "k", std::string(100, 'd')});
  EXPECT_EQ(std::string(PROPERTY_VALUE_SIZE - 1, 'd') + "\n", result.out);
}

TEST_F(CampropTest, OverLongKeysAndValuesAreRefusedAndNothingIsStored) {
  const std::string key63(63, 'k');
  const std::string key64(64, 'k');
  ToolResult result = RunTool({"set", key64, "v"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("camprop: key is 64 bytes long; a key holds at most 63 bytes (nothing stored)\n",
            result.err);
  EXPECT_FALSE(StoreExists());

  result = RunTool({"set", "k", std::string(92, 'v')});
  EXPECT_EQ(2, result.status);
  EXPECT_NE(std::string::npos, result.err.find("value is 92 bytes long"));
  EXPECT_FALSE(StoreExists());

  result = RunTool({"get", key64, "dflt"});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_NE(std::string::npos, result.err.find("key is 64 bytes long"));

  ASSERT_EQ(0, RunTool({"set", key63, std::string(91, 'v')}).status);
  EXPECT_EQ(std::string(91, 'v') + "\n", RunTool({"get", key63}).out);
}

TEST_F(CampropTest, ListShowsEveryRecordInFileOrderWithDuplicatesMarked) {
  const std::string long_key(70, 'L');
  Set("a", "1");
  // Each update through a cut key appends another record of the same key.
  Set(long_key.c_str(), "first");
  Set(long_key.c_str(), "second");
  Set("ctl", "tab\there, space\\");
  const ToolResult result = RunTool({"list"});
  EXPECT_EQ(1, result.status);  // a duplicate is damage, as check says
  const std::string cut(63, 'L');
  EXPECT_EQ("#0 [a]: [1]\n"
            "#1 [" + cut + "]: [first]\n"
            "#2 [" + cut + "]: [second]  (duplicate of #1: never read or updated)\n"
            "#3 [ctl]: [tab\\x09here, space\\\\]\n",
            result.out);
  EXPECT_EQ("", result.err);
}

TEST_F(CampropTest, ListOfMissingFileSaysSoAndListOfDamagedFileMarksIt) {
  ToolResult result = RunTool({"list"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_NE(std::string::npos, result.err.find("does not exist"));

  SetStoreBytes(RecordBytes("k", "v") + RecordBytes(std::string(64, 'K'), "x") +
                 RecordBytes("w", std::string(92, 'V')) + "partial");
  result = RunTool({"list"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("#0 [k]: [v]\n"
            "#1 [" + std::string(64, 'K') + "]: [x]  (key has no NUL: no lookup reaches it)\n"
            "#2 [w]: [" + std::string(91, 'V') +
                "]  (value has no NUL: reads as its first 91 bytes)\n"
            "-- partial record of 7 bytes at offset 468: ignored, overwritten by the next "
            "new key\n",
            result.out);
}

TEST_F(CampropTest, CheckPassesASoundStoreAndAMissingOne) {
  ToolResult result = RunTool({"check"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(path() + " does not exist: no property has been stored\n", result.out);

  Set("a", "1");
  Set("b", "");
  result = RunTool({"check"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(path() + ": 312 bytes, 2 records: ok\n", result.out);
}

TEST_F(CampropTest, CheckReportsEveryKindOfDamageAndFails) {
  SetStoreBytes(RecordBytes("a", "1") + RecordBytes(std::string(64, 'K'), "x") +
                 RecordBytes("b", std::string(92, 'V')) + RecordBytes("a", "2") +
                 std::string(20, 'p'));
  const ToolResult result = RunTool({"check"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("record #1: key field has no NUL within its 64 bytes\n"
            "record #2: value field has no NUL within its 92 bytes\n"
            "record #3: key [a] repeats record #0; this record is never read or updated\n"
            "partial record: 20 bytes at offset 624 (not a record; the next new key "
            "overwrites it)\n" +
                path() + ": 644 bytes, 4 records: damaged (4 problems)\n",
            result.out);

  // Each kind alone is enough to fail.
  SetStoreBytes(RecordBytes("a", "1") + "x");
  EXPECT_EQ("partial record: 1 byte at offset 156 (not a record; the next new key "
            "overwrites it)\n" +
                path() + ": 157 bytes, 1 record: damaged (1 problem)\n",
            RunTool({"check"}).out);
  SetStoreBytes(RecordBytes("a", "1") + RecordBytes("a", "1"));
  EXPECT_EQ(1, RunTool({"check"}).status);
}

TEST_F(CampropTest, UnreadableOrForeignFileIsReportedNotTakenAsEmpty) {
  Set("k", "v");
  ASSERT_EQ(0, chmod(path().c_str(), 0600));
  ToolResult result = RunTool({"get", "k", "dflt"}, 65534);
  if (result.status == kCannotSwitchUser) GTEST_SKIP() << "cannot switch users here";
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("camprop: cannot read " + path() + ": permission denied\n", result.err);
  EXPECT_EQ(1, RunTool({"list"}, 65534).status);
  EXPECT_EQ(1, RunTool({"check"}, 65534).status);
  result = RunTool({"set", "k", "w"}, 65534);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: cannot store k in " + path() + ": permission denied\n", result.err);
  EXPECT_EQ("v\n", RunTool({"get", "k"}).out);

  // Kept to a group this user is not in: the complaint says how to join it.
  ASSERT_EQ(0, chmod(path().c_str(), 0660));
  ASSERT_EQ(0, chown(camera().c_str(), 0, 0));
  ASSERT_EQ(0, chmod(camera().c_str(), 03770));
  const std::string denied = "permission denied (" + camera() + " is for the group root, which "
                             "this user is not in: join it with 'sudo usermod -aG root ";
  EXPECT_EQ(0u, RunTool({"get", "k"}, 65534).err.find("camprop: cannot read " +
                                                      path() + ": " + denied));
  EXPECT_EQ(0u, RunTool({"set", "k", "w"}, 65534).err.find("camprop: cannot store k in " +
                                                           path() + ": " + denied));
  ASSERT_EQ(0, chmod(camera().c_str(), 0777));

  // A link planted at the path is refused, never followed.
  ASSERT_EQ(0, rename(path().c_str(), (camera() + "/elsewhere").c_str()));
  ASSERT_EQ(0, symlink((camera() + "/elsewhere").c_str(), path().c_str()));
  result = RunTool({"check"});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(std::string::npos, result.err.find("symbolic link"));
}

TEST_F(CampropTest, EachConditionOfTheStoreGetsOneMessageInEveryCommand) {
  // One command's result under a condition: its status, its standard output
  // and its complaint (without "camprop: ").
  struct Result {
    const char* command;
    int status;
    std::string out;
    std::string err;
  };
  const std::string no_dir = "the directory " + camera() + " does not exist";
  const std::string read_only = camera() + " is on a read-only file system";
  const std::string not_regular = "is not a regular file";
  const auto refuse_writes = [this] {
    // A read-only file system refuses to create, and says so to access().
    calls_.open = [](const char* path, int flags, mode_t mode) {
      if ((flags & O_CREAT) == 0) return kSystemCalls.open(path, flags, mode);
      errno = EROFS;
      return -1;
    };
    calls_.access = [](const char*, int) {
      errno = EROFS;
      return -1;
    };
  };
  const struct {
    const char* condition;
    std::function<void()> make;
    std::vector<Result> results;
  } rows[] = {
      {"no directory", [&] { RemoveTree(camera()); },
       {{"get", 1, "", "k is not set: " + no_dir},
        {"set", 1, "", "cannot store k in " + path() + ": " + no_dir},
        {"list", 0, "", no_dir + ": no property can be stored"},
        {"check", 1, no_dir + ": no property can be stored", ""}}},
      {"read-only", refuse_writes,
       {{"get", 1, "", "k is not set: " + read_only},
        {"set", 1, "", "cannot store k in " + path() + ": " + read_only},
        {"list", 0, "", read_only + ": no property can be stored"},
        {"check", 1, read_only + ": no property can be stored", ""}}},
      {"a directory at the path", [&] { ASSERT_EQ(0, mkdir(path().c_str(), 0755)); },
       {{"get", 1, "", "cannot read " + path() + ": " + not_regular},
        {"set", 1, "", "cannot store k in " + path() + ": " + not_regular},
        {"list", 1, "", "cannot read " + path() + ": " + not_regular},
        {"check", 1, "", "cannot read " + path() + ": " + not_regular}}},
  };
  for (const auto& row : rows) {
    ResetStore();
    row.make();
    for (const Result& expected : row.results) {
      SCOPED_TRACE(std::string(row.condition) + ": " + expected.command);
      std::vector<std::string> arguments{expected.command};
      if (arguments[0] == "get") arguments.push_back("k");
      if (arguments[0] == "set") arguments.insert(arguments.end(), {"k", "v"});
      const ToolResult result = RunHooked(arguments);
      EXPECT_EQ(expected.status, result.status);
      EXPECT_EQ(expected.out.empty() ? "" : expected.out + "\n", result.out);
      EXPECT_EQ(expected.err.empty() ? "" : "camprop: " + expected.err + "\n", result.err);
    }
  }
}

TEST_F(CampropTest, ReadersWaitForAWriterAndRunBesideOtherReaders) {
  Set("k", "old");
  {
    HeldLock writer(path(), LOCK_EX);
    const auto get = Start({"get", "k"});
    const auto list = Start({"list"});
    EXPECT_TRUE(get->StillRunningAfter(300));
    EXPECT_TRUE(list->StillRunningAfter(0));
    // The writer finishes its record before it lets go.
    const std::string record = RecordBytes("k", "new");
    ASSERT_EQ(static_cast<ssize_t>(record.size()),
              pwrite(writer.fd(), record.data(), record.size(), 0));
    writer.Change(LOCK_SH);
    EXPECT_EQ("new\n", get->Finish().out);
    EXPECT_EQ("#0 [k]: [new]\n", list->Finish().out);
    // Shared with the reader that now holds the file.
    EXPECT_EQ(0, RunTool({"check"}).status);
  }
}

TEST_F(CampropTest, SetWaitsForEveryReaderToLetGo) {
  Set("k", "old");
  ToolResult result;
  {
    HeldLock reader(path(), LOCK_SH);
    const auto set = Start({"set", "k", "new"});
    EXPECT_TRUE(set->StillRunningAfter(300));
    EXPECT_EQ("old\n", RunTool({"get", "k"}).out);
    reader.Change(LOCK_UN);
    result = set->Finish();
  }
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("new\n", RunTool({"get", "k"}).out);
}

TEST_F(CampropTest, OutputThatIsLostAndReadErrorsFailTheCommand) {
  Set("k", "v");
  struct Case {
    std::vector<std::string> arguments;
    const char* output;  // "" closes standard output
    const char* error;
  };
  const std::vector<Case> lost = {
      {{"get", "k"}, "/dev/full", "No space left on device"},
      {{"list"}, "/dev/full", "No space left on device"},
      {{"check"}, "/dev/full", "No space left on device"},
      {{"--help"}, "/dev/full", "No space left on device"},
      {{"get", "k"}, "", "Bad file descriptor"},
      {{"list"}, "", "Bad file descriptor"},
  };
  for (const Case& expected : lost) {
    ToolOptions options;
    options.output = expected.output;
    const ToolResult result = RunTool(expected.arguments, options);
    EXPECT_EQ(1, result.status) << Joined(expected.arguments) << " > " << expected.output;
    EXPECT_EQ("camprop: cannot write to standard output: " + std::string(expected.error) + "\n",
              result.err);
  }
  // A command that prints nothing loses nothing, and the file it opens never
  // takes the closed descriptor's place.
  ToolOptions closed;
  closed.output = "";
  EXPECT_EQ(0, RunTool({"set", "k", "w"}, closed).status);
  EXPECT_EQ(RecordBytes("k", "w"), StoreBytes());

  // The second read of a scan fails: the first held the whole records of one
  // read buffer, which come before the complaint on a merged stream.
  const int first_read = propstore::kScanBufferSize / PROPERTY_RECORD_SIZE;
  std::string bytes, listed;
  for (int i = 0; i < 2 * first_read; ++i) {
    const std::string n = std::to_string(i);
    bytes += RecordBytes("key." + n, "v" + n);
    if (i < first_read) listed += "#" + n + " [key." + n + "]: [v" + n + "]\n";
  }
  SetStoreBytes(bytes);
  int read_count = 0;
  calls_.pread = CountedPread(&read_count, 2);
  ToolOptions merged;
  merged.merged = true;
  const std::string complaint = "camprop: reading " + path() + " failed after " +
                                std::to_string(first_read) + " records: Input/output error\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> reads = {
      {{"list"}, listed + complaint},
      {{"check"}, complaint},
      {{"get", "key." + std::to_string(first_read + 10), "default"}, complaint},
  };
  for (const auto& [arguments, out] : reads) {
    const ToolResult result = RunHooked(arguments, merged);
    EXPECT_EQ(1, result.status) << Joined(arguments);
    EXPECT_EQ(out, result.out) << Joined(arguments);
  }
  // A key found before the failing read is found, as the store's lookup finds it.
  EXPECT_EQ("v20\n", RunHooked({"get", "key.20"}).out);

  // A full disk is reported by its cause, and nothing of the record stays.
  calls_.pread = nullptr;
  calls_.fallocate = [](int, int, off_t, off_t) {
    errno = ENOSPC;
    return -1;
  };
  const ToolResult stored = RunHooked({"set", "new.key", "v"});
  EXPECT_EQ(1, stored.status);
  EXPECT_EQ("camprop: cannot store new.key in " + path() + ": No space left on device\n",
            stored.err);
  EXPECT_TRUE(bytes == StoreBytes()) << "the record was written";
}

TEST_F(CampropTest, ListAndCheckLetGoOfTheLockBeforeTheyPrint) {
  // Either report of this file fills a pipe many times over.
  std::string bytes = RecordBytes("k", "old");
  for (int i = 0; i < 5000; ++i) bytes += RecordBytes("k", "dead");
  SetStoreBytes(bytes);
  const auto list = Start({"list"});
  const auto check = Start({"check"});
  // Both have begun to print into pipes that nobody reads: they stay blocked
  // until Finish() reads them.
  ASSERT_TRUE(list->WaitForUnreadOutput());
  ASSERT_TRUE(check->WaitForUnreadOutput());
  const ToolResult set = RunTool({"set", "k", "new"});
  EXPECT_EQ(0, set.status) << "a reader blocked on its output kept the lock";
  EXPECT_EQ("new\n", RunTool({"get", "k"}).out);
  // Each printed the file as it was when it copied it.
  const ToolResult listed = list->Finish();
  EXPECT_EQ(1, listed.status);
  EXPECT_EQ(0u, listed.out.find("#0 [k]: [old]\n"
                                "#1 [k]: [dead]  (duplicate of #0: never read or updated)\n"));
  EXPECT_EQ(5001, std::count(listed.out.begin(), listed.out.end(), '\n'));
  const ToolResult checked = check->Finish();
  EXPECT_EQ(1, checked.status);
  EXPECT_NE(std::string::npos, checked.out.find(": 780156 bytes, 5001 records: damaged"));
}

TEST_F(CampropTest, GetEscapesControlBytesOnlyForATerminal) {
  if (!PseudoTerminalAvailable()) GTEST_SKIP() << "no pseudo-terminal here";
  const std::string hostile = "\033]0;owned\007\033[2J";
  Set("title", hostile.c_str());
  // Scripts get the bytes as stored.
  EXPECT_EQ(hostile + "\n", RunTool({"get", "title"}).out);
  ToolOptions options;
  options.terminal = true;
  ToolResult shown = RunTool({"get", "title"}, options);
  EXPECT_EQ(0, shown.status);
  EXPECT_EQ("\\x1b]0;owned\\x07\\x1b[2J\n", shown.out);
  EXPECT_EQ("tab\\x09 space\n", RunTool({"get", "unset", "tab\t space"}, options).out);
  EXPECT_EQ("del\\x7f\n", RunTool({"get", "unset", "del\x7f"}, options).out);
}

TEST_F(CampropTest, WatchPrintsEachChangeOnceAsItHappens) {
  // There is no file yet; the watch waits for one.
  const auto watch = Start({"watch", "--count", "6", "--timeout", "60", "cam."});
  ASSERT_TRUE(watch->WaitForError("interrupt to stop"));
  ASSERT_EQ(0, RunTool({"set", "cam.a", "1"}).status);
  ASSERT_TRUE(watch->WaitForOutput("[cam.a]: (new) -> [1]\n"));
  // A value rewritten unchanged and a key outside the prefix print nothing.
  Set("cam.a", "1");
  Set("other", "x");
  Set("cam.a", "2");
  ASSERT_TRUE(watch->WaitForOutput("[cam.a]: [1] -> [2]\n"));
  // Replaced by a damaged file: a key without its NUL, a partial tail.
  PutFile(camera() + "/replacement",
          RecordBytes("cam.a", "2") + RecordBytes("cam." + std::string(60, 'x'), "lost") +
              RecordBytes("cam.b", "\033[2J") + "cut");
  ASSERT_EQ(0, rename((camera() + "/replacement").c_str(), path().c_str()));
  ASSERT_TRUE(watch->WaitForOutput("[cam.b]: (new) -> [\\x1b[2J]\n"));
  Set("cam.b", "b");
  ASSERT_TRUE(watch->WaitForOutput("[cam.b]: [\\x1b[2J] -> [b]\n"));
  ASSERT_EQ(0, unlink(path().c_str()));
  const ToolResult result = watch->Finish();
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("[cam.a]: (new) -> [1]\n"
            "[cam.a]: [1] -> [2]\n"
            "[cam.b]: (new) -> [\\x1b[2J]\n"
            "[cam.b]: [\\x1b[2J] -> [b]\n"
            "[cam.a]: [2] -> (removed)\n"
            "[cam.b]: [b] -> (removed)\n",
            WithoutTimes(result.out));
}

TEST_F(CampropTest, WatchWaitsForItsDirectoryAndEndsAtItsTimeout) {
  RemoveTree(camera());
  const auto watch = Start({"watch", "--count", "1", "--timeout", "60"});
  ASSERT_TRUE(watch->WaitForError("camprop: the directory " + camera() +
                                  " does not exist: no property can be stored; waiting for it\n"));
  ASSERT_TRUE(watch->WaitForError("interrupt to stop"));
  ASSERT_EQ(0, mkdir(camera().c_str(), 0777));
  Set("k", "v");
  const ToolResult result = watch->Finish();
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("[k]: (new) -> [v]\n", WithoutTimes(result.out));

  const ToolResult quiet = RunTool({"watch", "--timeout", "0.2"});
  EXPECT_EQ(0, quiet.status);
  EXPECT_EQ("", quiet.out);
}

TEST_F(CampropTest, WatchLooksOnceASecondWhereItCannotWatchAndSaysSo) {
  // Each row starts a watch that inotify cannot serve, then changes a key.
  struct Row {
    const char* name;
    uid_t uid;          // run as this user; -1: as the test
    mode_t dir_mode;    // of the store's directory
    int failing_watch;  // errno of inotify_add_watch on the store's directory
    std::string said;
  };
  const std::string instead = "; reading " + path() + " once a second instead\n";
  const std::vector<Row> rows = {
      {"directory without read permission", 65534, 0711, 0,
       "camprop: cannot watch " + camera() + ": permission denied" + instead},
      {"inotify watch limit reached", static_cast<uid_t>(-1), 0777, ENOSPC,
       "camprop: cannot watch " + camera() +
           ": the limit of inotify watches is reached (fs.inotify.max_user_watches)" + instead},
  };
  std::string skipped;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResetStore();
    Set("k", "old");
    ASSERT_EQ(0, chmod(camera().c_str(), row.dir_mode));
    ToolOptions options;
    options.uid = row.uid;
    calls_.inotify_add_watch = [&](int fd, const char* at, uint32_t mask) {
      if (camera() != at || row.failing_watch == 0) {
        return kSystemCalls.inotify_add_watch(fd, at, mask);
      }
      errno = row.failing_watch;
      return -1;
    };
    const std::vector<std::string> arguments = {"watch", "--count", "1", "--timeout", "60"};
    const auto watch = row.failing_watch != 0 ? StartHooked(arguments) : Start(arguments, options);
    if (!watch->WaitForError("interrupt to stop")) {
      const ToolResult result = watch->Finish();
      if (result.status == kCannotSwitchUser) {
        skipped += std::string(row.name) + ": cannot switch users here. ";
        continue;
      }
      ADD_FAILURE() << result.err;
      continue;
    }
    Set("k", "new");
    const ToolResult result = watch->Finish();
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("[k]: [old] -> [new]\n", WithoutTimes(result.out));
    // Said once, however many times it looked.
    EXPECT_EQ(1u, std::count(result.err.begin(), result.err.end(), '\n') - 1) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(row.said)) << result.err;
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST_F(CampropTest, WatchTakesItsFirstReadableSnapshotAsItsBaseline) {
  Set("a", "1");
  Set("b", "2");
  // The first read fails: a and b are there before the watch can see them.
  int reads = 0;
  calls_.pread = CountedPread(&reads, 1);
  const auto watch = StartHooked({"watch", "--count", "1", "--timeout", "60"});
  ASSERT_TRUE(watch->WaitForError("waiting for it to be readable\n"));
  ASSERT_EQ(0, chmod(path().c_str(), 0664));  // wakes the watch: it reads again
  ASSERT_TRUE(watch->WaitForError("camprop: " + path() + " can be read again\n"));
  Set("c", "3");
  const ToolResult result = watch->Finish();
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("[c]: (new) -> [3]\n", WithoutTimes(result.out));
}

TEST_F(CampropTest, ALinkToAHugeSparseFileCostsNoMemory) {
  // 100 GB that take no room on disk, at the end of a link at the path.
  const std::string huge = camera() + "/huge";
  const int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_LE(0, fd);
  ASSERT_EQ(0, ftruncate(fd, off_t{100} << 30));
  close(fd);
  ASSERT_EQ(0, symlink(huge.c_str(), path().c_str()));
  for (const char* command : {"list", "check"}) {
    const ToolResult result = RunTool({command});
    EXPECT_EQ(1, result.status) << command;
    EXPECT_NE(std::string::npos, result.err.find("symbolic link")) << command;
    // A tool that sized its copy by the link's target held 640 MB.
    EXPECT_GT(200 * 1024, result.max_resident_kb) << command;
  }
}

TEST_F(CampropTest, ListEscapesC1ControlsButKeepsUtf8Text) {
  // What a value holds, and how list shows it.
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"\x9b" "31m", "\\x9b31m"},               // CSI of terminals that honour C1
      {"\x80\x9f", "\\x80\\x9f"},               // the ends of the C1 range
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},         // CSI as UTF-8
      {"\xc2\x80\xc2\x9f", "\\xc2\\x80\\xc2\\x9f"},
      {"\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},  // no-break space, e acute
      {"\xe2\x82\xac", "\xe2\x82\xac"},         // the euro sign: 0x82 inside a character
      {"\xe2\x82", "\xe2\\x82"},                 // the same cut short
      {"\xa0\xff", "\xa0\xff"},                   // Latin-1 text
  };
  std::string expected;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string key = "v" + std::to_string(i);
    Set(key.c_str(), rows[i].first.c_str());
    expected += "#" + std::to_string(i) + " [" + key + "]: [" + rows[i].second + "]\n";
  }
  const ToolResult result = RunTool({"list"});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(expected, result.out);
}

TEST_F(CampropTest, LoadAppliesEachSoundFileWholeAndLeavesOutABadOne) {
  // Each line and what it becomes: a record as list shows it, or the reason
  // it is refused; "" for a line that is skipped.
  struct Row {
    std::string line;
    std::string result;
  };
  const std::string key63(63, 'k'), value91(91, 'v');
  const std::vector<Row> good = {
      {"\xef\xbb\xbf# a byte-order mark, then a comment", ""},
      {"", ""},
      {"; also a comment", ""},
      {"-optional=1", "[optional]: [1]"},
      {"-a bad line that may fail", ""},
      {" \t # indented", ""},
      {"plain=1", "[plain]: [2]"},  // the last line overrides it, in place
      {" \t spaced \t = \t two words \t", "[spaced]: [two words]"},
      {"empty=", "[empty]: []"},
      {"equals=a=b", "[equals]: [a=b]"},
      {"crlf=v\r", "[crlf]: [v]"},
      {key63 + "=" + value91, "[" + key63 + "]: [" + value91 + "]"},
      {"plain=2", ""},
  };
  const std::vector<Row> bad = {
      {"no equals sign", "no '=' in the line"},
      {"  = value", "empty key"},
      {std::string(64, 'k') + "=v", "key is 64 bytes long; a key holds at most 63 bytes"},
      {"k=" + std::string(92, 'v'), "value is 92 bytes long; a value holds at most 91 bytes"},
      {"k\x01=v", "control byte 0x01 in the key"},
      {"k=tab\there", "control byte 0x09 in the value"},
      {"k=\x1b[2J", "control byte 0x1b in the value"},
  };
  TempDir dir;
  const std::string good_file = dir / "10-good.conf", bad_file = dir / "20-bad.conf";
  std::string text, listed, complaints;
  for (const Row& row : good) {
    text += row.line + "\n";
    if (!row.result.empty()) {
      listed += "#" + std::to_string(std::count(listed.begin(), listed.end(), '\n')) + " " +
                row.result + "\n";
    }
  }
  PutFile(good_file, text);
  text.clear();
  for (size_t i = 0; i < bad.size(); ++i) {
    text += bad[i].line + "\n";
    complaints += bad_file + ":" + std::to_string(i + 1) + ": " + bad[i].result + "\n";
  }
  PutFile(bad_file, text.substr(0, text.size() - 1));  // the last line without its newline

  // A bad or unreadable file is left out whole; the sound one still counts.
  const std::string saved = "--file=" + dir / "none.properties";
  ToolResult result = RunTool({"load", saved, bad_file, good_file});
  EXPECT_EQ(2, result.status);
  EXPECT_EQ(complaints + "camprop: " + bad_file + " not applied: 7 bad lines\n", result.err);
  EXPECT_EQ(listed, RunTool({"list"}).out);
  ResetStore();
  result = RunTool({"load", saved, dir / "missing.conf", good_file});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("camprop: cannot read " + dir / "missing.conf" +
                ": No such file or directory; none of it is stored\n",
            result.err);
  EXPECT_EQ(listed, RunTool({"list"}).out);
  ResetStore();

  // One pass under one lock: the store is read once (a second read would
  // fail here), so a reader sees all of the load or none of it.
  SetStoreBytes("");
  int reads = 0;
  calls_.pread = CountedPread(&reads, 2);
  result = RunHooked({"load", saved, good_file});
  calls_.pread = nullptr;
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.out + result.err);
  EXPECT_EQ(listed, RunTool({"list"}).out);

  // A directory stands for its *.conf files in name order: a later file
  // overrides an earlier one; hidden files and other names are not read.
  PutFile(dir / "05-first.conf", "plain=0\nfirst=1\n");
  PutFile(dir / ".hidden.conf", "hidden=1\n");
  PutFile(dir / "notes.txt", "notes=1\n");
  // Left out in silence, as sysctl.d does: a directory, a masked file.
  ASSERT_EQ(0, mkdir((dir / "sub.conf").c_str(), 0755));
  ASSERT_EQ(0, symlink("/dev/null", (dir / "masked.conf").c_str()));
  ASSERT_EQ(0, unlink(bad_file.c_str()));
  result = RunTool({"load", saved, dir / ""});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ("2\n", RunTool({"get", "plain"}).out);
  EXPECT_EQ("1\n", RunTool({"get", "first"}).out);
  EXPECT_EQ("<none>", Lookup("hidden"));
  EXPECT_EQ("<none>", Lookup("notes"));

  // Without operands, the defaults directory of the root.
  ResetStore();
  const std::string defaults = root_ / "etc/camera/properties.d";
  for (const std::string& made : {root_ / "etc", root_ / "etc/camera", defaults}) {
    ASSERT_EQ(0, mkdir(made.c_str(), 0755));
  }
  // A later line, or a later file, wins for a persist. key as for any other.
  PutFile(defaults + "/50-camera.conf",
          "from.root=1\npersist.twice=1\npersist.twice=2\npersist.files=1\n");
  PutFile(defaults + "/60-camera.conf", "persist.files=2\n");
  EXPECT_EQ(0, RunTool({"load", saved}).status);
  EXPECT_EQ("1", Lookup("from.root"));
  EXPECT_EQ("2", Lookup("persist.twice"));
  EXPECT_EQ("2", Lookup("persist.files"));
}

TEST_F(CampropTest, PersistKeysSurviveARebootThroughTheirSavedFile) {
  TempDir dir;
  const std::string file = dir / "persist.properties";
  // Saved at an earlier boot, without escapes, and not restored yet: a
  // watch that starts now must not erase it.
  PutFile(file, "persist.kept=1\n");
  struct stat before, after;
  ASSERT_EQ(0, stat(file.c_str(), &before));
  // A second name keeps the first file's inode from being reused by a save.
  ASSERT_EQ(0, link(file.c_str(), (dir / "first").c_str()));
  // Every byte a value can hold, at either end and inside; keys with what
  // a line would otherwise take for something else.
  std::vector<std::pair<std::string, std::string>> exact;
  for (int byte = 1; byte < 256; ++byte) {
    const std::string b(1, static_cast<char>(byte));
    exact.emplace_back("persist.byte" + std::to_string(byte), b + "v" + b + b);
  }
  for (const char* key : {"persist.a=b", "persist.tail ", "persist.back\\slash"}) {
    exact.emplace_back(key, " 5\t");
  }
  // The steps that make a replaced file last, as the watch takes them.
  const std::string trace = file + ".trace";
  const auto step = [trace](const char* name) {
    FILE* out = fopen(trace.c_str(), "ae");
    fprintf(out, "%s\n", name);
    fclose(out);
  };
  calls_.write = [&](int fd, const void* bytes, size_t count) {
    step("write");
    return kSystemCalls.write(fd, bytes, count);
  };
  calls_.fsync = [&](int fd) {
    struct stat info;
    step(fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? "fsync directory" : "fsync file");
    return kSystemCalls.fsync(fd);
  };
  calls_.rename = [&](const char* from, const char* to) {
    step("rename");
    return kSystemCalls.rename(from, to);
  };
  {
    const auto watch = StartHooked({"persist", "watch", "--file", file});
    ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
    ASSERT_EQ(0, RunTool({"set", "vendor.y", "6"}).status);  // not a persist. key
    for (const auto& [key, value] : exact) {
      Set(key.c_str(), value.c_str());
    }
    ASSERT_EQ(0, RunTool({"set", "persist.x", "5"}).status);
    ASSERT_TRUE(WaitForFileToHold(file, "persist.x=5\n"));
    // Replaced by a rename, never rewritten in place, where a power cut
    // would leave it cut short; readable by the group only.
    ASSERT_EQ(0, stat(file.c_str(), &after));
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(0640u, after.st_mode & 07777);
  }  // SIGKILL: no chance to tidy up
  ASSERT_EQ(0, unlink((dir / "first").c_str()));
  const std::string saves = ReadFile(trace);
  ASSERT_EQ(0, unlink(trace.c_str()));
  EXPECT_EQ((std::vector<std::string>{"persist.properties", "persist.properties.lock"}), dir.Names());
  EXPECT_EQ(std::string::npos, ReadFile(file).find("vendor.y"));
  // Each save: the content reaches the disk before the rename, and the
  // rename before the watch goes on (the kill may cut the last one short).
  const std::string save = "write\nfsync file\nrename\nfsync directory\n";
  std::string expected_saves = save;
  while (expected_saves.size() < saves.size()) expected_saves += save;
  EXPECT_EQ(expected_saves.substr(0, saves.size()), saves);
  EXPECT_LE(save.size(), saves.size());

  // A full disk: no save renames a file it could not write over the saved one.
  {
    const std::string saved = ReadFile(file);
    calls_.write = [](int, const void*, size_t) {
      errno = ENOSPC;
      return ssize_t{-1};
    };
    const auto watch = StartHooked({"persist", "watch", "--file", file});
    ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
    ASSERT_EQ(0, RunTool({"set", "persist.y", "7"}).status);
    EXPECT_TRUE(watch->WaitForError("camprop: cannot save " + file +
                                   ": No space left on device; trying again every second\n"));
    EXPECT_EQ(saved, ReadFile(file));
    EXPECT_EQ((std::vector<std::string>{"persist.properties", "persist.properties.lock"}), dir.Names());
  }

  ResetStore();  // what a reboot does to /run
  const ToolResult restored = RunTool({"persist", "restore", "--file", file});
  EXPECT_EQ(0, restored.status);
  EXPECT_EQ("", restored.out + restored.err);
  EXPECT_EQ("5\n", RunTool({"get", "persist.x"}).out);
  EXPECT_EQ("1\n", RunTool({"get", "persist.kept"}).out);
  for (const auto& [key, value] : exact) EXPECT_EQ(value, Lookup(key)) << key;
  EXPECT_EQ((exact.size() + 2) * PROPERTY_RECORD_SIZE, StoreBytes().size());

  // Without --file, the saved file of the root.
  ResetStore();
  for (const std::string& made : {root_ / "var", root_ / "var/lib", root_ / "var/lib/camera"}) {
    ASSERT_EQ(0, mkdir(made.c_str(), 0755));
  }
  ASSERT_EQ(0, rename(file.c_str(), (root_ / "var/lib/camera/persist.properties").c_str()));
  EXPECT_EQ(0, RunTool({"persist", "restore"}).status);
  EXPECT_EQ("5", Lookup("persist.x"));
}

TEST_F(CampropTest, SavedSettingsWinOverDefaultsAndDefaultsAreNeverSaved) {
  TempDir dir;
  const std::string file = dir / "persist.properties", defaults = dir / "50-camera.conf";
  PutFile(defaults, "persist.x=2\npersist.d=1\npersist.y=4\nvendor.v=1\n");
  PutFile(file, "persist.x=3\n");
  const auto load = [&] { return RunTool({"load", "--file", file, defaults}).status; };
  ASSERT_EQ(0, load());  // the boot
  EXPECT_EQ("3", Lookup("persist.x"));
  EXPECT_EQ("1", Lookup("persist.d"));
  std::unique_ptr<ToolProcess> watch = Start({"persist", "watch", "--file", file});
  ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
  ASSERT_EQ(0, RunTool({"set", "persist.y", "5"}).status);
  ASSERT_TRUE(WaitForFileToHold(file, "persist.y=5\n"));
  // A later load, or a restart of the service, puts no default over a
  // setting; a default nobody set takes its new value.
  PutFile(defaults, "persist.x=2\npersist.d=7\npersist.y=4\nvendor.v=1\n");
  ASSERT_EQ(0, load());
  EXPECT_EQ("5", Lookup("persist.y"));
  EXPECT_EQ("3", Lookup("persist.x"));
  EXPECT_EQ("7", Lookup("persist.d"));
  // Set back to its default, a key follows the default again.
  ASSERT_EQ(0, RunTool({"set", "persist.x", "2"}).status);
  ASSERT_TRUE(WaitForFileToLose(file, "persist.x="));
  // Forgotten at once, and not saved again by a watch that starts anew.
  const ToolResult forgot = RunTool({"persist", "forget", "--file", file, "persist.y", "persist.q"});
  EXPECT_EQ(0, forgot.status);
  EXPECT_EQ("camprop: persist.q is not saved in " + file + "\n", forgot.err);
  watch = Start({"persist", "watch", "--file", file});
  ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
  ASSERT_EQ(0, RunTool({"set", "persist.z", "9"}).status);
  ASSERT_TRUE(WaitForFileToHold(file, "persist.z=9\n"));
  watch.reset();
  EXPECT_EQ("persist.z=9\n", WithoutComments(ReadFile(file)));

  ResetStore();  // the next boot
  ASSERT_EQ(0, load());
  EXPECT_EQ("2", Lookup("persist.x"));
  EXPECT_EQ("7", Lookup("persist.d"));
  EXPECT_EQ("4", Lookup("persist.y"));
  EXPECT_EQ("9", Lookup("persist.z"));
}

TEST_F(CampropTest, TheWatchSavesNoMoreThanARestoreReadsBack) {
  // Keys and values of bytes that each take four to write: about 30,000 of
  // them fill more than the 16 MiB a restore reads.
  std::string records;
  const size_t count = 30000;
  for (size_t i = 0; i < count; ++i) {
    char key[PROPERTY_KEY_SIZE];
    snprintf(key, sizeof(key), "persist.%06zu", i);
    records += RecordBytes(std::string(key) + std::string(48, '\x01'), std::string(91, '\x02'));
  }
  SetStoreBytes(records);
  TempDir dir;
  const std::string file = dir / "persist.properties";
  ToolResult result;
  {
    const auto watch = Start({"persist", "watch", "--file", file});
    ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
    watch->Signal(SIGTERM);
    result = watch->Finish();
  }
  const size_t refused = std::count(result.err.begin(), result.err.end(), '\n') - 1;
  EXPECT_EQ(0, result.status);
  EXPECT_LT(0u, refused);
  EXPECT_NE(std::string::npos, result.err.find("is not saved: " + file + " would grow past 16 MiB"));
  EXPECT_GE(size_t{16} << 20, ReadFile(file).size());
  ResetStore();
  result = RunTool({"persist", "restore", "--file", file});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.err);
  EXPECT_EQ((count - refused) * PROPERTY_RECORD_SIZE, StoreBytes().size());
}

TEST_F(CampropTest, PersistRestoreSkipsDamageAndKeepsTheDamagedFileBeside) {
  TempDir dir;
  const std::string file = dir / "persist.properties";
  const std::string damaged = "persist.a=1\nbroken\npersist.b=" + std::string(92, 'v') +
                              "\nvendor.c=3\n persist.d = 4 \n\xff\x00garbage";
  PutFile(file, damaged);
  ToolResult result = RunTool({"persist", "restore", "--file", file});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(file + ":2: no '=' in the line\n" +
            file + ":3: value is 92 bytes long; a value holds at most 91 bytes\n" +
            file + ":4: key does not begin with \"persist.\"\n" +
            file + ":6: no '=' in the line\n"
            "camprop: skipped 4 damaged lines of " + file + "\n"
            "camprop: kept the damaged file as " + file + ".bad\n",
            result.err);
  EXPECT_EQ(damaged, ReadFile(file + ".bad"));
  struct stat copy;
  ASSERT_EQ(0, stat((file + ".bad").c_str(), &copy));
  EXPECT_EQ(0640u, copy.st_mode & 07777);  // for the group camera, as the store
  EXPECT_EQ("1\n", RunTool({"get", "persist.a"}).out);
  EXPECT_EQ("4\n", RunTool({"get", "persist.d"}).out);
  EXPECT_EQ(2u * PROPERTY_RECORD_SIZE, StoreBytes().size());
  // A watch writes the sound part anew at once.
  {
    const auto watch = Start({"persist", "watch", "--file", file});
    ASSERT_TRUE(watch->WaitForError("stop with a signal\n"));
    EXPECT_EQ("persist.a=1\npersist.d=4\n", WithoutComments(ReadFile(file)));
  }

  // What lies at the path instead of a file never hangs or crashes either
  // command; of a file too large to be ours only what a restore reads is
  // taken, and kept aside.
  struct Row {
    const char* name;
    std::function<void()> make;
    int status;
    std::string complaint;
  };
  const std::vector<Row> rows = {
      {"directory", [&] { ASSERT_EQ(0, mkdir(file.c_str(), 0755)); }, 1,
       "camprop: cannot read " + file + ": is not a regular file\n"},
      {"FIFO", [&] { ASSERT_EQ(0, mkfifo(file.c_str(), 0644)); }, 1,
       "camprop: cannot read " + file + ": is not a regular file\n"},
      {"link", [&] { ASSERT_EQ(0, symlink((file + ".bad").c_str(), file.c_str())); }, 1,
       "camprop: cannot read " + file + ": is a symbolic link, which is not followed\n"},
      {"sparse 1 GB", [&] {
         PutFile(file, "x");
         ASSERT_EQ(0, truncate(file.c_str(), off_t{1} << 30));
       },
       0, "camprop: " + file + " is larger than 16 MiB, more than camprop persist watch "
          "writes; what lies beyond is not read\ncamprop: kept the damaged file as " + file +
          ".bad\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveTree(file);
    row.make();
    for (const char* command : {"restore", "watch"}) {
      const auto tool = Start({"persist", command, "--file", file});
      if (std::string(command) == "watch" && row.status == 0) {
        EXPECT_TRUE(tool->WaitForError("stop with a signal\n"));
        continue;
      }
      result = tool->Finish();
      EXPECT_EQ(row.status, result.status) << command;
      EXPECT_EQ(row.complaint, result.err) << command;
    }
  }
}

}  // namespace
}  // namespace isputils_test
