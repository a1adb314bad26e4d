// The stress run, bounded by operations for ctest: many writers as
// processes and as threads on a store in a temporary directory, every
// lookup checked, the storage file verified at the end. Also proves that
// the checks themselves catch torn, foreign, stale, lost and duplicated
// values, so that a clean run means something.
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "propstore/properties.h"
#include "tests/stress/stress_check.h"
#include "tests/stress/stress_run.h"
#include "tests/stress/stress_value.h"
#include "tests/stress/stress_verify.h"
#include "tests/support/store_dir_test.h"
#include "tests/support/store_model.h"

namespace isputils_test {
namespace {

using propstore_stress::KeySet;
using propstore_stress::SharedState;
using propstore_stress::ValueStamp;

using PropertyStressTest = StoreDirTest;

// Runs 8 writers of 2000 operations each on `dir` and checks what they did.
void ExpectCleanRun(const std::string& dir, bool threads) {
  propstore_stress::StressOptions options;
  options.dir = dir;
  options.writers = 8;
  options.threads = threads;
  options.seconds = 0;
  options.ops_per_writer = 2000;
  const propstore_stress::StressReport report = propstore_stress::RunStress(options);
  propstore_stress::PrintReport(report, stdout);
  EXPECT_TRUE(report.ok());
  // Every writer did all its operations, each an update or a checked lookup.
  EXPECT_EQ(8u * 2000u, report.ops);
  EXPECT_EQ(report.ops, report.sets + report.gets);
  EXPECT_GT(report.sets, 0u);
  EXPECT_GT(report.gets, 0u);
  EXPECT_EQ(0u, report.partial_tail_bytes);
  // Every key was written, has exactly its records and reads back.
  const uint64_t keys = static_cast<uint64_t>(KeySet(8).count());
  EXPECT_EQ(keys, report.keys_checked);
  EXPECT_EQ(keys, report.api_lookups);
  EXPECT_EQ(keys - 8 + report.append_records, report.records);
}

TEST_F(PropertyStressTest, EightProcessesVerify) { ExpectCleanRun(dir_.path(), false); }

TEST_F(PropertyStressTest, EightThreadsOfOneProcessVerify) { ExpectCleanRun(dir_.path(), true); }

TEST_F(PropertyStressTest, ValuesRevealTearingAndCutting) {
  std::string why;
  ValueStamp stamp;
  for (uint32_t length = propstore_stress::kMinCheckedLength;
       length <= propstore_stress::kMaxValueLength; ++length) {
    const ValueStamp written{3, 7, 1000 + length, length};
    const std::string full = propstore_stress::MakeCheckedValue(written);
    ASSERT_EQ(length, full.size());
    // What the store keeps: the first 91 bytes.
    const std::string stored = full.substr(0, PROPERTY_VALUE_SIZE - 1);
    ASSERT_TRUE(propstore_stress::DecodeCheckedValue(stored, &stamp, &why)) << why;
    EXPECT_EQ(written.seq, stamp.seq);
    if (stored.size() > propstore_stress::kMinCheckedLength) {
      EXPECT_FALSE(propstore_stress::DecodeCheckedValue(stored.substr(0, stored.size() - 1),
                                                        &stamp, &why));
    }
  }
  // Head of one write, tail of another.
  const std::string a = propstore_stress::MakeCheckedValue({1, 2, 10, 60});
  const std::string b = propstore_stress::MakeCheckedValue({2, 2, 11, 60});
  EXPECT_FALSE(propstore_stress::DecodeCheckedValue(a.substr(0, 30) + b.substr(30), &stamp, &why));
  std::string damaged = a;
  damaged[5] = damaged[5] == '0' ? '1' : '0';
  EXPECT_FALSE(propstore_stress::DecodeCheckedValue(damaged, &stamp, &why));
  EXPECT_TRUE(propstore_stress::IsTinyValue(""));
  EXPECT_TRUE(propstore_stress::IsTinyValue(propstore_stress::MakeTinyValue(19)));
  EXPECT_FALSE(propstore_stress::IsTinyValue(propstore_stress::MakeTinyValue(5) + "x"));
}

// Verification of hand-made stores against a hand-made run state.
class StressVerifierTest : public PropertyStressTest {
 protected:
  StressVerifierTest() : keys_(2), state_(new SharedState()) {
    // Writer 0 completed own-key update 5 and one append; writer 1 wrote
    // only shared keys.
    state_->slots[0].next_seq = 9;
    state_->slots[0].own_done = 5;
    state_->slots[0].own_started = 5;
    state_->slots[0].appends_done = 1;
    state_->slots[0].appends_started = 1;
    state_->slots[1].next_seq = 4;
    state_->key_stored[keys_.own_key(0)] = 1;
    state_->key_stored[0] = 1;
  }

