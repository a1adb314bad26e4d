// BaseObject's identifier. Kept out of line so that every library of the
// camera stack shares the one exported definition.
#include "isphal/BaseObject.h"

namespace qvx {
namespace isphal {

uintptr_t BaseObject::getId() const { return reinterpret_cast<uintptr_t>(this); }

}  // namespace isphal
}  // namespace qvx
