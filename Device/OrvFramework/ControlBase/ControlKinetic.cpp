// Kinetic motion: an axis of the scroll offset moving at a velocity, advanced by each idle pass
// by the time since the previous pass (nothing carried over), and a flick slowing down once it
// has run for a second after the release.

#include <algorithm>
#include <cmath>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

namespace {

double ApplicationSeconds()
{
    LFrameworkApp* application = GetFrameworkApp();
    return application ? application->GetTimeSeconds() : 0.0;
}

}  // namespace

ORVRESULT LControl::StartKineticMotion(int axis, double velocity, double low, double high,
                                       const RCPtr<LControl>& source)
{
    if (axis != 0 && axis != 1) {
        return E_INVALIDARG;
    }
    KineticAxis& motion = kinetic[axis];
    motion.velocity = velocity;
    motion.rangeLow = low;
    motion.rangeHigh = high;
    motion.source = source;
    if (!motion.active) {
        motion.active = true;
        motion.startTime = ApplicationSeconds();
        RequestIdle();
    }
    return S_OK;
}

ORVRESULT LControl::StartFlick(int axis, double velocity, double low, double high)
{
    const ORVRESULT result = StartKineticMotion(axis, velocity, low, high, RCPtr<LControl>());
    if (result == S_OK) {
        flick[axis] = true;
    }
    return result;
}

ORVRESULT LControl::StopKineticMotion(int axis)
{
    if (axis != 0 && axis != 1) {
        return E_INVALIDARG;
    }
    KineticAxis& motion = kinetic[axis];
    motion.source = nullptr;
    if (!motion.active) {
        return 1;
    }
    motion.active = false;
    flick[axis] = false;
    ReleaseIdle();
    return S_OK;
}

bool LControl::IsKineticMotionActive(int axis) const
{
    return (axis == 0 || axis == 1) && kinetic[axis].active;
}

void LControl::KineticStep(int axis)
{
    KineticAxis& motion = kinetic[axis];
    const double now = ApplicationSeconds();
    const double dt = now - motion.startTime;
    const double distance = RoundHalfAwayFromZero(motion.velocity * dt);
    motion.startTime = now;
    if (distance != 0) {
        PointD offset = scrollOffset;
        double& along = axis == 0 ? offset.x : offset.y;
        const double low = std::min(motion.rangeLow, motion.rangeHigh);
        const double high = std::max(motion.rangeLow, motion.rangeHigh);
        along = std::clamp(along + distance, low, high);
        SetScrollOffset(offset);
        const RCPtr<LControl> source = motion.source;
        const RCPtr<LRootWindow> window = GetRootWindowRef();
        if (source && window) {
            // A dragged control stays under the pointer while the content moves under it.
            const PointL cursor = window->GetCursorPosition();
            const RCPtr<LControl> top = GetTopLevelControl();
            PointD local{cursor.x - RoundHalfAwayFromZero(top->rect.x),
                         cursor.y - RoundHalfAwayFromZero(top->rect.y)};
            source->ConvertPointFrom(top, local);
            const RCPtr<LPointWithModifiersParam> point(new LPointWithModifiersParam(
                RoundToLong(local.x), RoundToLong(local.y), window->GetModifierKeys(), 0));
            source->DragTo(point);
        }
    }
    if (!motion.active || !flick[axis]) {
        return;
    }
    LFrameworkApp* application = GetFrameworkApp();
    const uint32_t nowMs = application ? application->GetTimeMilliseconds() : 0;
    if (static_cast<int32_t>(nowMs - static_cast<uint32_t>(releaseTime)) <= 1000) {
        return;
    }
    const double slowing = RoundHalfAwayFromZero(deceleration * dt);
    const double speed = std::fabs(motion.velocity) - slowing;
    if (speed <= 0) {
        StopKineticMotion(axis);
        return;
    }
    motion.velocity = std::copysign(speed, motion.velocity);
}

}  // namespace Orv
