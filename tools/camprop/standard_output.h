// Standard output that tells the truth: a command whose output could not be
// written (a full disk, a closed descriptor, a pipe whose reader left) must
// not exit 0 as if the operator had seen it.
//
// Thread-safety: process-wide state of the C library's stdout; call from
// the main thread only.
#ifndef TOOLS_CAMPROP_STANDARD_OUTPUT_H_
#define TOOLS_CAMPROP_STANDARD_OUTPUT_H_

namespace camprop {

// Puts /dev/null, opened read-only, on each of descriptors 0, 1 and 2 that
// is closed. A file the tool opens later then never lands on descriptor 1
// or 2, where printing would write into it; and writing to a standard
// stream that was closed still fails (EBADF), as it must. Call first thing
// in main().
void ProtectStandardStreams();

// True once writing to stdout has failed; remembers the first error for
// FinishStandardOutput. Long outputs call it as they go so that they stop
// early instead of formatting everything into a stream that is gone.
bool OutputFailed();

// Flushes and closes stdout. Returns `status` when everything written
// reached its destination; otherwise says so on standard error and returns
// kExitFailed (or `status` when that already reports a failure). Nothing
// may use stdout afterwards.
int FinishStandardOutput(int status);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_STANDARD_OUTPUT_H_
