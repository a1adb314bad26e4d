// Stand-in for the camera stack's unified logger (libqvxcam_ulog). It mirrors
// the part of the real component that the ISP utilities rely on: four
// process-wide settings read as plain data, and the virtual emitDetails,
// fourth in the virtual table. Replace it with the real library on a device.
//
// Defaults (constant-initialised, no start-up code):
//   sMode = 1               error lines go to the platform log only
//   sULogger = the library's default logger, which writes each line to
//              standard error as "ULOG <module> <tag> <type>: <text>"
//   sDetailsLevel = 0       debug lines off
//   sNormalDetailsMask = 0  debug lines off
//
// Thread-safety: the statics are plain data, read without locks; set them
// before other threads log. The default logger writes each line with one
// write(2) and is safe from any thread.
#ifndef PLATFORM_QVXCAM_ULOG_INCLUDE_ULOG_ULOGGER_H_
#define PLATFORM_QVXCAM_ULOG_INCLUDE_ULOG_ULOGGER_H_

#include <stdint.h>

#if defined(QVXCAM_ULOG_BUILDING)
#define QVXCAM_ULOG_EXPORT __attribute__((visibility("default")))
#else
#define QVXCAM_ULOG_EXPORT
#endif

namespace Pelkor {
namespace Utils {
namespace ULog {

// A unified-logger sink. Subclass it and point sULogger at the object to
// capture lines; the object must outlive every report that can reach it.
class QVXCAM_ULOG_EXPORT ULogger {
 public:
  // Bit mask of the sinks that reports use: bit 0 the platform log, bits 1
  // and 3 the unified logger.
  static int32_t sMode;
  // The logger that receives emitDetails; never null while bits 1 or 3 of
  // sMode are set.
  static ULogger* sULogger;
  // Detail level; debug lines need at least 5.
  static uint32_t sDetailsLevel;
  // Detail categories; debug lines need bit 30 and one of bits 12 to 14.
  static int32_t sNormalDetailsMask;

  constexpr ULogger() = default;
  ULogger(const ULogger&) = delete;
  ULogger& operator=(const ULogger&) = delete;

  // Writes out anything the logger buffers. The default buffers nothing.
  virtual void flush();
  // Emits an ordinary (non-details) line. The default writes it to stderr.
  virtual void emitNormal(int32_t moduleId, const char* tag, const char* text);
  // True when lines of `detailsType` are wanted; the default says yes.
  virtual bool isDetailsEnabled(int32_t detailsType) const;
  // Emits one details line: `text` is NUL-terminated and `length` bytes long
  // (at most). Callers ignore the outcome.
  virtual void emitDetails(int32_t moduleId, const char* tag, int32_t detailsType,
                           const char* text, int32_t length);
  virtual ~ULogger();
};

}  // namespace ULog
}  // namespace Utils
}  // namespace Pelkor

#endif  // PLATFORM_QVXCAM_ULOG_INCLUDE_ULOG_ULOGGER_H_
