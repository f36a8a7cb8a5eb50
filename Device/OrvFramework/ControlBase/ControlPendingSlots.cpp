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

// --- Value model

double LControl::SetValue(double position)
{
    // The normalised value only; the range mapping and "NID_VALUE_CHANGE" come with the value
    // model.
    const double bounded = std::isnan(position) ? 0.0 : std::clamp(position, 0.0, 1.0);
    if (bounded != valuePosition) {
        valuePosition = bounded;
        OnValueChanged();
    }
    return valuePosition;
}

ORVRESULT LControl::SetValueRange(double, double, int32_t)
{
    return E_NOTIMPL;
}

uint32_t LControl::ComputeConditions()
{
    return 0;
}

void LControl::UpdateConditions() {}

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

ORVRESULT LControl::Close()
{
    return E_NOTIMPL;
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

ORVRESULT LControl::CloseChildLater(const RCPtr<LControl>& child)
{
    if (!child || child->parent.Get() != this) {
        return E_INVALIDARG;
    }
    return E_NOTIMPL;
}

void LControl::CloseOwnedControls() {}

// --- Skin application beyond the first

ORVRESULT LControl::ShowToolTip(bool)
{
    return S_OK;
}

}  // namespace Orv
