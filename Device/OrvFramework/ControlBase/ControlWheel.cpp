// The wheel: offered to the control under the pointer, then outwards until one takes it. Inside
// an overlay (a pop-up drawn above the tree) "outwards" is whatever lies beneath it at the
// pointer, found by a hit test that skips the controls already offered the wheel.

#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"

namespace Orv {

namespace {

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

bool Contains(const RCPtrArray<LControl>& list, const LControl* control)
{
    for (uint32_t index = 0; index < list.GetCount(); ++index) {
        if (list.GetData()[index].Get() == control) {
            return true;
        }
    }
    return false;
}

// Marks the controls as excluded from hit testing while it lives, and puts back what each was
// before on every way out.
class HitTestExclusion
{
public:
    explicit HitTestExclusion(const RCPtrArray<LControl>& controls) : controls(controls)
    {
        for (uint32_t index = 0; index < controls.GetCount(); ++index) {
            LControl& control = *controls.GetData()[index];
            saved.InsertItem(saved.GetCount(), control.IsExcludedFromHitTest() ? 1 : 0);
            control.SetExcludedFromHitTest(true);
        }
    }
    ~HitTestExclusion()
    {
        for (uint32_t index = 0; index < saved.GetCount(); ++index) {
            controls.GetData()[index]->SetExcludedFromHitTest(saved.GetAt(index) != 0);
        }
    }
    HitTestExclusion(const HitTestExclusion&) = delete;
    HitTestExclusion& operator=(const HitTestExclusion&) = delete;

private:
    const RCPtrArray<LControl>& controls;
    Array<uint8_t> saved;
};

}  // namespace

ORVRESULT LControl::OnMouseWheel(const RCPtr<LMouseWheelParam>& wheel)
{
    if (!wheel) {
        return -1;
    }
    const bool vertical = wheel->wheelCode == 0 || wheel->wheelCode == 1;
    const PointD windowPoint{static_cast<double>(wheel->x), static_cast<double>(wheel->y)};
    // Every control offered the wheel, held: a handler may close one.
    RCPtrArray<LControl> offered;
    RCPtr<LControl> current(this);
    while (current && !Contains(offered, current.Get())) {
        offered.InsertItem(offered.GetCount(), current);
        const ORVRESULT answer = vertical ? current->OnWheel(wheel) : current->OnHWheel(wheel);
        if (answer != 1) {
            return answer;
        }
        const RCPtr<LControl> owner = current->parent;
        if (ClipsToParent(*current) && (!owner || ClipsToParent(*owner))) {
            current = owner;
            continue;
        }
        // Every control offered so far is skipped, not only those the walk left by a hit test:
        // a control inside an overlay would otherwise be found again beneath it.
        const HitTestExclusion exclusion(offered);
        current = current->HitTestWindow(windowPoint);
    }
    return 1;
}

ORVRESULT LControl::OnMouseHWheel(const RCPtr<LMouseWheelParam>& wheel)
{
    return LControl::OnMouseWheel(wheel);
}

}  // namespace Orv
