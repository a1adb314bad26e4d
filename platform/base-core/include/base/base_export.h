// Export macro of libbase-core; everything else in the library is hidden.
#ifndef PLATFORM_BASE_CORE_INCLUDE_BASE_BASE_EXPORT_H_
#define PLATFORM_BASE_CORE_INCLUDE_BASE_BASE_EXPORT_H_

#if defined(BASE_IMPLEMENTATION)
#define BASE_EXPORT __attribute__((visibility("default")))
#else
#define BASE_EXPORT
#endif

#endif  // PLATFORM_BASE_CORE_INCLUDE_BASE_BASE_EXPORT_H_
