#pragma once
// The payload of every condition notification of a control: the condition bits before and after
// the change and the press point at the time. Each control owns one and sends that same object
// with every condition notification.

#include <cstdint>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/PooledPayload.h"

namespace Orv {

// Bits of a control's conditions (focus, hover, capture, buttons, enabled, visible ...).
using ControlConditions = uint32_t;

class LConditionsParam : public virtual LRefCountedObject, public PooledPayload<LConditionsParam, 4>
{
public:
    ControlConditions oldConditions = 0;
    ControlConditions newConditions = 0;
    PointD point;  // the press point, in the parent's content coordinates
};

}  // namespace Orv
