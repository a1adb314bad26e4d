// Export macro of libispbuffers; everything else in the library is hidden.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_EXPORT_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_EXPORT_H_

#if defined(ISPBUFFERS_BUILDING)
#define ISPBUFFERS_EXPORT __attribute__((visibility("default")))
#else
#define ISPBUFFERS_EXPORT
#endif

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_EXPORT_H_
