// Which control takes the pointer at a point: the deepest one under it, where overlay controls
// (those drawn above their siblings) win by their layer over everything drawn in the plain pass.

#include <climits>
#include <utility>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"

namespace Orv {

namespace {

constexpr int32_t kNoLayer = INT_MIN;

int32_t OwnLayer(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    if (!layout || layout->clipToParent) {
        return kNoLayer;
    }
    return layout->zOrder;
}

bool DockedOnBothAxes(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout && layout->xIsDocked && layout->yIsDocked;
}

bool IsOverlay(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout && !layout->clipToParent;
}

bool Inside(const RectD& area, double x, double y)
{
    return x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
}

}  // namespace

int32_t LControl::GetZLayer() const
{
    int32_t layer = OwnLayer(*this);
    for (const LControl* at = parent.Get(); at != nullptr; at = at->parent.Get()) {
        const int32_t own = OwnLayer(*at);
        if (own > layer) {
            layer = own;
        }
    }
    return layer;
}

int32_t LControl::ContainsPoint(const PointL& point)
{
    RectD box = rect;
    box.RoundEdges();
    return point.x >= 0 && point.x < box.width && point.y >= 0 && point.y < box.height ? 1 : 0;
}

// The walk takes no counted reference until it has its answer: the caller holds the control it
// starts at, each parent's child list holds the children, and nothing the walk calls can change
// the tree (ContainsPoint, IsTransparentAt, GetLookColorAt and HitTest itself only read; the
// overrides of these slots keep to that). Each answer is handed up by moving the one reference
// the answering control took.
RCPtr<LControl>& LControl::HitTest(RCPtr<LControl>& result, const PointL& point, bool inside,
                                   PointL& localPoint, int32_t& layer)
{
    localPoint = PointL{INT_MIN, INT_MIN};
    result = nullptr;
    const bool pointInside = ContainsPoint(point) != 0;
    if (!IsVisible(false) || (!pointInside && nonClippingDescendants <= 0)) {
        return result;
    }
    const int32_t callerLayer = layer;
    const int32_t ownLayer = GetZLayer();
    const bool childInside = pointInside && inside;

    RCPtr<LControl> found;
    PointL foundPoint{INT_MIN, INT_MIN};
    int32_t foundLayer = kNoLayer;
    // Normally exactly one look is shown; a control without a shown look lays its children out
    // in its box and is searched through that.
    bool anyShown = false;
    for (uint32_t index = 0; index < lookWeights.GetCount() && !anyShown; ++index) {
        anyShown = lookWeights.GetAt(index) > 0.0f;
    }
    const uint32_t passes = anyShown ? lookWeights.GetCount() : 1;
    for (uint32_t pass = 0; pass < passes; ++pass) {
        if (anyShown && !(lookWeights.GetAt(pass) > 0.0f)) {
            continue;
        }
        const RectD client = GetClientRect(anyShown ? static_cast<int32_t>(pass) : -1);
        const bool inClient = Inside(client, point.x, point.y);
        const double contentX = point.x + scrollOffset.x - client.x;
        const double contentY = point.y + scrollOffset.y - client.y;
        for (uint32_t index = children.GetCount(); index-- > 0;) {
            LControl& child = *children.GetAt(index, ChildControlList::kPaintOrder);
            const bool overlays = IsOverlay(child) || child.nonClippingDescendants > 0;
            const bool plain = !found && ((childInside && (inClient || DockedOnBothAxes(child))) ||
                                          ownLayer != kNoLayer);
            if (!plain && !overlays) {
                continue;
            }
            const PointL childPoint{RoundToLong(contentX - RoundHalfAwayFromZero(child.rect.x)),
                                    RoundToLong(contentY - RoundHalfAwayFromZero(child.rect.y))};
            RCPtr<LControl> answer;
            PointL answerPoint;
            int32_t answerLayer = callerLayer;
            child.HitTest(answer, childPoint, childInside, answerPoint, answerLayer);
            if (answer && (!found || answerLayer > foundLayer)) {
                found = std::move(answer);
                foundPoint = answerPoint;
                foundLayer = answerLayer;
            }
        }
    }
    if (found) {
        result = std::move(found);
        localPoint = foundPoint;
        layer = foundLayer;
        return result;
    }

    bool eligible = true;
    if (parent && !DockedOnBothAxes(*this) && !IsOverlay(*this)) {
        // The position in the parent as GetPositionInParent gives it.
        const RectD parentClient = parent->GetClientRect(-1);
        const double positionX = rect.x - parent->scrollOffset.x + parentClient.x;
        const double positionY = rect.y - parent->scrollOffset.y + parentClient.y;
        eligible = Inside(parentClient, point.x + positionX, point.y + positionY);
    }
    const bool layerAllows = ownLayer == kNoLayer ? inside : callerLayer < ownLayer;
    if (eligible && pointInside && layerAllows && !excludedFromHitTest &&
        !IsTransparentAt(point.x, point.y)) {
        result = this;
        localPoint = point;
        layer = ownLayer;
    }
    return result;
}

}  // namespace Orv
