// The whole camprop program but for main(): the command line parsed, the
// command run on the store of the places it names, and standard output
// checked. Reads and writes the one property storage file through the store
// engine, under the same locks as every camera process, so it is safe to
// run while the camera is streaming.
//
// Thread-safety: the whole program; call once, from main() or from a
// test's child process.
#ifndef TOOLS_CAMPROP_MAIN_H_
#define TOOLS_CAMPROP_MAIN_H_

#include "property_store/internal/syscalls.h"

namespace camprop {

// Runs camprop with `argv` (argc arguments, the program's name first),
// making the C-library calls of `calls` on the store and on every file it
// reads or writes (a test may replace them). Returns the process exit
// status; stdout is closed afterwards.
int Main(int argc, char** argv, const propstore::Syscalls& calls);

// The calls Main was given: what camprop's own files are read and written
// with.
const propstore::Syscalls& Calls();

// From now on SIGTERM, SIGINT and SIGHUP only ask the program to stop:
// StopRequested() turns true, and a wait they interrupt returns (without
// SA_RESTART) so that the command can end cleanly between two steps.
void StopOnSignals();

// True once one of those signals came after StopOnSignals().
bool StopRequested();

}  // namespace camprop

#endif  // TOOLS_CAMPROP_MAIN_H_
