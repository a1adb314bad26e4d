// Default unified logger of the stand-in: each details line to standard
// error in one write, so lines of different threads never interleave.
#include "ulog/ULogger.h"

#include <stdio.h>
#include <unistd.h>

namespace Pelkor {
namespace Utils {
namespace ULog {
namespace {

void WriteLine(int32_t moduleId, const char* tag, int32_t type, const char* text,
               int32_t length) {
  char line[1200];
  int n = snprintf(line, sizeof(line), "ULOG %#x %s %d: %.*s\n",
                   static_cast<unsigned>(moduleId), tag, type,
                   length < 0 ? 0 : static_cast<int>(length), text);
  if (n < 0) return;
  size_t size = static_cast<size_t>(n) < sizeof(line) ? static_cast<size_t>(n)
                                                       : sizeof(line) - 1;
  if (write(2, line, size) < 0) {
    // Logging never fails its caller.
  }
}

ULogger gDefaultLogger;

}  // namespace

int32_t ULogger::sMode = 1;
ULogger* ULogger::sULogger = &gDefaultLogger;
uint32_t ULogger::sDetailsLevel = 0;
int32_t ULogger::sNormalDetailsMask = 0;

void ULogger::flush() {}

void ULogger::emitNormal(int32_t moduleId, const char* tag, const char* text) {
  WriteLine(moduleId, tag, 0, text, 1 << 20);
}

bool ULogger::isDetailsEnabled(int32_t) const { return true; }

void ULogger::emitDetails(int32_t moduleId, const char* tag, int32_t detailsType,
                          const char* text, int32_t length) {
  WriteLine(moduleId, tag, detailsType, text, length);
}

ULogger::~ULogger() = default;

}  // namespace ULog
}  // namespace Utils
}  // namespace Pelkor
