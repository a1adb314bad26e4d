// The fallback isolation of test programs that cannot have a private mount
// namespace: a private directory under /tmp (or /var/tmp) stands in for
// /run. Test programs link run_redirect.c, whose definitions of the C
// library's path functions take "/run/..." as that directory (see there),
// and hand it on to every program they start through LD_PRELOAD, so the
// property store, the tools the tests run and the tests themselves all find
// the store at the one fixed path, and the machine's /run is never reached.
// Only file systems cannot be had: tests that mount their own skip (see
// StoreMountsUnavailable in private_run.h).
//
// Thread-safety: EnterRedirectedRun must run before any thread is started.
#ifndef TESTS_SUPPORT_REDIRECTED_RUN_H_
#define TESTS_SUPPORT_REDIRECTED_RUN_H_

#include <string>

namespace isputils_test {

// Makes this process and the programs it starts see a private directory,
// holding an empty world-writable camera/, in place of /run. A process that
// inherited the stand-in of the test program that started it (a death
// test's fresh copy of the program) keeps that one; otherwise a new one is
// made under /tmp (or /var/tmp) and removed when this process exits.
// Returns the stand-in's path, or "" with the reason in *error when the
// redirect does not take effect for this process's C library calls; the
// caller must then fail, never go on with the real /run.
std::string EnterRedirectedRun(std::string* error);

// Keeps the store private for this process and the programs it starts: a
// private mount namespace (EnterPrivateRun) where one can be had, the
// stand-in above otherwise. Returns true with *redirected_to empty in a
// namespace, or the stand-in's path with *no_namespace telling why there was
// none; false with both reasons in *error when neither works, and the
// caller must then refuse to go on.
bool IsolateStore(std::string* redirected_to, std::string* no_namespace, std::string* error);

}  // namespace isputils_test

#endif  // TESTS_SUPPORT_REDIRECTED_RUN_H_
