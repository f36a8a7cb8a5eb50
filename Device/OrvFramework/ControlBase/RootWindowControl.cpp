// What the root window asks of a control: where it lies in the window and who shows its tool tip.

#include "ControlBase/Control.h"

namespace Orv {

PointD LControl::GetPositionInRoot()
{
    return GetWindowOrigin();
}

RCPtr<LControl> LControl::GetToolTipProvider()
{
    RCPtr<LControl> at(this);
    while (at->GetToolTipText().IsEmpty() && at->useParentToolTip && at->parent) {
        at = at->parent;
    }
    return at;
}

}  // namespace Orv
