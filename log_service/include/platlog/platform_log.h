// The platform log: a printf-style logging entry with a per-process priority
// filter, routed to the platform logging facility, and a local assertion
// reporter.
//
// Conventions: a priority letter is one of the ASCII capitals 'V', 'D', 'I',
// 'W', 'E' passed as an int; any other value is never logged. The log level
// is read once per process from the property "persist.qvx.camera.log_level"
// (default 1) and never refreshed. Messages are cut at 1023 characters
// without notice; logging never reports a failure.
//
// Thread-safety: every function may be called from any thread; the only
// shared state is the cached log level, a single atomic integer.
#ifndef LOG_SERVICE_INCLUDE_PLATLOG_PLATFORM_LOG_H_
#define LOG_SERVICE_INCLUDE_PLATLOG_PLATFORM_LOG_H_

#include "platlog/export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Returns the process's log level, reading the level property on the first
// call (a stored -1 or no value gives 1).
PLATLOG_EXPORT int determine_platform_log_level(void);

// Returns 1 when a message of `priority` passes at `level`, else 0. A pure
// function: it neither reads nor fills the cached level.
PLATLOG_EXPORT int test_log_level(int priority, int level);

// Logs "<letter> [<tag>] <message>" through the platform logging facility
// when the priority passes the process's level and the facility wants it.
// Always returns 0. `tag` and `format` are read only when the message passes
// the filter; they are not kept after the call. A NULL tag is logged as the
// empty tag and a NULL format drops the message. The source location handed
// to the facility is this library's own, so the per-file verbose switch
// that enables 'I', 'V' and 'D' names "platform_log" ('I' needs verbose
// level 1, 'V' level 2 and 'D' level 3).
PLATLOG_EXPORT int platform_log_print(int priority, const char* tag,
                                      const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus
}  // extern "C"

// Writes the failed assertion to standard error and aborts: the formatted
// message when `format` is given, else "Assertion failed: <condition>", else
// "Unspecified assertion failed". `unused` is accepted and never read.
PLATLOG_EXPORT void __local_log_assert(const char* condition, const char* unused,
                                       const char* format, ...)
    __attribute__((noreturn, format(printf, 3, 4)));
#endif

#endif  // LOG_SERVICE_INCLUDE_PLATLOG_PLATFORM_LOG_H_
