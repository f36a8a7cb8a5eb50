// The tool tip's timer, placement and hiding.

#include "Controls/ToolTip.h"

#include <algorithm>

#include "Application/FrameworkApp.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

uint32_t LToolTip::lastHideTime = 0;
bool LToolTip::hiddenOnce = false;

namespace {

// Milliseconds from `since` to `now` on the wrapping 32-bit clock.
int64_t Elapsed(uint32_t now, uint32_t since)
{
    return static_cast<int32_t>(now - since);
}

}  // namespace

LToolTip::LToolTip(const RCPtr<LControl>& parent, const WideString& name) : LControl(parent, name)
{
}

LToolTip::~LToolTip() = default;

void LToolTip::ForgetLastHide()
{
    lastHideTime = 0;
    hiddenOnce = false;
}

uint32_t LToolTip::NowMs()
{
    LFrameworkApp* application = GetFrameworkApp();
    return application ? application->GetTimeMilliseconds() : 0;
}

bool LToolTip::IsTransparentAt(int32_t, int32_t)
{
    return false;
}

ORVRESULT LToolTip::ReadCreateParams()
{
    SetNotFocusable(true);
    return S_OK;
}

ORVRESULT LToolTip::OnCreated()
{
    SetVisible(false);
    return S_OK;
}

ORVRESULT LToolTip::Arm()
{
    const RCPtr<LControl> self = HoldSelf();
    const RCPtr<LRootWindow>& window = GetRootWindowRef();
    if (window && GetLayout()) {
        AxisSizeLimitSpec minimum;
        AxisSizeLimitSpec maximum;
        GetLayout()->GetAxisSizeLimits(0, minimum, maximum);
        // A maximum of 0 means none: a window of the margin or less still limits the tip.
        maximum.abs = std::max(window->GetClientSize().x - kWindowMargin, 1);
        SetAxisSizeLimits(0, minimum, maximum);
    }
    stateTime = NowMs();
    if (hiddenOnce && Elapsed(stateTime, lastHideTime) < static_cast<int64_t>(kFollowOnMs)) {
        state = kShown;
        PlaceAtPointer();
        SetVisible(true);
    } else {
        state = kWaiting;
    }
    RequestIdle();
    return S_OK;
}

void LToolTip::OnTick()
{
    const uint32_t now = NowMs();
    if (state == kWaiting && Elapsed(now, stateTime) > static_cast<int64_t>(kShowDelayMs)) {
        state = kShown;
        stateTime = now;
        PlaceAtPointer();
        SetVisible(true);
    } else if (state == kShown && Elapsed(now, stateTime) > static_cast<int64_t>(kShowTimeMs)) {
        Hide();
    }
}

ORVRESULT LToolTip::Hide()
{
    const RCPtr<LControl> self = HoldSelf();
    if (state != kIdle) {
        state = kIdle;
        ReleaseIdle();
    }
    const RectD& box = GetRect();
    if (GetLayout() && GetLayout()->isVisible && box.width > 0 && box.height > 0) {
        lastHideTime = NowMs();
        hiddenOnce = true;
    }
    // A tip without parent has nobody to close it.
    if (const RCPtr<LControl> owner = GetParent()) {
        owner->CloseChildLater(self);
    }
    return S_OK;
}

void LToolTip::PlaceAtPointer()
{
    const RCPtr<LControl> owner = GetParent();
    const RCPtr<LRootWindow>& window = GetRootWindowRef();
    if (!owner || !window || !GetLayout()) {
        return;
    }
    const PointL pointer = window->GetCursorPosition();
    const PointL windowSize = window->GetClientSize();
    // The parent's client origin in the window: where a position of 0 puts the tip.
    const PointD ownerOrigin = owner->GetWindowOrigin();
    const RectD ownerClient = owner->GetClientRect(-1);
    const double origin[2] = {ownerOrigin.x + ownerClient.x, ownerOrigin.y + ownerClient.y};
    const int32_t wanted[2] = {pointer.x, pointer.y + kPointerOffsetY};
    const int32_t limit[2] = {windowSize.x, windowSize.y};
    const double size[2] = {GetRect().width, GetRect().height};
    for (int axis = 0; axis < 2; ++axis) {
        double at = wanted[axis];
        if (size[axis] + at > limit[axis]) {
            at = limit[axis] - size[axis];
        }
        at = std::max(at, 0.0);
        AxisPositionSpec position;
        AxisSizeSpec extent;
        GetLayout()->GetAxisPlacement(axis, position, extent);
        position.abs = at - origin[axis];
        SetAxisLayout(axis, position, extent);
    }
}

}  // namespace Orv
