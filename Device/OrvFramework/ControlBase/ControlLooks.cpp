// Which look a control shows, what colour it shows where, and the update regions that let a
// control repaint only part of a look.

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"

namespace Orv {

int32_t LControl::FirstVisibleLookIndex() const
{
    for (uint32_t index = 0; index < lookWeights.GetCount(); ++index) {
        if (lookWeights.GetAt(index) > 0.0f) {
            return static_cast<int32_t>(index);
        }
    }
    return -1;
}

// A reference: the hit test asks for the look of every control it passes, and a counted copy
// each time was most of its cost.
const RCPtr<LLook>& LControl::GetLook(int32_t index) const
{
    const uint32_t count = looks.GetCount();
    if (index >= 0 && static_cast<uint32_t>(index) < count) {
        return looks.GetData()[index];
    }
    for (uint32_t at = 0; at < count && at < lookWeights.GetCount(); ++at) {
        if (lookWeights.GetAt(at) > 0.0f && looks.GetData()[at]) {
            return looks.GetData()[at];
        }
    }
    for (uint32_t at = 0; at < count; ++at) {
        if (looks.GetData()[at]) {
            return looks.GetData()[at];
        }
    }
    static const RCPtr<LLook> none;
    return none;
}

RectD LControl::GetClientRect(int32_t lookIndex) const
{
    if (const RCPtr<LLook>& look = GetLook(lookIndex)) {
        return look->GetClientRect().ToDouble();
    }
    return RectD{0, 0, rect.width, rect.height};
}

bool LControl::IsTransparentAt(int32_t x, int32_t y)
{
    for (uint32_t index = 0; index < lookWeights.GetCount(); ++index) {
        if (!(lookWeights.GetAt(index) > 0.0f)) {
            continue;
        }
        if ((GetLookColorAt(PointL{x, y}, static_cast<int32_t>(index)) >> 24) != 0) {
            return false;
        }
    }
    return true;
}

uint32_t LControl::GetLookColorAt(const PointL& point, int32_t lookIndex)
{
    if (const RCPtr<LLook> look = GetLook(lookIndex)) {
        return look->GetColorAtPoint(point);
    }
    return 0x00FFFFFF;
}

void LControl::ClearLookRegions()
{
    for (uint32_t index = 0; index < looks.GetCount(); ++index) {
        if (const RCPtr<LLook>& look = looks.GetData()[index]) {
            look->GetRegion().Clear();
        }
    }
}

void LControl::ClearLookRegion(int32_t lookIndex)
{
    if (const RCPtr<LLook> look = GetLook(lookIndex)) {
        look->GetRegion().Clear();
    }
}

ORVRESULT LControl::SetLookRegionToComplement(int32_t destinationLook, int32_t sourceLook)
{
    const int32_t count = static_cast<int32_t>(looks.GetCount());
    if (destinationLook < 0 || destinationLook >= count || sourceLook < 0 || sourceLook >= count ||
        !looks.GetData()[destinationLook] || !looks.GetData()[sourceLook]) {
        return E_INVALIDARG;
    }
    LLook& destination = *looks.GetData()[destinationLook];
    // A copy first: the source may be the destination itself.
    const RectRegion source = looks.GetData()[sourceLook]->GetRegion();
    RectRegion& region = destination.GetRegion();
    region.Clear();
    region.AddRectRounded(RectD{0, 0, rect.width, rect.height});
    region.SubtractRegion(source);
    region.Normalize();
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
    return S_OK;
}

}  // namespace Orv
