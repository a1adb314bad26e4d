// The error report: the one way in which this library emits error lines and
// debug lines. A line is offered to two sinks switched by the unified
// logger's settings: the platform log (bit 0 of sMode) and the unified
// logger's emitDetails (bit 1 or bit 3 of sMode).
//
// Use the macros, never the functions directly: they capture the reporting
// function's name, line and file, and build the platform log's decorated
// format as one literal per message at compile time.
//
//   ISP_REPORT_ERROR("revuvi-Buffer", "[%s] error: wrong info, va=%lx", va);
//   ISP_REPORT_DEBUG("revuvi-TuningBuffer", "[%s] same count? --> %d", same);
//
// The first "%s" of every message format takes the function name.
//
// Thread-safety: reports may run on any thread at once; each uses its own
// stack buffer and reads the settings with plain loads.
#ifndef AAA_ISPHAL_SRC_UTILS_ERRORREPORT_H_
#define AAA_ISPHAL_SRC_UTILS_ERRORREPORT_H_

#include <stdint.h>

#include "platlog/platform_log.h"
#include "ulog/ULogger.h"

namespace qvx {
namespace isphal {

// Unified-logger module identifier of every line of this library.
inline constexpr int32_t kIspHalModuleId = 0x40007009;

namespace report {

// Details types handed to emitDetails.
inline constexpr int32_t kDetailsError = 1;
inline constexpr int32_t kDetailsDebug = 5;

// Mode bits of ULogger::sMode.
inline constexpr int32_t kModePlatformLog = 0x1;
inline constexpr int32_t kModeUnifiedLogger = 0xA;

// Reads sMode with a load of its own each time it is asked, so that a change
// between the two reads of one report counts.
inline int32_t CurrentMode() {
  return *static_cast<const volatile int32_t*>(&::Pelkor::Utils::ULog::ULogger::sMode);
}

// True when debug lines are wanted: sDetailsLevel at least 5 (unsigned), and
// sNormalDetailsMask with bit 30 and one of bits 12 to 14 set.
bool DebugLinesEnabled();

// Second half of a report: when sMode (read afresh) selects the unified
// logger, formats the undecorated message into a 1024-byte stack buffer and
// hands it to sULogger->emitDetails with kIspHalModuleId, `tag` and
// `detailsType`. The length passed is that of the text kept (at most 1023).
void EmitDetails(const char* tag, int32_t detailsType, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace report
}  // namespace isphal
}  // namespace qvx

// Reports an error line: priority 'E' to the platform log with the message
// decorated by " (function){#line:file}", details type 1 to the unified
// logger undecorated.
#define ISP_REPORT_ERROR(tag, format, ...)                                        \
  do {                                                                            \
    if (::qvx::isphal::report::CurrentMode() &                                    \
        ::qvx::isphal::report::kModePlatformLog) {                                \
      platform_log_print('E', (tag), format " (%s){#%d:%s}", __func__,            \
                         ##__VA_ARGS__, __func__, __LINE__, __FILE__);            \
    }                                                                             \
    ::qvx::isphal::report::EmitDetails((tag), ::qvx::isphal::report::kDetailsError, \
                                       format, __func__, ##__VA_ARGS__);          \
  } while (0)

// Reports a debug line, gated by the unified logger's detail settings:
// priority 'D' to the platform log undecorated, details type 5.
#define ISP_REPORT_DEBUG(tag, format, ...)                                        \
  do {                                                                            \
    if (::qvx::isphal::report::DebugLinesEnabled()) {                             \
      if (::qvx::isphal::report::CurrentMode() &                                  \
          ::qvx::isphal::report::kModePlatformLog) {                              \
        platform_log_print('D', (tag), format, __func__, ##__VA_ARGS__);          \
      }                                                                           \
      ::qvx::isphal::report::EmitDetails(                                         \
          (tag), ::qvx::isphal::report::kDetailsDebug, format, __func__,          \
          ##__VA_ARGS__);                                                         \
    }                                                                             \
  } while (0)

#endif  // AAA_ISPHAL_SRC_UTILS_ERRORREPORT_H_