  std::string Value(uint32_t writer, int key, uint64_t seq, uint32_t length = 40) {
    return propstore_stress::MakeCheckedValue({writer, static_cast<uint32_t>(key), seq, length});
  }

  // A store as the run above should have left it.
  StoreModel GoodStore() {
    StoreModel model;
    model.Update(keys_.stored_name(0), Value(1, 0, 3));
    model.Update(keys_.stored_name(keys_.own_key(0)), Value(0, keys_.own_key(0), 5));
    model.Update(keys_.long_form(keys_.append_key(0), 1), Value(0, keys_.append_key(0), 2));
    return model;
  }

  // The problems found in `model`'s bytes, joined; "" for none.
  std::string Verify(const StoreModel& model, bool killed = false) {
    SetBytes(model.bytes());
    const propstore_stress::VerifyResult result =
        propstore_stress::VerifyStore(store_, keys_, *state_, 2, killed);
    std::string joined;
    for (const std::string& problem : result.problems) joined += problem + "\n";
    return joined;
  }

  KeySet keys_;
  std::unique_ptr<SharedState> state_;
};

TEST_F(StressVerifierTest, FlagsEveryKindOfDamage) {
  EXPECT_EQ("", Verify(GoodStore()));

  StoreModel torn = GoodStore();
  torn.Update(keys_.stored_name(0), Value(1, 0, 3).substr(0, 25) + Value(0, 0, 4).substr(25));
  EXPECT_NE(std::string::npos, Verify(torn).find("torn")) << Verify(torn);

  StoreModel foreign = GoodStore();
  foreign.Update(keys_.stored_name(0), Value(1, 1, 3));
  EXPECT_NE(std::string::npos, Verify(foreign).find("foreign"));

  StoreModel stale = GoodStore();
  stale.Update(keys_.stored_name(keys_.own_key(0)), Value(0, keys_.own_key(0), 4));
  EXPECT_NE(std::string::npos, Verify(stale).find("stale"));

  StoreModel duplicate = GoodStore();
  duplicate.AppendRaw(GoodStore().bytes().substr(0, PROPERTY_RECORD_SIZE));
  EXPECT_NE(std::string::npos, Verify(duplicate).find("second record"));

  StoreModel lost;
  lost.Update(keys_.stored_name(keys_.own_key(0)), Value(0, keys_.own_key(0), 5));
  EXPECT_NE(std::string::npos, Verify(lost).find("lost"));

  StoreModel emptied = GoodStore();
  emptied.Update(keys_.stored_name(keys_.own_key(0)), "");
  EXPECT_NE(std::string::npos, Verify(emptied).find("empty value"));

  StoreModel unterminated = GoodStore();
  unterminated.AppendRaw(std::string(PROPERTY_RECORD_SIZE, 'x'));
  EXPECT_NE(std::string::npos, Verify(unterminated).find("without its NUL"));

  StoreModel extra_append = GoodStore();
  extra_append.Update(keys_.long_form(keys_.append_key(0), 0), Value(0, keys_.append_key(0), 6));
  EXPECT_NE(std::string::npos, Verify(extra_append).find("append records"));

  StoreModel tail = GoodStore();
  tail.AppendRaw("partial");
  EXPECT_NE(std::string::npos, Verify(tail).find("no writer was killed"));
  EXPECT_EQ("", Verify(tail, /*killed=*/true));
}

}  // namespace
}  // namespace isputils_test
