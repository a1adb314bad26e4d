// What camprop writes to its streams: complaints on standard error (a
// status in words comes from status_text.h, whose ReadFailure this brings),
// standard output that tells the truth (a command whose output could not be
// written, to a full disk, a closed descriptor or a pipe whose reader left,
// must not exit 0 as if the operator had seen it), and text shown so that no
// stored byte can steer a terminal.
//
// Thread-safety: process-wide state of the C library's streams; call from
// the main thread only.
#ifndef TOOLS_CAMPROP_OUTPUT_H_
#define TOOLS_CAMPROP_OUTPUT_H_

#include <stdio.h>

#include <string>

#include "property_store/internal/record.h"
#include "property_store/internal/status_text.h"

namespace camprop {

// The "camprop: " prefix and a message on standard error, after whatever
// went to standard output so far; at warning priority when standard error
// is the journal (WarningPrefix).
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// As Complain, for what is only news (the journal's default priority).
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "<4>", the journal's mark of a warning, when standard error is the
// journal's stream (systemd names it in JOURNAL_STREAM); "" elsewhere.
const char* WarningPrefix();

// Puts /dev/null, opened read-only, on each of descriptors 0, 1 and 2 that
// is closed. A file the tool opens later then never lands on descriptor 1
// or 2, where printing would write into it; and writing to a standard
// stream that was closed still fails (EBADF), as it must. Call first thing.
void ProtectStandardStreams();

// True once writing to stdout has failed; remembers the first error for
// FinishStandardOutput. Long outputs call it as they go so that they stop
// early instead of formatting everything into a stream that is gone.
bool OutputFailed();

// Flushes and closes stdout. Returns `status` when everything written
// reached its destination; otherwise says so on standard error and returns
// 1 (or `status` when that already reports a failure).
int FinishStandardOutput(int status);

// The key text of `record`: up to its NUL, or all 64 bytes without one.
inline std::string KeyText(const propstore::Record& record) {
  return std::string(record.key, propstore::FieldLength(record.key, sizeof(record.key)));
}

// The value text exactly as a lookup hands it out.
inline std::string ValueText(const propstore::Record& record) {
  return std::string(record.value, propstore::ValueLength(record));
}

// Writes `text` to `out` with backslashes doubled and control bytes as \xNN,
// so a listing stays one line per record whatever the store holds and no
// stored value can steer the terminal: the C0 controls and DEL, the C1
// controls 0x80-0x9f standing alone, and their UTF-8 forms C2 80 to C2 9F
// (each byte escaped). Any other well-formed UTF-8 character passes whole,
// as do bytes 0xa0-0xff outside one.
void PrintEscaped(FILE* out, const std::string& text);

}  // namespace camprop

#endif  // TOOLS_CAMPROP_OUTPUT_H_
