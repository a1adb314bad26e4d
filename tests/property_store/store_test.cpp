// The storage file as other processes see it, through the engine's lookup
// and one-key update on a store of the test's own: record layout byte for
// byte, the first-match rule, cutting of over-long texts, partial and
// damaged records, and updates that cannot reach the file.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "property_store/internal/store.h"
#include "tests/property_store/store_bytes.h"
#include "tests/support/store_dir_test.h"

namespace isputils_test {
namespace {

using propstore::Status;
using StoreTest = StoreDirTest;

TEST_F(StoreTest, FirstUpdateCreatesOneZeroPaddedRecord) {
  ASSERT_EQ("<none>", Bytes());
  const mode_t old_mask = umask(027);
  const Status status = store_.Set("camera.mode", "hdr");
  umask(old_mask);
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(RecordBytes("camera.mode", "hdr"), Bytes());
  struct stat info;
  ASSERT_EQ(0, stat(store_.path(), &info));
  EXPECT_EQ(0640u, info.st_mode & 0777u);  // 0666 less the umask
}

TEST_F(StoreTest, UpdatesRewriteInPlaceAndAppendNewKeys) {
  ASSERT_TRUE(store_.Set("a", "1").ok());
  ASSERT_TRUE(store_.Set("b", "2").ok());
  ASSERT_TRUE(store_.Set("a", "333").ok());
  EXPECT_EQ(RecordBytes("a", "333") + RecordBytes("b", "2"), Bytes());
  EXPECT_EQ("333", Lookup("a"));
  EXPECT_EQ("2", Lookup("b"));
  char value[PROPERTY_VALUE_SIZE] = "untouched";
  for (const char* absent : {"c", "A", "a "}) {  // case-sensitive, exact
    EXPECT_EQ(Status::Code::kNotFound, store_.Get(absent, value).code()) << absent;
  }
  EXPECT_STREQ("untouched", value);
}

TEST_F(StoreTest, ShorterValueKeepsOldBytesPastItsNul) {
  ASSERT_TRUE(store_.Set("k", "abcdef").ok());
  ASSERT_TRUE(store_.Set("k", "xy").ok());
  std::string expected = RecordBytes("k", "abcdef");
  expected.replace(PROPERTY_KEY_SIZE, 3, std::string("xy\0", 3));
  EXPECT_EQ(expected, Bytes());
  EXPECT_EQ("xy", Lookup("k"));
}

TEST_F(StoreTest, AppendedRecordCarriesLeftoversOfLastRecordRead) {
  SetBytes(RecordBytes("first.key.long", "a long first value", 'Z'));
  ASSERT_TRUE(store_.Set("k2", "v").ok());
  const std::string file = Bytes();
  ASSERT_EQ(2u * PROPERTY_RECORD_SIZE, file.size());
  std::string expected = RecordBytes("first.key.long", "a long first value", 'Z');
  expected.replace(0, 3, std::string("k2\0", 3));
  expected.replace(PROPERTY_KEY_SIZE, 2, std::string("v\0", 2));
  EXPECT_EQ(expected, file.substr(PROPERTY_RECORD_SIZE));
  // Leftovers never change what a lookup sees.
  EXPECT_EQ("v", Lookup("k2"));
  EXPECT_EQ("a long first value", Lookup("first.key.long"));
}

TEST_F(StoreTest, MissingFileReadsAsNothingStoredAndIsNotCreated) {
  char value[PROPERTY_VALUE_SIZE] = "untouched";
  EXPECT_EQ(Status::Code::kNoFile, store_.Get("any", value).code());
  EXPECT_STREQ("untouched", value);
  EXPECT_EQ("<none>", Bytes());
  SetBytes("");
  EXPECT_EQ(Status::Code::kNotFound, store_.Get("any", value).code());
  EXPECT_STREQ("untouched", value);
}

TEST_F(StoreTest, OverLongTextsAreCutAtTheirFields) {
  const std::string key63(63, 'k');
  const std::string key64 = key63 + "X";
  const std::string value91(91, 'v');
  ASSERT_TRUE(store_.Set(key63.c_str(), (value91 + "tail").c_str()).ok());
  EXPECT_EQ(value91, Lookup(key63));
  EXPECT_EQ(RecordBytes(key63, value91), Bytes());

  // A 64-byte key never equals a stored key: each update appends a record
  // keyed by its first 63 bytes, and the first of them wins afterwards.
  ASSERT_TRUE(store_.Set(key64.c_str(), "second").ok());
  ASSERT_TRUE(store_.Set(key64.c_str(), "third").ok());
  EXPECT_EQ(3u * PROPERTY_RECORD_SIZE, Bytes().size());
  EXPECT_EQ("<none>", Lookup(key64));
  EXPECT_EQ(value91, Lookup(key63));
  ASSERT_TRUE(store_.Set(key63.c_str(), "via63").ok());
  const std::string file = Bytes();
  EXPECT_EQ(RecordBytes(key63, "via63").substr(0, 70), file.substr(0, 70));
  // The third record carries leftovers of the second past its NULs.
  EXPECT_EQ(0, file.compare(2 * PROPERTY_RECORD_SIZE, 70, RecordBytes(key63, "third").substr(0, 70)));
}

TEST_F(StoreTest, EmptyKeyAndEmptyValueAreOrdinary) {
  ASSERT_TRUE(store_.Set("", "for empty key").ok());
  ASSERT_TRUE(store_.Set("blank", "").ok());
  EXPECT_EQ("for empty key", Lookup(""));
  char value[PROPERTY_VALUE_SIZE] = "x";
  EXPECT_TRUE(store_.Get("blank", value).ok());
  EXPECT_STREQ("", value);
}

TEST_F(StoreTest, PartialTrailingRecordIsIgnoredThenOverwritten) {
  const std::string last_whole = RecordBytes("a", "1", 'Z');
  const std::string partial = RecordBytes("tail", "never seen", 'T').substr(0, 100);
  SetBytes(last_whole + partial);
  EXPECT_EQ("<none>", Lookup("tail"));
  EXPECT_EQ("1", Lookup("a"));
  ASSERT_TRUE(store_.Set("b", "2").ok());
  const std::string file = Bytes();
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

TEST_F(StoreTest, FirstOfDuplicateKeysWins) {
  SetBytes(RecordBytes("dup", "first") + RecordBytes("dup", "second"));
  EXPECT_EQ("first", Lookup("dup"));
  ASSERT_TRUE(store_.Set("dup", "changed").ok());
  EXPECT_EQ(RecordBytes("dup", "changed") + RecordBytes("dup", "second"), Bytes());
}

TEST_F(StoreTest, UnterminatedFieldsReadCutAndNoKeyReachesThem) {
  const std::string key64(64, 'K');
  const std::string value92(92, 'V');
  // The empty value puts a NUL just past the unterminated key field.
  SetBytes(RecordBytes(key64, "") + RecordBytes("after", "ok") + RecordBytes("v", value92));
  // No key reaches the unterminated key field: a stored key holds at most 63
  // bytes, so a 64-byte key matches nothing and its update appends.
  EXPECT_EQ("<none>", Lookup(key64));
  EXPECT_EQ("<none>", Lookup(std::string(63, 'K')));
  EXPECT_EQ("<none>", Lookup(key64 + "K"));
  EXPECT_EQ("ok", Lookup("after"));
  EXPECT_EQ(std::string(91, 'V'), Lookup("v"));  // value read cut at 91 bytes
  const std::string before = Bytes();
  ASSERT_TRUE(store_.Set(key64.c_str(), "appended").ok());
  const std::string after = Bytes();
  ASSERT_EQ(4u * PROPERTY_RECORD_SIZE, after.size());
  EXPECT_EQ(before, after.substr(0, before.size()));
  EXPECT_EQ("appended", Lookup(std::string(63, 'K')));
}

TEST_F(StoreTest, UpdatesThatCannotReachTheFileFailAndSayWhy) {
  const auto refuse = [this](const char* path, int error) {
    calls_.open = [path, error](const char* opened, int flags, mode_t mode) {
      if (strcmp(opened, path) == 0 && (flags & O_ACCMODE) != O_RDONLY) {
        errno = error;
        return -1;
      }
      return propstore::kSystemCalls.open(opened, flags, mode);
    };
  };
  const std::string sub = dir_ / "sub";
  const std::string file = sub + "/property_storage";
  struct Case {
    const char* name;
    std::function<void()> make;
    Status::Code code;
    int error;
    std::string path;  // the status names
  } cases[] = {
      {"no directory", [] {}, Status::Code::kNoDirectory, ENOENT, sub},
      {"a file at the directory", [&] { ASSERT_TRUE(WriteFile(sub, "")); },
       Status::Code::kNotDirectory, ENOTDIR, sub},
      {"a directory at the path",
       [&] {
         ASSERT_EQ(0, mkdir(sub.c_str(), 0777));
         ASSERT_EQ(0, mkdir(file.c_str(), 0777));
       },
       Status::Code::kNotRegular, EISDIR, file},
      {"read-only file system",
       [&] {
         ASSERT_EQ(0, mkdir(sub.c_str(), 0777));
         refuse(file.c_str(), EROFS);
       },
       Status::Code::kOpen, EROFS, file},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(sub);
    calls_.open = nullptr;
    c.make();
    const propstore::Store store(sub.c_str(), Options());
    const Status status = store.Set("k", "v");
    EXPECT_EQ(c.code, status.code());
    EXPECT_EQ(c.error, status.error());
    EXPECT_EQ(c.path, status.path());
    char value[PROPERTY_VALUE_SIZE];
    EXPECT_FALSE(store.Get("k", value).ok());
  }
}

TEST_F(StoreTest, FullFileSystemStoresNothingAndKeepsEarlierRecords) {
  ASSERT_TRUE(store_.Set("key.0", "value").ok());
  SetBytes(Bytes() + "partial");
  const std::string before = Bytes();
  // Where room can be reserved, nothing is written; where it cannot, the
  // part of the record written is cut off again.
  for (const bool reserves : {true, false}) {
    SCOPED_TRACE(reserves ? "room reserved first" : "no reservation here");
    calls_.fallocate = [reserves](int, int, off_t, off_t) {
      errno = reserves ? ENOSPC : EOPNOTSUPP;
      return -1;
    };
    // What a full disk does: the blocks there were room for, then ENOSPC.
    bool wrote_part = false;
    calls_.pwrite = [&wrote_part](int fd, const void* bytes, size_t count, off_t offset) {
      if (offset < PROPERTY_RECORD_SIZE) return propstore::kSystemCalls.pwrite(fd, bytes, count, offset);
      if (wrote_part) {
        errno = ENOSPC;
        return ssize_t{-1};
      }
      wrote_part = true;
      return propstore::kSystemCalls.pwrite(fd, bytes, count / 2, offset);
    };
    const Status status = store_.Set("key.1", "value");
    EXPECT_EQ(reserves ? Status::Code::kNoSpace : Status::Code::kWrite, status.code());
    EXPECT_EQ(ENOSPC, status.error());
    EXPECT_EQ(reserves ? before : before.substr(0, PROPERTY_RECORD_SIZE), Bytes());
    EXPECT_EQ("<none>", Lookup("key.1"));
    // In-place updates need no room and still succeed.
    EXPECT_TRUE(store_.Set("key.0", "again").ok());
    EXPECT_EQ("again", Lookup("key.0"));
    SetBytes(before);
  }
}

TEST_F(StoreTest, LinksAtThePathAreNeverWrittenThrough) {
  // A hard link: the file at the path is also another name's file. Lookups
  // may read it; updates refuse it.
  SetBytes(RecordBytes("k", "real"));
  ASSERT_EQ(0, link(store_.path(), (dir_ / "other-name").c_str()));
  EXPECT_EQ(Status::Code::kLinked, store_.Set("k", "through link").code());
  EXPECT_EQ(EMLINK, store_.Set("new", "appended").error());
  EXPECT_EQ(RecordBytes("k", "real"), Bytes());
  EXPECT_EQ("real", Lookup("k"));
  ASSERT_EQ(0, unlink((dir_ / "other-name").c_str()));
  EXPECT_TRUE(store_.Set("k", "alone again").ok());

  // A symbolic link is never followed, not even to read.
  ASSERT_EQ(0, rename(store_.path(), (dir_ / "elsewhere").c_str()));
  ASSERT_EQ(0, symlink((dir_ / "elsewhere").c_str(), store_.path()));
  EXPECT_EQ("<none>", Lookup("k"));
  EXPECT_EQ(ELOOP, store_.Set("k", "through link").error());
  EXPECT_EQ(RecordBytes("k", "alone again"), ReadFile(dir_ / "elsewhere"));
  // Dangling link: nothing is created at its target either.
  ASSERT_EQ(0, unlink(store_.path()));
  ASSERT_EQ(0, symlink((dir_ / "target").c_str(), store_.path()));
  EXPECT_EQ(Status::Code::kNotRegular, store_.Set("k", "v").code());
  EXPECT_NE(0, access((dir_ / "target").c_str(), F_OK));
}

TEST_F(StoreTest, FifoAtThePathDoesNotHang) {
  ASSERT_EQ(0, mkfifo(store_.path(), 0666));
  EXPECT_EQ("<none>", Lookup("k"));
  EXPECT_EQ(Status::Code::kNotRegular, store_.Set("k", "v").code());
}

}  // namespace
}  // namespace isputils_test
