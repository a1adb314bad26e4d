// camprop's streams: complaints, checked standard output, escaped text.
#include "tools/camprop/output.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>


namespace camprop {

namespace {

// True when standard error is the journal's stream: systemd names it in
// JOURNAL_STREAM as "DEVICE:INODE" (sd-daemon(3)). A descriptor 2 that was
// redirected since is not, even with the variable inherited.
bool StandardErrorIsJournal() {
  static const bool journal = [] {
    const char* stream = getenv("JOURNAL_STREAM");
    struct stat info;
    if (stream == nullptr || fstat(2, &info) != 0) return false;
    unsigned long long device = 0, inode = 0;
    return sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           device == static_cast<unsigned long long>(info.st_dev) &&
           inode == static_cast<unsigned long long>(info.st_ino);
  }();
  return journal;
}

void Say(const char* prefix, const char* format, va_list arguments) {
  // Whatever went to standard output so far comes first.
  fflush(stdout);
  fputs(prefix, stderr);
  fputs("camprop: ", stderr);
  vfprintf(stderr, format, arguments);
  fputc('\n', stderr);
}

}  // namespace

const char* WarningPrefix() { return StandardErrorIsJournal() ? "<4>" : ""; }

void Complain(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Say(WarningPrefix(), format, arguments);
  va_end(arguments);
}

void Note(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Say("", format, arguments);
  va_end(arguments);
}

namespace {

int gOutputError = 0;  // errno of the first failed write to stdout

}  // namespace

void ProtectStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one, as the lower ones
    // are open by now.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
}

bool OutputFailed() {
  if (ferror(stdout) == 0) return false;
  // The write that failed has just set errno; later calls keep the first.
  if (gOutputError == 0) gOutputError = errno != 0 ? errno : EIO;
  return true;
}

int FinishStandardOutput(int status) {
  OutputFailed();
  errno = 0;
  if (fclose(stdout) != 0 && gOutputError == 0) gOutputError = errno != 0 ? errno : EIO;
  if (gOutputError == 0) return status;
  // Not Complain(): it flushes stdout, which is closed now.
  fprintf(stderr, "camprop: cannot write to standard output: %s\n", strerror(gOutputError));
  return status == 0 ? 1 : status;
}

namespace {

// The length of the well-formed UTF-8 character that starts `text` (2 to 4
// bytes), or 0 when none does: a lead byte of 0xc2 to 0xf4 followed by the
// continuation bytes it announces, neither overlong nor a surrogate nor
// beyond U+10FFFF.
size_t Utf8Length(const unsigned char* text, size_t left) {
  const unsigned char lead = text[0];
  size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // bounds of the second byte
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  }
  if (length == 0 || length > left || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (text[i] < 0x80 || text[i] > 0xbf) return 0;
  }
  return length;
}

void PutHex(FILE* out, unsigned char byte) { fprintf(out, "\\x%02x", byte); }

}  // namespace

void PrintEscaped(FILE* out, const std::string& text) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t at = 0; at < size;) {
    const unsigned char byte = bytes[at];
    if (byte == '\\') {
      fputs("\\\\", out);
      ++at;
    } else if (byte < 0x20 || byte == 0x7f) {
      PutHex(out, byte);
      ++at;
    } else if (byte < 0x80) {
      fputc(byte, out);
      ++at;
    } else if (const size_t length = Utf8Length(bytes + at, size - at)) {
      // U+0080 to U+009F, C2 80 to C2 9F, are the C1 controls (CSI among
      // them) on a UTF-8 terminal; every other character passes whole.
      if (byte == 0xc2 && bytes[at + 1] <= 0x9f) {
        PutHex(out, bytes[at]);
        PutHex(out, bytes[at + 1]);
      } else {
        fwrite(bytes + at, 1, length, out);
      }
      at += length;
    } else {
      // A byte outside any UTF-8 character: 0x80 to 0x9f are the C1
      // controls of an 8-bit terminal (0x9b is CSI); the rest is Latin-1
      // text.
      if (byte <= 0x9f) {
        PutHex(out, byte);
      } else {
        fputc(byte, out);
      }
      ++at;
    }
  }
}

}  // namespace camprop
