// A control's conditions: the bits that looks, derived classes and clients follow (focus, hover,
// capture, buttons, enabled, visible), recomputed after every change of the state they come from
// and announced by "NID_CONDITION_CHANGE" and the narrower notifications of the bits that
// changed. The control's cursor follows its hover.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "Notification/NotificationIdTexts.h"

namespace Orv {

namespace {

// The narrower notifications, in the order they are sent, with the bits each one follows.
struct NarrowNotification
{
    const char16_t* id;
    ControlConditions bits;
};

constexpr NarrowNotification kNarrowNotifications[] = {
    {NID_HAS_FOCUS_CONDITION_CHANGE, kConditionHasFocus},
    {NID_CONTAINS_FOCUS_CONDITION_CHANGE, kConditionContainsFocus},
    {NID_HOVER_CONDITION_CHANGE, kConditionHoverOrForced},
    {NID_CAPTURE_CONDITION_CHANGE, kConditionCapture},
    {NID_LEFT_DRAG_CONDITION_CHANGE, kConditionLeftPressed | kConditionLeftDrag},
    {NID_MIDDLE_DRAG_CONDITION_CHANGE, kConditionMiddlePressed | kConditionMiddleDrag},
    {NID_RIGHT_DRAG_CONDITION_CHANGE, kConditionRightPressed | kConditionRightDrag},
    {NID_ENABLED_CONDITION_CHANGE, kConditionEnabled},
    {NID_VISIBLITY_CONDITION_CHANGE, kConditionVisible},
};

bool Went(ControlConditions before, ControlConditions now, ControlConditions bit, bool set)
{
    return ((before & bit) == 0) == set && ((now & bit) != 0) == set;
}

}  // namespace

RCPtr<LControl> LControl::HoldSelf()
{
    return GetRefCount() > 0 ? RCPtr<LControl>(this) : RCPtr<LControl>();
}

uint32_t LControl::ComputeConditions()
{
    struct StateBit
    {
        bool LControl::*state;
        ControlConditions bit;
    };
    static constexpr StateBit kStateBits[] = {
        {&LControl::hasFocus, kConditionHasFocus},
        {&LControl::containsFocus, kConditionContainsFocus},
        {&LControl::hover, kConditionHover},
        {&LControl::capture, kConditionCapture},
        {&LControl::leftPressed, kConditionLeftPressed},
        {&LControl::middlePressed, kConditionMiddlePressed},
        {&LControl::rightPressed, kConditionRightPressed},
        {&LControl::leftDrag, kConditionLeftDrag},
        {&LControl::middleDrag, kConditionMiddleDrag},
        {&LControl::rightDrag, kConditionRightDrag},
    };
    ControlConditions bits = 0;
    for (const StateBit& entry : kStateBits) {
        bits |= this->*entry.state ? entry.bit : 0;
    }
    bits |= IsEnabled(true) ? kConditionEnabled : 0;
    bits |= IsVisible(true) ? kConditionVisible : 0;
    bits |= hover || forcedHover ? kConditionHoverOrForced : 0;
    return bits;
}

void LControl::UpdateConditions()
{
    const ControlConditions now = ComputeConditions();
    const RCPtr<LConditionsParam> payload = conditions;
    if (now == payload->newConditions) {
        return;
    }
    // A client may close the control, or let its last reference go, inside a notification.
    const RCPtr<LControl> self = HoldSelf();
    // A client may also change the control's state inside a notification, and the pass that
    // runs for it rewrites the payload, which always holds the latest change (so that every
    // client ends up with the present state). This pass decides what it still has to send from
    // its own before and after: nothing is lost or sent twice.
    const ControlConditions before = payload->newConditions;
    const ControlConditions changed = before ^ now;
    payload->oldConditions = before;
    payload->newConditions = now;
    payload->point = pressPoint;

    if (cursor) {
        if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
            const bool capturedNow = (now & kConditionCapture) != 0;
            const bool hoveredNow = (now & kConditionHover) != 0;
            if (Went(before, now, kConditionHover, true) && !capturedNow) {
                savedCursor = window->SetCursor(cursor);
            } else if ((Went(before, now, kConditionHover, false) && !capturedNow) ||
                       (Went(before, now, kConditionCapture, false) && !hoveredNow)) {
                window->SetCursor(savedCursor);
            }
        }
    }
    if (dragMode != 0 && Went(before, now, kConditionLeftDrag, false)) {
        EndDrag();
    }

    OnConditionsChanged(payload);
    SendNotification(CreateNotification(NID_CONDITION_CHANGE, payload));
    for (const NarrowNotification& narrow : kNarrowNotifications) {
        if ((changed & narrow.bits) != 0) {
            SendNotification(CreateNotification(narrow.id, payload));
        }
    }

    // Unless a pass run by a client has ended the drag already.
    if (dragMode != 0 && Went(before, now, kConditionLeftDrag, true) && leftDrag) {
        BeginDragGeometry();
    }

    // Hover moves to the control now under the pointer when this one was hidden under it, or
    // when its capture ended away from it.
    const bool hoveredNow = (now & kConditionHover) != 0;
    const bool hiddenUnderPointer =
        hoveredNow && Went(before, now, kConditionVisible, false) && (now & kConditionCapture) == 0;
    const bool captureEndedAway = Went(before, now, kConditionCapture, false) && !hoveredNow;
    if (hiddenUnderPointer || captureEndedAway) {
        if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
            RCPtr<LControl> found;
            PointL local{0, 0};
            window->HitTest(found, window->GetCursorPosition(), local, true);
        }
    }

    // The children's enabled and visible bits follow this control's.
    if ((changed & (kConditionEnabled | kConditionVisible)) != 0) {
        for (uint32_t index = children.GetCount(); index-- > 0;) {
            if (index < children.GetCount()) {
                const RCPtr<LControl> child =
                    children.GetAt(index, ChildControlList::kInsertionOrder);
                child->UpdateConditions();
            }
        }
    }
}

void LControl::SetForcedHover(bool forced)
{
    if (forced == forcedHover) {
        return;
    }
    forcedHover = forced;
    UpdateConditions();
}

void LControl::SetCursor(HCURSOR id)
{
    if (id == cursor) {
        return;
    }
    const HCURSOR before = cursor;
    cursor = id;
    if (!hover) {
        return;
    }
    if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        const HCURSOR replaced = window->SetCursor(id);
        if (!before) {
            savedCursor = replaced;
        }
    }
}

}  // namespace Orv
