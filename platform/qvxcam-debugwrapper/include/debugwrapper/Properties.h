// Stand-in for the camera stack's property accessor (libqvxcam.debugwrapper).
// It mirrors the one entry point the ISP utilities rely on and forwards it to
// the property store; replace it with the real library on a device.
//
// The accessor is bound by the dynamic linker, so a program that defines
// Pelkor::Utils::Properties::property_get itself (with default visibility)
// interposes it for every library of the process; tests use that to record
// the calls.
//
// Thread-safety: safe from any thread; every call is one store lookup under
// the store's own file lock.
#ifndef PLATFORM_QVXCAM_DEBUGWRAPPER_INCLUDE_DEBUGWRAPPER_PROPERTIES_H_
#define PLATFORM_QVXCAM_DEBUGWRAPPER_INCLUDE_DEBUGWRAPPER_PROPERTIES_H_

#if defined(QVXCAM_DEBUGWRAPPER_BUILDING)
#define QVXCAM_DEBUGWRAPPER_EXPORT __attribute__((visibility("default")))
#else
#define QVXCAM_DEBUGWRAPPER_EXPORT
#endif

namespace Pelkor {
namespace Utils {
namespace Properties {

// Reads the system property `key` into `value` as a NUL-terminated text.
// Returns non-zero when `value` holds the property's value (or, when the
// property is not stored, a non-empty `fallback`); returns 0 when there is
// no value: not stored with a NULL or empty fallback, stored empty, or a key
// the store refuses (64 bytes or more). After a 0 result `value` holds no
// meaningful text and must not be read.
// REQUIRES: key is NUL-terminated and not NULL; value has room for at least
// 92 bytes (PROPERTY_VALUE_SIZE). fallback may be NULL.
// Thread-safe.
QVXCAM_DEBUGWRAPPER_EXPORT int property_get(const char* key, char* value,
                                            const char* fallback);

}  // namespace Properties
}  // namespace Utils
}  // namespace Pelkor

#endif  // PLATFORM_QVXCAM_DEBUGWRAPPER_INCLUDE_DEBUGWRAPPER_PROPERTIES_H_
