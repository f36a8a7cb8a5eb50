// Slots whose behaviour comes with the control's drawing and layout, its root window, its input
// and its value model. Until then each answers harmlessly: nothing drawn, nothing hit, nothing
// focused, nothing laid out, no idle work; E_NOTIMPL where a caller could mistake a neutral
// answer for success.

#include <algorithm>
#include <cmath>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"

namespace Orv {

// --- Geometry and layout

// --- Root window: hit testing and idle processing

// --- Input, focus and closing

ORVRESULT LControl::SetFocus(bool)
{
    return E_NOTIMPL;
}

void LControl::SetNotFocusable(bool flag)
{
    notFocusable = flag;
}

bool LControl::CanTakeFocus()
{
    return false;
}

void LControl::SetEnabled(bool enabled)
{
    if (layout) {
        layout->isEnabled = enabled;
    }
}

RCPtr<LControl> LControl::FindNextFocusable(const RCPtr<LControl>&, bool)
{
    return RCPtr<LControl>();
}

ORVRESULT LControl::HandleHotKeys(const RCPtr<LKeyParam>&)
{
    return 1;
}

void LControl::RouteUnhandledKey(const RCPtr<LKeyParam>&) {}

void LControl::MoveFocus(const RCPtr<LKeyParam>&) {}

void LControl::FindHotKeyTarget(const KeyCode&, const RCPtrArray<LNotificationClient>&,
                                Array<int32_t>& order)
{
    order.SetCount(0);
}

void LControl::OnKey(const RCPtr<LKeyParam>&) {}

ORVRESULT LControl::ReleaseFocus()
{
    return S_OK;
}

// --- Skin application beyond the first

ORVRESULT LControl::ShowToolTip(bool)
{
    return S_OK;
}

}  // namespace Orv
