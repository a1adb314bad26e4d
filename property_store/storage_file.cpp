// Opening, tuning and locking of the property storage file.
//
// The file is opened with open(2) rather than fopen so that the flags the
// store depends on can be given: O_CLOEXEC (a child never inherits a locked
// descriptor), O_NOFOLLOW (a link planted at the path cannot redirect the
// writes of every camera process), O_NONBLOCK on the open alone (a FIFO at
// the path cannot hang a lookup) and O_CREAT without O_TRUNC (a file that
// another process created an instant earlier is never emptied).
#include "property_store/storage_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace propstore {
namespace {

constexpr int kCommonOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// Wraps a freshly opened descriptor into a stream, once it is known to be a
// regular file. Closes the descriptor on failure.
FILE* StreamForDescriptor(int fd, const char* mode) {
  struct stat64 info;
  if (fstat64(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  // O_NONBLOCK stays set: it mattered only while opening, and has no effect
  // on the reads and writes of a regular file.
  FILE* stream = fdopen(fd, mode);
  if (stream == nullptr) close(fd);
  return stream;
}

}  // namespace

FILE* OpenForLookup() {
  int fd = open(kStoragePath, O_RDONLY | kCommonOpenFlags);
  if (fd < 0) return nullptr;
  return StreamForDescriptor(fd, "rb");
}

FILE* OpenForUpdate() {
  int fd = open(kStoragePath, O_RDWR | O_CREAT | kCommonOpenFlags, 0666);
  if (fd < 0) return nullptr;
  return StreamForDescriptor(fd, "rb+");
}

void TuneStream(FILE* stream, char* buffer) {
  setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
  __fsetlocking(stream, FSETLOCKING_BYCALLER);
}

bool LockWholeFile(FILE* stream, int operation) {
  const int fd = fileno(stream);
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool KeyMatches(const Record& record, const char* key, size_t key_length) {
  // Comparing the key's NUL too settles the stored length in the same pass.
  if (key_length < sizeof(record.key)) {
    return memcmp(record.key, key, key_length + 1) == 0;
  }
  // Only a field without a NUL can hold a key of the field's full width.
  return key_length == sizeof(record.key) &&
         memcmp(record.key, key, sizeof(record.key)) == 0;
}

void StoreField(char* field, size_t width, const char* text) {
  const size_t length = strnlen(text, width - 1);
  memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace propstore
