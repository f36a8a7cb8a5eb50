#pragma once
// The payload of "NID_SIBLING_KEY": a key offered to the local hot keys of a control's
// siblings. A control that consumes the key sets the result to 0.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "System/KeyCode.h"

namespace Orv {

class LControl;

class LSiblingKeyParam : public virtual LRefCountedObject
{
public:
    LSiblingKeyParam(const KeyCode& key, const RCPtr<LControl>& control)
        : key(key), control(control)
    {
    }

    KeyCode key;
    RCPtr<LControl> control;  // the control the key arrived at
    int32_t result = -1;
};

}  // namespace Orv
