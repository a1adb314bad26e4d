// The fixture of tests of the store engine: each test gets a store of its
// own on a temporary directory, opened with hooks on its C-library calls
// (hooked_calls.h), and the directory goes when the test ends. No test of
// the engine needs the system's fixed path, a namespace or a stand-in.
//
// Thread-safety: make and destroy on the test's main thread; the store may
// be used from any thread.
#ifndef TESTS_SUPPORT_STORE_DIR_TEST_H_
#define TESTS_SUPPORT_STORE_DIR_TEST_H_

#include <string>

#include "gtest/gtest.h"
#include "property_store/internal/store.h"
#include "tests/support/hooked_calls.h"
#include "tests/support/temp_dir.h"

namespace isputils_test {

class StoreDirTest : public testing::Test {
 protected:
  StoreDirTest() : store_(dir_.path().c_str(), Options()) {}

  // The store's options: hooked calls, and diagnosis of a missing store.
  propstore::Options Options() const {
    propstore::Options options;
    options.calls = &calls_.table();
    options.diagnose = true;
    return options;
  }

  // The storage file's bytes; "<none>" when there is none.
  std::string Bytes() const { return ReadFile(store_.path()); }
  // Makes the storage file hold exactly `bytes`.
  void SetBytes(const std::string& bytes) { ASSERT_TRUE(WriteFile(store_.path(), bytes)); }
  // The value a lookup finds for `key`; "<none>" when it finds none.
  std::string Lookup(const std::string& key) const {
    char value[PROPERTY_VALUE_SIZE];
    return store_.Get(key.c_str(), value).ok() ? value : "<none>";
  }

  TempDir dir_;
  HookedCalls calls_;
  propstore::Store store_;
};

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_STORE_DIR_TEST_H_
