// The storage file as other processes see it: record layout byte for byte,
// the first-match rule, cutting of over-long texts, partial and damaged
// records, and the outcomes of updates that cannot reach the file.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/private_run.h"
#include "tests/support/store_test.h"

namespace isputils_test {
namespace {

using PropertyRecordsTest = StoreTest;

TEST_F(PropertyRecordsTest, FirstUpdateCreatesOneZeroPaddedRecord) {
  ASSERT_FALSE(StoreFileExists());
  const mode_t old_mask = umask(027);
  const int result = update_property("camera.mode", "hdr");
  umask(old_mask);
  ASSERT_EQ(0, result);
  EXPECT_EQ(RecordBytes("camera.mode", "hdr"), ReadStoreFile());
  struct stat info;
  ASSERT_EQ(0, stat(kStoragePath, &info));
  EXPECT_EQ(0640u, info.st_mode & 0777u);  // 0666 less the umask
}

TEST_F(PropertyRecordsTest, UpdatesRewriteInPlaceAndAppendNewKeys) {
  ASSERT_EQ(0, update_property("a", "1"));
  ASSERT_EQ(0, update_property("b", "2"));
  ASSERT_EQ(0, update_property("a", "333"));
  EXPECT_EQ(RecordBytes("a", "333") + RecordBytes("b", "2"), ReadStoreFile());
  EXPECT_EQ("333", Lookup("a"));
  EXPECT_EQ("2", Lookup("b"));
  EXPECT_EQ("<none>", Lookup("c"));
  EXPECT_EQ("<none>", Lookup("A"));  // case-sensitive, exact
  EXPECT_EQ("<none>", Lookup("a "));
}

TEST_F(PropertyRecordsTest, ShorterValueKeepsOldBytesPastItsNul) {
  ASSERT_EQ(0, update_property("k", "abcdef"));
  ASSERT_EQ(0, update_property("k", "xy"));
  std::string expected = RecordBytes("k", "abcdef");
  expected.replace(PROPERTY_KEY_SIZE, 3, std::string("xy\0", 3));
  EXPECT_EQ(expected, ReadStoreFile());
  EXPECT_EQ("xy", Lookup("k"));
}

TEST_F(PropertyRecordsTest, AppendedRecordCarriesLeftoversOfLastRecordRead) {
  WriteStoreFile(RecordBytes("first.key.long", "a long first value", 'Z'));
  ASSERT_EQ(0, update_property("k2", "v"));
  const std::string file = ReadStoreFile();
  ASSERT_EQ(2u * PROPERTY_RECORD_SIZE, file.size());
  std::string expected = RecordBytes("first.key.long", "a long first value", 'Z');
  expected.replace(0, 3, std::string("k2\0", 3));
  expected.replace(PROPERTY_KEY_SIZE, 2, std::string("v\0", 2));
  EXPECT_EQ(expected, file.substr(PROPERTY_RECORD_SIZE));
  // Leftovers never change what a lookup sees.
  EXPECT_EQ("v", Lookup("k2"));
  EXPECT_EQ("a long first value", Lookup("first.key.long"));
}

TEST_F(PropertyRecordsTest, MissingFileReadsAsNothingStoredAndIsNotCreated) {
  char value[PROPERTY_VALUE_SIZE] = "untouched";
  EXPECT_EQ(0, fetch_property("any", value));
  EXPECT_STREQ("untouched", value);
  EXPECT_FALSE(StoreFileExists());
  WriteStoreFile("");
  EXPECT_EQ(0, fetch_property("any", value));
  EXPECT_STREQ("untouched", value);
}

TEST_F(PropertyRecordsTest, OverLongTextsAreCutAtTheirFields) {
  const std::string key63(63, 'k');
  const std::string key64 = key63 + "X";
  const std::string value91(91, 'v');
  ASSERT_EQ(0, update_property(key63.c_str(), (value91 + "tail").c_str()));
  EXPECT_EQ(value91, Lookup(key63));
  EXPECT_EQ(RecordBytes(key63, value91), ReadStoreFile());

  // A 64-byte key never equals a stored key: each update appends a record
  // keyed by its first 63 bytes, and the first of them wins afterwards.
  ASSERT_EQ(0, update_property(key64.c_str(), "second"));
  ASSERT_EQ(0, update_property(key64.c_str(), "third"));
  EXPECT_EQ(3u * PROPERTY_RECORD_SIZE, ReadStoreFile().size());
  EXPECT_EQ(value91, Lookup(key63));
  ASSERT_EQ(0, update_property(key63.c_str(), "via63"));
  const std::string file = ReadStoreFile();
  EXPECT_EQ(RecordBytes(key63, "via63").substr(0, 70), file.substr(0, 70));
  // The third record carries leftovers of the second past its NULs.
  EXPECT_EQ(0, file.compare(2 * PROPERTY_RECORD_SIZE, 70,
                            RecordBytes(key63, "third").substr(0, 70)));
}

TEST_F(PropertyRecordsTest, EmptyKeyAndEmptyValueAreOrdinary) {
  ASSERT_EQ(0, update_property("", "for empty key"));
  ASSERT_EQ(0, update_property("blank", ""));
  EXPECT_EQ("for empty key", Lookup(""));
  char value[PROPERTY_VALUE_SIZE] = "x";
  EXPECT_EQ(1, fetch_property("blank", value));
  EXPECT_STREQ("", value);
}

TEST_F(PropertyRecordsTest, PartialTrailingRecordIsIgnoredThenOverwritten) {
  const std::string last_whole = RecordBytes("a", "1", 'Z');
  const std::string partial = RecordBytes("tail", "never seen", 'T').substr(0, 100);
  WriteStoreFile(last_whole + partial);
  EXPECT_EQ("<none>", Lookup("tail"));
  EXPECT_EQ("1", Lookup("a"));
  ASSERT_EQ(0, update_property("b", "2"));
  const std::string file = ReadStoreFile();
  ASSERT_EQ(2u * PROPERTY_RECORD_SIZE, file.size());
  EXPECT_EQ("2", Lookup("b"));
  // The appended record is the last whole record read, with the partial
  // record read over it, then the new key and value with their NULs.
  std::string appended = last_whole;
  appended.replace(0, partial.size(), partial);
  appended.replace(0, 2, std::string("b\0", 2));
  appended.replace(PROPERTY_KEY_SIZE, 2, std::string("2\0", 2));
  EXPECT_EQ(appended, file.substr(PROPERTY_RECORD_SIZE));
}

TEST_F(PropertyRecordsTest, FirstOfDuplicateKeysWins) {
  WriteStoreFile(RecordBytes("dup", "first") + RecordBytes("dup", "second"));
  EXPECT_EQ("first", Lookup("dup"));
  ASSERT_EQ(0, update_property("dup", "changed"));
  EXPECT_EQ(RecordBytes("dup", "changed") + RecordBytes("dup", "second"),
            ReadStoreFile());
}

TEST_F(PropertyRecordsTest, UnterminatedFieldsReadCutAndNoKeyReachesThem) {
  const std::string key64(64, 'K');
  const std::string value92(92, 'V');
  // The empty value puts a NUL just past the unterminated key field.
  WriteStoreFile(RecordBytes(key64, "") + RecordBytes("after", "ok") +
                 RecordBytes("v", value92));
  // No key reaches the unterminated key field: a stored key holds at most 63
  // bytes, so a 64-byte key matches nothing and its update appends.
  EXPECT_EQ("<none>", Lookup(key64));
  EXPECT_EQ("<none>", Lookup(std::string(63, 'K')));
  EXPECT_EQ("<none>", Lookup(key64 + "K"));
  EXPECT_EQ("ok", Lookup("after"));
  EXPECT_EQ(std::string(91, 'V'), Lookup("v"));  // value read cut at 91 bytes
  const std::string before = ReadStoreFile();
  ASSERT_EQ(0, update_property(key64.c_str(), "appended"));
  const std::string after = ReadStoreFile();
  ASSERT_EQ(4u * PROPERTY_RECORD_SIZE, after.size());
  EXPECT_EQ(before, after.substr(0, before.size()));
  EXPECT_EQ("appended", Lookup(std::string(63, 'K')));
}

TEST_F(PropertyRecordsTest, UpdatesThatCannotReachTheFileFail) {
  // No directory.
  UnmountStoreFilesystem();
  ASSERT_EQ(0, rmdir(kStorageDir));
  EXPECT_EQ(-1, update_property("k", "v"));
  EXPECT_EQ("<none>", Lookup("k"));

  // A directory where the file should be.
  ResetStore();
  ASSERT_EQ(0, mkdir(kStoragePath, 0777));
  EXPECT_EQ(-1, update_property("k", "v"));
  EXPECT_EQ("<none>", Lookup("k"));

  // Read-only filesystem: lookups of what is there still work.
  if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
  ResetStore();
  ASSERT_TRUE(MountStoreFilesystem(1 << 20, /*read_only=*/true));
  EXPECT_EQ(-1, update_property("k", "v"));
  EXPECT_FALSE(StoreFileExists());
}

TEST_F(PropertyRecordsTest, FullFilesystemFailsTheAppendAndKeepsEarlierRecords) {
  if (const char* why = StoreMountsUnavailable()) GTEST_SKIP() << why;
  ASSERT_TRUE(MountStoreFilesystem(4096, /*read_only=*/false));
  int stored = 0;
  int error = 0;
  std::string key;
  for (int i = 0; i < 64; ++i) {
    key = "key." + std::to_string(i);
    if (update_property(key.c_str(), "value") != 0) {
      error = errno;
      break;
    }
    ++stored;
  }
  ASSERT_GT(stored, 0);
  ASSERT_LT(stored, 64) << "the tiny filesystem never filled up";
  EXPECT_EQ(ENOSPC, error);
  // The failed append left no partial record behind.
  EXPECT_EQ(static_cast<size_t>(stored) * PROPERTY_RECORD_SIZE, ReadStoreFile().size());
  EXPECT_EQ("<none>", Lookup(key));
  for (int i = 0; i < stored; ++i) EXPECT_EQ("value", Lookup("key." + std::to_string(i)));
  // In-place updates need no space and still succeed.
  EXPECT_EQ(0, update_property("key.0", "again"));
  EXPECT_EQ("again", Lookup("key.0"));
}

TEST_F(PropertyRecordsTest, LinksAtThePathAreNeverWrittenThrough) {
  // A hard link: the file at the path is also another name's file. Lookups
  // may read it; updates refuse it.
  WriteStoreFile(RecordBytes("k", "real"));
  ASSERT_EQ(0, link(kStoragePath, "/run/camera/other-name"));
  EXPECT_EQ(-1, update_property("k", "through link"));
  EXPECT_EQ(-1, update_property("new", "appended"));
  EXPECT_EQ(RecordBytes("k", "real"), ReadStoreFile());
  EXPECT_EQ("real", Lookup("k"));
  ASSERT_EQ(0, unlink("/run/camera/other-name"));
  EXPECT_EQ(0, update_property("k", "alone again"));

  // A symbolic link is never followed, not even to read.
  ResetStore();
  WriteStoreFile(RecordBytes("k", "real"));
  ASSERT_EQ(0, rename(kStoragePath, "/run/camera/elsewhere"));
  ASSERT_EQ(0, symlink("/run/camera/elsewhere", kStoragePath));
  EXPECT_EQ("<none>", Lookup("k"));
  EXPECT_EQ(-1, update_property("k", "through link"));
  // Dangling link: nothing is created at its target either.
  ASSERT_EQ(0, unlink(kStoragePath));
  ASSERT_EQ(0, symlink("/run/camera/target", kStoragePath));
  EXPECT_EQ(-1, update_property("k", "v"));
  EXPECT_NE(0, access("/run/camera/target", F_OK));
}

TEST_F(PropertyRecordsTest, FifoAtThePathDoesNotHang) {
  ASSERT_EQ(0, mkfifo(kStoragePath, 0666));
  EXPECT_EQ("<none>", Lookup("k"));
  EXPECT_EQ(-1, update_property("k", "v"));
}

}  // namespace
}  // namespace isputils_test
