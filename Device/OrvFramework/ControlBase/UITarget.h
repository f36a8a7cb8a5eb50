#pragma once
// UITarget: what a root window delivers input to. Every control implements it; the root window
// holds the hovered, capturing and focused controls and calls these on them. Pointer coordinates
// in the payloads are the receiving control's local coordinates.
//
// The operations keep their order: derived controls override them by slot.

#include <cstdint>

#include "ObjectBase/OrvResult.h"
#include "ObjectBase/RCPtr.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

class LPointWithModifiersParam;
class LMouseButtonParam;
class LMouseWheelParam;
class LKeyParam;

class UITarget
{
public:
    // The control became the hover control.
    virtual ORVRESULT OnMouseEnter() = 0;
    // The pointer moved over the control, or anywhere while it captures.
    virtual ORVRESULT OnMouseMove(const RCPtr<LPointWithModifiersParam>& point) = 0;
    // A button was pressed (a double-click press too).
    virtual ORVRESULT OnMouseDown(const RCPtr<LMouseButtonParam>& button) = 0;
    // A button was released while the control captures.
    virtual ORVRESULT OnMouseUp(const RCPtr<LMouseButtonParam>& button) = 0;
    // The control stopped being the hover control.
    virtual ORVRESULT OnMouseLeave() = 0;
    // The control starts a press and takes the capture: 0 when it did, 1 otherwise.
    virtual ORVRESULT BeginCapture(int32_t button, int32_t x, int32_t y) = 0;
    // The capture ended against the control's will.
    virtual ORVRESULT OnCaptureLost() = 0;
    // A key event for the focus control.
    virtual void OnKey(const RCPtr<LKeyParam>& key) = 0;
    // Vertical, then horizontal wheel: 1 when not handled.
    virtual ORVRESULT OnMouseWheel(const RCPtr<LMouseWheelParam>& wheel) = 0;
    virtual ORVRESULT OnMouseHWheel(const RCPtr<LMouseWheelParam>& wheel) = 0;
    // The window's client size changed.
    virtual ORVRESULT OnRelayout(const PointL& size) = 0;
    // Whether the focus may leave.
    virtual ORVRESULT CanReleaseFocus() = 0;
    // Drop the focus.
    virtual ORVRESULT ReleaseFocus() = 0;

protected:
    ~UITarget() = default;
};

}  // namespace Orv
