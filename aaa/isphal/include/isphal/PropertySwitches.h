// Debug property switches: integer debug settings read from system
// properties through the camera stack's property accessor. A process-wide
// switch, refreshed by CHECK_PROP_EN from "vendor.debug.aaa.perframe_prop.enable",
// decides whether GET_PROP reads per-frame properties at all; FORCE_GET_PROP
// reads whatever the switch says. Values are converted with atoi. Nothing is
// printed or reported.
//
// Thread-safety: all three may be called from any thread without a lock. The
// switch is one relaxed atomic boolean: a GET_PROP that races a CHECK_PROP_EN
// acts on either the old or the new setting.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_PROPERTYSWITCHES_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_PROPERTYSWITCHES_H_

#include "isphal/export.h"

namespace qvx {
namespace isphal {

// Reads "vendor.debug.aaa.perframe_prop.enable" and turns the per-frame
// switch on for the value 1 and off for 0 (any text that atoi reads as 0,
// a word included). Any other value, or no value at all, leaves the switch
// as it was. The switch starts off in every process. Thread-safe.
ISPBUFFERS_EXPORT void CHECK_PROP_EN();

// While the per-frame switch is on, returns the value of the property `key`
// converted with atoi, or `fallback` when the property has no value. While
// it is off, returns `fallback` without reading anything. A NULL key gives
// `fallback`. Thread-safe.
ISPBUFFERS_EXPORT int GET_PROP(const char* key, int fallback);

// As GET_PROP, whatever the per-frame switch says. Thread-safe.
ISPBUFFERS_EXPORT int FORCE_GET_PROP(const char* key, int fallback);

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_PROPERTYSWITCHES_H_
