// Export macro of libplatlog; everything else in the library is hidden.
#ifndef LOG_SERVICE_INCLUDE_PLATLOG_EXPORT_H_
#define LOG_SERVICE_INCLUDE_PLATLOG_EXPORT_H_

#if defined(PLATLOG_BUILDING)
#define PLATLOG_EXPORT __attribute__((visibility("default")))
#else
#define PLATLOG_EXPORT
#endif

#endif  // LOG_SERVICE_INCLUDE_PLATLOG_EXPORT_H_
