// Scrolling a control's content and converting points between controls: the scroll offset moves
// the content under the client area; only docked children re-lay out, as their positions count
// the offset while content children keep their rectangles.

#include <algorithm>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "Notification/Notification.h"

namespace Orv {

namespace {

constexpr double kCoordinateLimit = 4503599627370496.0;  // 2^52

double ClampCoordinate(double value)
{
    return std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

bool DockedOnAnAxis(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout && (layout->xIsDocked || layout->yIsDocked);
}

}  // namespace

PointD LControl::SetScrollOffset(const PointD& offset)
{
    const RCPtr<LControl> self(this);
    scrollGuardX = true;
    const PointD rounded{RoundHalfAwayFromZero(offset.x), RoundHalfAwayFromZero(offset.y)};
    if (rounded.x != scrollOffset.x || rounded.y != scrollOffset.y) {
        InvalidateOverlays();
        const PointD old = scrollOffset;
        scrollOffset = rounded;
        for (uint32_t index = 0; index < children.GetCount(); ++index) {
            const RCPtr<LControl> child = children.GetAt(index, ChildControlList::kInsertionOrder);
            const bool docked = DockedOnAnAxis(*child);
            const bool saved = scrollGuardY;
            scrollGuardY = scrollGuardY || docked;
            child->OnParentScrolled(old, scrollOffset);
            scrollGuardY = saved;
        }
        InvalidateRect(RectD{0, 0, rect.width, rect.height}, true);
        OnScrollOffsetChanged(old, scrollOffset);
        SendNotification(CreateNotification(u"NID_SCROLL_OFFSET_CHANGE"));
        if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
            // Hover follows the content that moved under a resting pointer.
            const PointL cursor = window->GetCursorPosition();
            const RCPtr<LControl> top = GetTopLevelControl();
            const PointD origin = GetWindowOrigin();
            const double x = cursor.x - RoundHalfAwayFromZero(top->rect.x) - origin.x;
            const double y = cursor.y - RoundHalfAwayFromZero(top->rect.y) - origin.y;
            if (x >= 0 && x < rect.width && y >= 0 && y < rect.height) {
                RCPtr<LControl> found;
                PointL local;
                window->HitTest(found, cursor, local, true);
            }
        }
    }
    scrollGuardX = false;
    return scrollOffset;
}

void LControl::OnScrollOffsetChanged(const PointD&, const PointD&) {}

ORVRESULT LControl::OnParentScrolled(const PointD&, const PointD&)
{
    if (DockedOnAnAxis(*this)) {
        UpdateLayout();
    }
    return S_OK;
}

void LControl::GetMaxSize(PointD& size)
{
    size = PointD{0, 0};
    if (!layout) {
        return;
    }
    size.x = layout->xMaxSize.toControl ? 0.0 : layout->xMaxSize.abs;
    size.y = layout->yMaxSize.toControl ? 0.0 : layout->yMaxSize.abs;
}

PointD LControl::GetPositionInParent() const
{
    if (!parent) {
        return PointD{rect.x, rect.y};
    }
    const RectD client = parent->GetClientRect(-1);
    return PointD{rect.x - parent->scrollOffset.x + client.x,
                  rect.y - parent->scrollOffset.y + client.y};
}

void LControl::ConvertPointFrom(const RCPtr<LControl>& other, PointD& point)
{
    if (!other || other.Get() == this) {
        return;
    }
    const PointD from = other->GetWindowOrigin();
    const PointD to = GetWindowOrigin();
    point.x = ClampCoordinate(point.x + ClampCoordinate(from.x)) - ClampCoordinate(to.x);
    point.y = ClampCoordinate(point.y + ClampCoordinate(from.y)) - ClampCoordinate(to.y);
}

}  // namespace Orv
