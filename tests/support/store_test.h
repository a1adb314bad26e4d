// The fixture of tests that use the property store: each test starts from
// an empty store in the private /run and leaves an empty one behind, so no
// test sees another's records, even when a test program is run by hand with
// all its tests in one process.
//
// Thread-safety: SetUp and TearDown run on the test's main thread, with no
// other thread using the store.
#ifndef TESTS_SUPPORT_STORE_TEST_H_
#define TESTS_SUPPORT_STORE_TEST_H_

#include "gtest/gtest.h"
#include "tests/support/private_run.h"

namespace isputils_test {

// Empties the store before and after each test. A suite's fixture is this
// one by another name (using PropertyRecordsTest = StoreTest;), or derives
// from it and calls StoreTest::SetUp and StoreTest::TearDown from its own.
class StoreTest : public testing::Test {
 protected:
  void SetUp() override { ResetStore(); }
  void TearDown() override { ResetStore(); }
};

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_STORE_TEST_H_
