// What the root window asks of a control: where it lies in the window and who shows its tool tip.

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"

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

namespace {

bool IsInSubtree(const RCPtr<LControl>& held, const LControl* top)
{
    for (const LControl* at = held.Get(); at != nullptr; at = at->GetParent().Get()) {
        if (at == top) {
            return true;
        }
    }
    return false;
}

}  // namespace

void LRootWindow::ForgetSubtree(const RCPtr<LControl>& control)
{
    if (!control) {
        return;
    }
    const LControl* top = control.Get();
    for (RCPtr<LControl>* holder :
         {&hoverControl, &captureControl, &focusControl, &rememberedFocus, &toolTipOwner}) {
        if (IsInSubtree(*holder, top)) {
            *holder = nullptr;
        }
    }
}

}  // namespace Orv
