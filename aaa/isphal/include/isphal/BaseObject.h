// The common base of the ISP layer's identifiable objects. It carries no data;
// it gives every object an identifier, its own address, which log lines and
// lookup tables of the camera stack use to tell objects apart.
//
// Thread-safety: getId reads nothing and may be called from any thread.
#ifndef AAA_ISPHAL_INCLUDE_ISPHAL_BASEOBJECT_H_
#define AAA_ISPHAL_INCLUDE_ISPHAL_BASEOBJECT_H_

#include <stdint.h>

#include "isphal/export.h"

namespace qvx {
namespace isphal {

// Base of identifiable objects. Not polymorphic; derived classes bring their
// own virtual destructor, and the destructor here is protected so that no one
// deletes a derived object through a BaseObject pointer.
class BaseObject {
 public:
  // Returns the address of the object it is called on. A copy has an
  // identifier of its own. Thread-safe.
  ISPBUFFERS_EXPORT uintptr_t getId() const;

 protected:
  BaseObject() = default;
  BaseObject(const BaseObject&) = default;
  BaseObject& operator=(const BaseObject&) = default;
  ~BaseObject() = default;
};

}  // namespace isphal
}  // namespace qvx

#endif  // AAA_ISPHAL_INCLUDE_ISPHAL_BASEOBJECT_H_
