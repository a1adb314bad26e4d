// The property accessor stand-in: a thin forward to the property store.
#include "debugwrapper/Properties.h"

#include "propstore/properties.h"

namespace Pelkor {
namespace Utils {
namespace Properties {

int property_get(const char* key, char* value, const char* fallback) {
  const int length = ::property_get(key, value, fallback);
  // The store answers -1 for a key it refuses and leaves `value` untouched;
  // callers treat any non-zero result as "value holds the text", so a
  // refusal must read as "no value" rather than as an empty value.
  return length > 0 ? length : 0;
}

}  // namespace Properties
}  // namespace Utils
}  // namespace Pelkor
