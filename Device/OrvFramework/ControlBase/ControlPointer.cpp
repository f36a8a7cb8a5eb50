// Pointer input of a control: hover, presses that take the capture, moves that turn a press into
// a drag once it has gone the drag threshold, and releases that make clicks or start a flick.
// Every operation holds the control across the calls it makes, since a client told about the
// input may close it; once it has left its tree the press or release is not handled further.

#include <cmath>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlTreeAnchor.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "Notification/Notification.h"

namespace Orv {

namespace {

// A release this soon after the last move of a content drag throws the content.
constexpr int32_t kFlickWindowMs = 100;
constexpr double kFlickMinimumVelocity = 1000.0;  // pixels per second
constexpr int32_t kContentScrollDrag = 6;

int32_t ClockMilliseconds()
{
    LFrameworkApp* application = GetFrameworkApp();
    return application ? static_cast<int32_t>(application->GetTimeMilliseconds()) : 0;
}

bool IsButton(int32_t button)
{
    return button == 1 || button == 2 || button == 4;
}

void Send(LControl& control, const char16_t* id, const RCPtr<LRefCountedObject>& payload)
{
    control.SendNotification(CreateNotification(id, payload));
}

}  // namespace

ORVRESULT LControl::OnMouseEnter()
{
    const RCPtr<LControl> self(this);
    hover = true;
    UpdateConditions();
    return S_OK;
}

ORVRESULT LControl::OnMouseLeave()
{
    const RCPtr<LControl> self(this);
    hover = false;
    UpdateConditions();
    return S_OK;
}

ORVRESULT LControl::RequestFocusOnClick(const RCPtr<LControl>& clicked)
{
    const RCPtr<LControl> self(this);
    bool ancestorRefuses = false;
    if (!focusScope) {
        for (const LControl* at = parent.Get(); at != nullptr; at = at->parent.Get()) {
            if (at->notFocusable) {
                ancestorRefuses = true;
                break;
            }
            if (at->focusScope) {
                break;
            }
        }
    }
    if (!notFocusable && (!parent || focusScope || !ancestorRefuses)) {
        SetFocus(true);
    } else if (const RCPtr<LControl> next = parent) {
        next->RequestFocusOnClick(clicked);
    }
    return S_OK;
}

ORVRESULT LControl::OnMouseDown(const RCPtr<LMouseButtonParam>& button)
{
    if (!button || !IsButton(button->button)) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    const bool hadCapture = capture;
    if (!hadCapture && (!IsVisible(true) || !IsEnabled(true))) {
        return 1;
    }
    const ControlTreeAnchor anchor(*this);
    if (!hadCapture) {
        // The focus goes to this control, or to the nearest ancestor that may take it.
        LControl::RequestFocusOnClick(self);
        if (anchor.Lost()) {
            return S_OK;
        }
    }
    switch (button->button) {
        case 1:
            lastLeftPress = button;
            OnLeftButtonDown(button);
            break;
        case 2:
            OnMiddleButtonDown(button);
            break;
        default:
            OnRightButtonDown(button);
            break;
    }
    if (anchor.Lost()) {
        return S_OK;
    }
    Send(*this, u"NID_MOUSE_DOWN", button);
    if (!hadCapture && !anchor.Lost()) {
        BeginCapture(button->button, button->x, button->y);
    }
    return S_OK;
}

ORVRESULT LControl::BeginCapture(int32_t button, int32_t x, int32_t y)
{
    if (!IsVisible(true) || !IsEnabled(true) || capture) {
        return 1;
    }
    const RCPtr<LControl> self(this);
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    if (button != 0) {
        if (!window || (window->GetMouseButtons() & button) == 0) {
            return 1;
        }
        pressPoint = PointD{x + rect.x, y + rect.y};
        dragPosition = PointD{0, 0};
    }
    // A press stops a flick; it then waits for the threshold like any other.
    for (int axis = 0; axis < 2; ++axis) {
        if (flick[axis]) {
            StopKineticMotion(axis);
        }
    }
    capture = true;
    pressTime = ClockMilliseconds();
    previousMoveTime = pressTime;
    smoothedVelocity = PointD{0, 0};
    if (window) {
        window->SetCaptureControl(self);
    }
    switch (button) {
        case 1:
            leftPressed = true;
            dragMode = 0;
            break;
        case 2:
            middlePressed = true;
            break;
        case 4:
            rightPressed = true;
            break;
        default:
            break;
    }
    UpdateConditions();
    if (dragThreshold != 0) {
        return S_OK;
    }
    // Without a threshold the press is a drag at once.
    leftDrag = leftDrag || leftPressed;
    middleDrag = middleDrag || middlePressed;
    rightDrag = rightDrag || rightPressed;
    leftPressed = middlePressed = rightPressed = false;
    UpdateConditions();
    if (leftDrag && dragMode != 0 && capture) {
        const int32_t modifiers = window ? window->GetModifierKeys() : 0;
        DragTo(RCPtr<LPointWithModifiersParam>(new LPointWithModifiersParam(x, y, modifiers, 0)));
    }
    return S_OK;
}

ORVRESULT LControl::OnMouseMove(const RCPtr<LPointWithModifiersParam>& point)
{
    if (!point) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    const ControlTreeAnchor anchor(*this);
    moveTime = ClockMilliseconds();
    if ((leftPressed || middlePressed || rightPressed) && !movingAtPressPoint) {
        const double pressX = RoundHalfAwayFromZero(pressPoint.x - rect.x);
        const double pressY = RoundHalfAwayFromZero(pressPoint.y - rect.y);
        const double distance =
            std::fmax(std::fabs(point->x - pressX), std::fabs(point->y - pressY));
        if (distance >= dragThreshold) {
            // Clients see the drag begin where the press was.
            movingAtPressPoint = true;
            OnMouseMove(RCPtr<LPointWithModifiersParam>(new LPointWithModifiersParam(
                static_cast<int32_t>(pressX), static_cast<int32_t>(pressY), point->modifiers,
                point->pointerIndex)));
            movingAtPressPoint = false;
            if (anchor.Lost()) {
                return S_OK;
            }
            // The inner move may have ended the capture already.
            if (leftPressed) {
                leftDrag = true;
            } else if (middlePressed) {
                middleDrag = true;
            } else if (rightPressed) {
                rightDrag = true;
            }
            leftPressed = middlePressed = rightPressed = false;
            UpdateConditions();
            if (anchor.Lost()) {
                return S_OK;
            }
        }
    }
    OnMouseMoveHook(point);
    if (anchor.Lost()) {
        return S_OK;
    }
    Send(*this, u"NID_MOUSE_MOVE", point);
    if (leftDrag && dragMode != 0 && !anchor.Lost()) {
        DragTo(point);
    }
    previousMoveTime = moveTime;
    return S_OK;
}

ORVRESULT LControl::OnMouseUp(const RCPtr<LMouseButtonParam>& button)
{
    if (!button || !IsButton(button->button)) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    if (!capture && (!IsVisible(true) || !IsEnabled(true))) {
        return 1;
    }
    const ControlTreeAnchor anchor(*this);
    bool click = false;
    switch (button->button) {
        case 1:
            OnLeftButtonUp(button);
            if (anchor.Lost()) {
                return S_OK;
            }
            click = hover && (leftPressed || (leftDrag && dragMode == 0));
            if (leftDrag && dragMode == kContentScrollDrag) {
                releaseTime = ClockMilliseconds();
                // The clock wraps: the difference is taken modulo 2^32.
                const auto sinceMove = static_cast<int32_t>(static_cast<uint32_t>(releaseTime) -
                                                            static_cast<uint32_t>(moveTime));
                if (sinceMove < kFlickWindowMs) {
                    RectD range;
                    GetScrollRange(range, self);
                    const uint32_t axes = dragFlags & 3u;
                    for (int axis = 0; axis < 2; ++axis) {
                        const uint32_t enables = axis == 0 ? 1u : 2u;
                        const double velocity = axis == 0 ? smoothedVelocity.x : smoothedVelocity.y;
                        if ((axes == 3u || axes == enables) &&
                            std::fabs(velocity) >= kFlickMinimumVelocity) {
                            StartFlick(axis, velocity, 0, axis == 0 ? range.width : range.height);
                        }
                    }
                }
            }
            break;
        case 2:
            OnMiddleButtonUp(button);
            click = hover && (middlePressed || (middleDrag && dragMode == 0));
            break;
        default:
            OnRightButtonUp(button);
            click = hover && (rightPressed || (rightDrag && dragMode == 0));
            break;
    }
    if (anchor.Lost()) {
        return S_OK;
    }
    Send(*this, u"NID_MOUSE_UP", button);
    if (anchor.Lost()) {
        return S_OK;
    }
    if (capture && button->buttonsDown == 0) {
        OnCaptureLost();
        if (anchor.Lost()) {
            return S_OK;
        }
    }
    if (click && IsEnabled(true)) {
        OnClick(button);
    }
    return S_OK;
}

ORVRESULT LControl::OnCaptureLost()
{
    if (!capture) {
        return 1;
    }
    const RCPtr<LControl> self(this);
    capture = false;
    leftPressed = middlePressed = rightPressed = false;
    leftDrag = middleDrag = rightDrag = false;
    ORVRESULT result = S_OK;
    // The window may have handed the capture on already (it tells the old holder first).
    if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        if (window->GetCaptureControl().Get() == this) {
            result = window->ReleaseCaptureControl();
        }
    }
    UpdateConditions();
    lastLeftPress = nullptr;
    return result;
}

}  // namespace Orv
