// The error report's unified-logger half and its debug gate.
#include "aaa/isphal/src/utils/ErrorReport.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace qvx {
namespace isphal {
namespace report {
namespace {

using ::Pelkor::Utils::ULog::ULogger;

constexpr uint32_t kMinDetailsLevel = 5;
// Both masks are bits of kIspHalModuleId: its domain bit and its group bits.
constexpr int32_t kDetailsDomainBit = 0x40000000;
constexpr int32_t kDetailsGroupBits = 0x7000;
constexpr size_t kTextBufferSize = 1024;

}  // namespace

bool DebugLinesEnabled() {
  return ULogger::sDetailsLevel >= kMinDetailsLevel &&
         (ULogger::sNormalDetailsMask & kDetailsDomainBit) != 0 &&
         (ULogger::sNormalDetailsMask & kDetailsGroupBits) != 0;
}

void EmitDetails(const char* tag, int32_t detailsType, const char* format, ...) {
  if ((CurrentMode() & kModeUnifiedLogger) == 0) return;
  char text[kTextBufferSize];
  memset(text, 0, sizeof(text));
  va_list args;
  va_start(args, format);
  const int result = vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  if (result < 0) return;
  text[kTextBufferSize - 1] = '\0';
  // A cut message is handed on with the length of what was kept, so the
  // logger never reads past the buffer.
  const int32_t length = result < static_cast<int>(kTextBufferSize)
                             ? result
                             : static_cast<int32_t>(kTextBufferSize - 1);
  ULogger::sULogger->emitDetails(kIspHalModuleId, tag, detailsType, text, length);
}

}  // namespace report
}  // namespace isphal
}  // namespace qvx
