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

inline constexpr ControlConditions kConditionHasFocus = 0x1;
inline constexpr ControlConditions kConditionContainsFocus = 0x2;  // a descendant has it
inline constexpr ControlConditions kConditionHover = 0x4;          // the pointer is over it
inline constexpr ControlConditions kConditionCapture = 0x8;
inline constexpr ControlConditions kConditionLeftPressed = 0x10;  // pressed, not yet dragged
inline constexpr ControlConditions kConditionMiddlePressed = 0x20;
inline constexpr ControlConditions kConditionRightPressed = 0x40;
inline constexpr ControlConditions kConditionLeftDrag = 0x80;
inline constexpr ControlConditions kConditionMiddleDrag = 0x100;
inline constexpr ControlConditions kConditionRightDrag = 0x200;
// Its own enabled flag and every ancestor's.
inline constexpr ControlConditions kConditionEnabled = 0x400;
// Visible up the tree.
inline constexpr ControlConditions kConditionVisible = 0x800;
// Hover, or hover forced without the pointer.
inline constexpr ControlConditions kConditionHoverOrForced = 0x1000;

class LConditionsParam : public virtual LRefCountedObject, public PooledPayload<LConditionsParam, 4>
{
public:
    ControlConditions oldConditions = 0;
    ControlConditions newConditions = 0;
    PointD point;  // the press point, in the parent's content coordinates
};

}  // namespace Orv
