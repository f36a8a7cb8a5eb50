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

ORVRESULT LControl::Close()
{
    return E_NOTIMPL;
}

ORVRESULT LControl::RequestFocusOnClick(const RCPtr<LControl>&)
{
    return E_NOTIMPL;
}

ORVRESULT LControl::OnClick(const RCPtr<LMouseButtonParam>&)
{
    return E_NOTIMPL;
}

ORVRESULT LControl::OnLeftClick(const RCPtr<LMouseButtonParam>&)
{
    return E_NOTIMPL;
}

ORVRESULT LControl::OnMiddleClick(const RCPtr<LMouseButtonParam>&)
{
    return E_NOTIMPL;
}

ORVRESULT LControl::OnRightClick(const RCPtr<LMouseButtonParam>&)
{
    return E_NOTIMPL;
}

ORVRESULT LControl::OnMouseEnter()
{
    return S_OK;
}

ORVRESULT LControl::OnMouseMove(const RCPtr<LPointWithModifiersParam>&)
{
    return S_OK;
}

ORVRESULT LControl::OnMouseDown(const RCPtr<LMouseButtonParam>&)
{
    return 1;
}

ORVRESULT LControl::OnMouseUp(const RCPtr<LMouseButtonParam>&)
{
    return 1;
}

ORVRESULT LControl::OnMouseLeave()
{
    return S_OK;
}

ORVRESULT LControl::BeginCapture(int32_t, int32_t, int32_t)
{
    return 1;
}

ORVRESULT LControl::OnCaptureLost()
{
    return 1;
}

ORVRESULT LControl::OnMouseWheel(const RCPtr<LMouseWheelParam>&)
{
    return 1;
}

ORVRESULT LControl::OnMouseHWheel(const RCPtr<LMouseWheelParam>& wheel)
{
    return OnMouseWheel(wheel);
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
