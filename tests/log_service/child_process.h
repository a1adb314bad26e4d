// Test helper: runs a scenario in a forked child and hands its result back
// as a string. The platform log reads its level once per process, so every
// level scenario needs a process of its own; the child inherits the private
// /run of the test.
//
// Thread-safety: call from the test's main thread while no other thread
// runs.
#ifndef TESTS_LOG_SERVICE_CHILD_PROCESS_H_
#define TESTS_LOG_SERVICE_CHILD_PROCESS_H_

#include <functional>
#include <string>

namespace isputils_test {

// Empties the store, stores `level_property` as the log level property
// unless it is NULL, then runs `scenario` in a child process and returns
// what it returned. Returns "<child failed: ...>" when the child did not
// exit normally, so the comparison in the caller fails with a reason.
std::string RunWithLevelProperty(const char* level_property,
                                 const std::function<std::string()>& scenario);

}  // namespace isputils_test

#endif  // TESTS_LOG_SERVICE_CHILD_PROCESS_H_
