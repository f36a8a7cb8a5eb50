// Pointer and key input: from the host window's calls to the controls, with the window-wide
// hover, capture, focus and tool-tip state. Every control called is held across the call, since
// a handler may close it, replace the root control or end the window.

#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"

namespace Orv {

namespace {

int32_t Round(double value)
{
    return static_cast<int32_t>(RoundHalfAway(value));
}

}  // namespace

RCPtr<LControl> LRootWindow::HitTest(RCPtr<LControl>& found, const PointL& clientPoint,
                                     PointL& localPoint, bool updateHover)
{
    localPoint = PointL{0, 0};
    found = nullptr;
    const RCPtr<LControl> root = rootControl;
    if (!root) {
        return found;
    }
    const RectD& rect = root->GetRect();
    const PointL point{clientPoint.x - Round(rect.x), clientPoint.y - Round(rect.y)};
    int32_t layer = INT32_MIN;
    RCPtr<LControl> hit;
    root->HitTest(hit, point, true, localPoint, layer);
    found = hit;
    if (updateHover) {
        SetHoverControl(hit);
    }
    return found;
}


bool LRootWindow::HasActiveHost()
{
    return services && services->IsActive();
}

void LRootWindow::HideToolTip()
{
    if (const RCPtr<LControl> owner = toolTipOwner) {
        owner->ShowToolTip(false);
    }
}

PointL LRootWindow::LocalPointOf(const RCPtr<LControl>& control, const PointL& clientPoint)
{
    const PointD origin = control->GetPositionInRoot();
    return PointL{clientPoint.x - Round(origin.x), clientPoint.y - Round(origin.y)};
}

int32_t LRootWindow::GetButtonMask(int32_t pointerIndex) const
{
    return pointerIndex >= 0 && pointerIndex < 10 ? buttonMasks[pointerIndex] : 0;
}

void LRootWindow::HandleMouseButton(int32_t kind, int32_t button, int32_t modifiers,
                                    const PointL& point, int32_t pointerIndex)
{
    if (!HasActiveHost()) {
        return;
    }
    const RCPtr<LRootWindow> self(this);
    const PointL last = GetCursorPosition();
    if (last.x != point.x || last.y != point.y) {
        HandleMouseMove(point, modifiers, pointerIndex);
    }
    HideToolTip();
    // Only pointers 0 to 9 have a mask; any other index is still delivered.
    const bool masked = pointerIndex >= 0 && pointerIndex < 10;
    const int32_t flag = button == 1 || button == 2 || button == 4 ? button : 0;
    if (kind == 1) {
        if (masked) {
            buttonMasks[pointerIndex] &= ~button;
        }
        const RCPtr<LControl> target = captureControl;
        if (!target) {
            return;
        }
        const PointL local = LocalPointOf(target, point);
        const int32_t doubleClick = (doubleClickFlags & flag) != 0 ? 1 : 0;
        doubleClickFlags = static_cast<uint8_t>(doubleClickFlags & ~flag);
        target->OnMouseUp(RCPtr<LMouseButtonParam>(new LMouseButtonParam(
            button, local.x, local.y, modifiers, doubleClick, GetMouseButtons(), pointerIndex)));
        return;
    }
    if (kind == 0 && masked) {
        buttonMasks[pointerIndex] |= button;
    }
    RCPtr<LControl> target = captureControl;
    PointL local{0, 0};
    if (target) {
        local = LocalPointOf(target, point);
    } else {
        RCPtr<LControl> found;
        HitTest(found, point, local, true);
        target = found;
    }
    if (!target) {
        return;
    }
    const int32_t doubleClick = kind == 2 ? 1 : 0;
    const RCPtr<LMouseButtonParam> payload(new LMouseButtonParam(
        button, local.x, local.y, modifiers, doubleClick, GetMouseButtons(), pointerIndex));
    if (kind == 2) {
        doubleClickFlags = static_cast<uint8_t>(doubleClickFlags | flag);
        target->OnMouseDown(payload);
    } else if (flag != 0) {
        doubleClickFlags = static_cast<uint8_t>(doubleClickFlags & ~flag);
        target->OnMouseDown(payload);
    }
}

void LRootWindow::HandleMouseMove(const PointL& point, int32_t modifiers, int32_t pointerIndex)
{
    if (!HasActiveHost()) {
        return;
    }
    const RCPtr<LRootWindow> self(this);
    RCPtr<LControl> found;
    PointL local{0, 0};
    HitTest(found, point, local, true);
    RCPtr<LControl> target = captureControl;
    if (target) {
        local = LocalPointOf(target, point);
    } else {
        target = found;
    }
    if (!target) {
        return;
    }
    target->OnMouseMove(RCPtr<LPointWithModifiersParam>(
        new LPointWithModifiersParam(local.x, local.y, modifiers, pointerIndex)));
}

void LRootWindow::HandleMouseWheel(const PointL& point, int32_t modifiers, int32_t wheelCode)
{
    if (!HasActiveHost()) {
        return;
    }
    const RCPtr<LRootWindow> self(this);
    HideToolTip();
    RCPtr<LControl> target = captureControl;
    if (!target) {
        PointL local{0, 0};
        HitTest(target, point, local, true);
    }
    if (!target) {
        return;
    }
    const RCPtr<LMouseWheelParam> payload(
        new LMouseWheelParam(point.x, point.y, modifiers, wheelCode));
    const bool vertical = wheelCode == 0 || wheelCode == 1;
    const ORVRESULT answer =
        vertical ? target->OnMouseWheel(payload) : target->OnMouseHWheel(payload);
    if (answer != 1) {
        return;
    }
    if (const RCPtr<LControl> focus = focusControl) {
        vertical ? focus->OnMouseWheel(payload) : focus->OnMouseHWheel(payload);
    }
}

void LRootWindow::HandleKey(const RCPtr<LKeyParam>& key)
{
    const RCPtr<LRootWindow> self(this);
    HideToolTip();
    if (const RCPtr<LControl> focus = focusControl) {
        focus->OnKey(key);
    }
}

ORVRESULT LRootWindow::SetHoverControl(const RCPtr<LControl>& control)
{
    const RCPtr<LRootWindow> self(this);
    RCPtr<LControl> next = control;
    if (captureControl && next != captureControl) {
        next = nullptr;
    }
    if (next == hoverControl) {
        return S_OK;
    }
    RCPtr<LControl> owner;
    if (next && next != captureControl) {
        owner = next->GetToolTipProvider();
        if (owner && owner->GetToolTipText().IsEmpty()) {
            owner = nullptr;
        }
    }
    if (owner != toolTipOwner) {
        const RCPtr<LControl> old = toolTipOwner;
        if (old) {
            old->ShowToolTip(false);
        }
        toolTipOwner = owner;
        if (owner) {
            owner->ShowToolTip(true);
        }
    }
    const RCPtr<LControl> old = hoverControl;
    hoverControl = next;
    if (old && (old->GetParent() || old->GetRootWindowRef())) {
        old->OnMouseLeave();
    }
    if (next) {
        next->OnMouseEnter();
    }
    return S_OK;
}

ORVRESULT LRootWindow::SetCaptureControl(const RCPtr<LControl>& control)
{
    if (!control) {
        return E_INVALIDARG;
    }
    const RCPtr<LRootWindow> self(this);
    if (const RCPtr<LControl> previous = captureControl) {
        previous->OnCaptureLost();
    }
    captureControl = control;
    return S_OK;
}

ORVRESULT LRootWindow::ReleaseCaptureControl()
{
    captureControl = nullptr;
    return S_OK;
}

void LRootWindow::CancelCapture()
{
    const RCPtr<LRootWindow> self(this);
    if (const RCPtr<LControl> previous = captureControl) {
        previous->OnCaptureLost();
    }
}

void LRootWindow::SetFocusControl(const RCPtr<LControl>& control)
{
    focusControl = control;
}

void LRootWindow::OnFocusReleased()
{
    rememberedFocus = focusControl;
    focusControl = nullptr;
}

void LRootWindow::OnWindowFocusGained()
{
    const RCPtr<LRootWindow> self(this);
    if (!focusControl) {
        if (const RCPtr<LControl> remembered = rememberedFocus) {
            const RCPtr<LControl> top = remembered->GetTopLevelControl();
            if (top && top->GetRootWindowRef().Get() == this) {
                remembered->SetFocus(true);
                return;
            }
        }
    }
    if (const RCPtr<LControl> root = rootControl) {
        root->SetFocus(true);
    }
}

void LRootWindow::OnWindowFocusLost()
{
    const RCPtr<LRootWindow> self(this);
    SetHoverControl(RCPtr<LControl>());
    if (const RCPtr<LControl> root = rootControl) {
        root->SetFocus(true);
        root->ReleaseFocus();
    }
}

}  // namespace Orv
