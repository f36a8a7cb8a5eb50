#pragma once
// The payload of "NID_VALUE_CHANGE": a control's normalised position and the value it maps to in
// the control's range. Value changes come at the rate of a drag: payloads live in a pool.

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Storage/PooledPayload.h"

namespace Orv {

class LValueParam : public virtual LRefCountedObject, public PooledPayload<LValueParam, 4>
{
public:
    LValueParam(double position, double value) : position(position), value(value) {}

    double position;  // 0..1
    double value;     // in the control's range
};

}  // namespace Orv
