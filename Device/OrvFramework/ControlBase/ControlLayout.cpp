// A control's side of the layout: UpdateLayout drives the layout engine, SetRect stores the
// result and passes the change on (children, later siblings, parent), and the client rectangle
// the children are laid out in.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/Look.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"

namespace Orv {

namespace {

constexpr double kSizeTolerance = 2.220446049250313e-15;
constexpr double kCoordinateLimit = 4503599627370496.0;  // 2^52

double ClampCoordinate(double value)
{
    return std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

bool ClipsToParent(const RCPtr<LLayoutDescriptor>& layout)
{
    return !layout || layout->clipToParent;
}

}  // namespace

ORVRESULT LControl::UpdateLayout()
{
    if (!layout) {
        return E_FAIL;
    }
    RectD resolved;
    if (parent) {
        ResolveLayout(layout.Get(), parent.Get(), RectD{}, PointD{}, PointD{}, resolved);
    } else if (ResolveTopLevelLayout(resolved) != S_OK) {
        return E_FAIL;
    }
    PointD position{resolved.x, resolved.y};
    PointD size{resolved.width, resolved.height};
    ApplyLayoutMinSize(*this, position, size);
    ApplyLayoutMaxSize(*this, position, size);
    RectD snapped{position.x, position.y, size.x, size.y};
    snapped.SnapToPixels();
    return SetRect(PointD{snapped.x, snapped.y}, PointD{snapped.width, snapped.height});
}

ORVRESULT LControl::ResolveTopLevelLayout(RectD& resolved)
{
    if (created && !rootWindow) {
        return E_FAIL;
    }
    LFrameworkApp* application = GetFrameworkApp();
    if (!application) {
        return E_FAIL;
    }
    // A top-level control is measured against the screen, a window's client area and the
    // pointer: its own window, else the active one, else the main one.
    RCPtr<LRootWindow> window = rootWindow;
    if (!window) {
        window = application->GetActiveRootWindow();
    }
    if (!window) {
        window = application->GetRootWindow(0);
    }
    if (!window) {
        return E_FAIL;
    }
    const RectL area = application->GetWorkArea();
    const PointL clientSize = window->GetClientSize();
    PointL clientOrigin{0, 0};
    if (IWindowOSServices* services = window->GetOSServices()) {
        services->ClientToScreen(clientOrigin, PointL{0, 0});
    }
    const PointL cursor = application->GetCursorPos();
    const RectD screen{ClampCoordinate(-static_cast<double>(clientOrigin.x)),
                       ClampCoordinate(-static_cast<double>(clientOrigin.y)),
                       ClampCoordinate(static_cast<double>(area.width)),
                       ClampCoordinate(static_cast<double>(area.height))};
    const PointD pointer{static_cast<double>(cursor.x) - clientOrigin.x,
                         static_cast<double>(cursor.y) - clientOrigin.y};
    return ResolveLayout(layout.Get(), nullptr, screen,
                         PointD{LongToDouble(clientSize.x), LongToDouble(clientSize.y)}, pointer,
                         resolved) == S_OK
               ? S_OK
               : E_FAIL;
}

ORVRESULT LControl::SetRect(const PointD& position, const PointD& size)
{
    if (rect.x == position.x && rect.y == position.y && rect.width == size.x &&
        rect.height == size.y) {
        return 1;
    }
    // The control may be held by nothing but its parent, whose layout runs from here.
    const RCPtr<LControl> self(this);
    CalcClientRect();
    const bool sizeChanged = std::fabs(size.x - rect.width) > kSizeTolerance ||
                             std::fabs(size.y - rect.height) > kSizeTolerance;

    const bool clip = ClipsToParent(layout);
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, clip);
    InvalidateOverlays();
    rect = RectD{position.x, position.y, size.x, size.y};

    const PointL whole{RoundToLong(size.x), RoundToLong(size.y)};
    for (uint32_t index = 0; index < looks.GetCount(); ++index) {
        if (const RCPtr<LLook>& look = looks.GetData()[index]) {
            look->SetSize(whole);
        }
    }

    if (sizeChanged && !layoutSuspended) {
        // While the children follow, their changes must not make this control lay itself out
        // once per child; it does so once, after them, as its limits may depend on them.
        layoutSuspended = true;
        for (uint32_t index = 0; index < children.GetCount(); ++index) {
            const RCPtr<LControl> child = children.GetAt(index, ChildControlList::kInsertionOrder);
            child->OnRelayout(whole);
        }
        UpdateLayout();
        layoutSuspended = false;
    }

    if (parent) {
        const RCPtr<LControl> owner = parent;
        ChildControlList& siblings = owner->children;
        // A later sibling may be placed against this one. The first that moves carries the chain
        // on from its own SetRect, so each is laid out once.
        const int32_t at = owner->IndexOfChild(self, ChildControlList::kInsertionOrder);
        for (uint32_t index = static_cast<uint32_t>(at + 1); at >= 0 && index < siblings.GetCount();
             ++index) {
            const RCPtr<LControl> sibling =
                siblings.GetAt(index, ChildControlList::kInsertionOrder);
            if (sibling->UpdateLayout() == S_OK) {
                break;
            }
        }
        owner->OnParentRectChanged(self);
    }

    InvalidateRect(RectD{0, 0, rect.width, rect.height}, clip);
    InvalidateOverlays();
    OnClientRectChanged();
    return S_OK;
}

ORVRESULT LControl::SetAxisLayout(int axis, const AxisPositionSpec& position,
                                  const AxisSizeSpec& size)
{
    if (!layout) {
        return E_FAIL;
    }
    if (axis != 0 && axis != 1) {
        return 1;
    }
    const bool wasDocked = axis == 0 ? layout->xIsDocked : layout->yIsDocked;
    layout->SetAxisPlacement(axis, position, size);
    if (parent && wasDocked != position.docked) {
        // Docked children paint in their own group: the parent's paint order is stale.
        parent->children.MarkChanged();
    }
    UpdateLayout();
    AxisPositionSpec storedPosition;
    AxisSizeSpec storedSize;
    layout->GetAxisPlacement(axis, storedPosition, storedSize);
    return storedPosition == position && storedSize == size ? S_OK : 1;
}

ORVRESULT LControl::SetAxisSizeLimits(int axis, const AxisSizeLimitSpec& minimum,
                                      const AxisSizeLimitSpec& maximum)
{
    if (!layout) {
        return E_FAIL;
    }
    if (axis != 0 && axis != 1) {
        return 1;
    }
    layout->SetAxisSizeLimits(axis, minimum, maximum);
    UpdateLayout();
    AxisSizeLimitSpec storedMinimum;
    AxisSizeLimitSpec storedMaximum;
    layout->GetAxisSizeLimits(axis, storedMinimum, storedMaximum);
    return storedMinimum == minimum && storedMaximum == maximum ? S_OK : 1;
}

ORVRESULT LControl::SetLayoutPlacement(const AxisPositionSpec& xPosition, const AxisSizeSpec& xSize,
                                       const AxisPositionSpec& yPosition, const AxisSizeSpec& ySize)
{
    if (!layout) {
        return E_FAIL;
    }
    const bool dockingChanges =
        layout->xIsDocked != xPosition.docked || layout->yIsDocked != yPosition.docked;
    layout->SetAxisPlacement(0, xPosition, xSize);
    layout->SetAxisPlacement(1, yPosition, ySize);
    if (parent && dockingChanges) {
        parent->children.MarkChanged();
    }
    UpdateLayout();
    AxisPositionSpec storedPosition[2];
    AxisSizeSpec storedSize[2];
    layout->GetAxisPlacement(0, storedPosition[0], storedSize[0]);
    layout->GetAxisPlacement(1, storedPosition[1], storedSize[1]);
    const bool held = storedPosition[0] == xPosition && storedSize[0] == xSize &&
                      storedPosition[1] == yPosition && storedSize[1] == ySize;
    return held ? S_OK : 1;
}

void LControl::ChildrenBounds(RectL& bounds) const
{
    int64_t left = INT64_MAX;
    int64_t top = INT64_MAX;
    int64_t right = INT64_MIN;
    int64_t bottom = INT64_MIN;
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kInsertionOrder);
        const RCPtr<LLayoutDescriptor>& childLayout = child->GetLayout();
        if (childLayout && (childLayout->xIsDocked || childLayout->yIsDocked)) {
            continue;
        }
        const RectL box = child->GetRect().ToLong();
        left = std::min<int64_t>(left, box.x);
        top = std::min<int64_t>(top, box.y);
        right = std::max<int64_t>(right, int64_t{box.x} + box.width);
        bottom = std::max<int64_t>(bottom, int64_t{box.y} + box.height);
    }
    if (left > right || top > bottom) {
        bounds = RectL{0, 0, 0, 0};
        return;
    }
    const auto narrow = [](int64_t value) {
        return static_cast<LongCoord>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    };
    bounds = RectL{narrow(left), narrow(top), narrow(right - left), narrow(bottom - top)};
}

RectD LControl::CalcClientRect()
{
    clientRectCache = GetClientRect(-1);
    clientRectValid = true;
    return clientRectCache;
}

void LControl::OnClientRectChanged()
{
    clientRectValid = false;
}

bool LControl::OnChildRectChanged(const RCPtr<LControl>& child)
{
    const LLayoutDescriptor* childLayout = child ? child->GetLayout().Get() : nullptr;
    const bool docked = childLayout && (childLayout->xIsDocked || childLayout->yIsDocked);
    const bool scrolling = scrollGuardX || scrollGuardY;
    return docked || (!scrolling && !clientRectValid);
}

void LControl::CalcNaturalSize(PointD& size)
{
    size = PointD{rect.width, rect.height};
    if (!layout) {
        return;
    }
    for (int axis = 0; axis < 2; ++axis) {
        AxisPositionSpec position;
        AxisSizeSpec previous;
        layout->GetAxisPlacement(axis, position, previous);
        AxisSizeSpec natural;
        natural.reference = kSizeToSelf;
        natural.rel = 0;
        natural.abs = 0;
        SetAxisLayout(axis, position, natural);
        (axis == 0 ? size.x : size.y) = axis == 0 ? rect.width : rect.height;
        SetAxisLayout(axis, position, previous);
    }
}

void LControl::GetClientBounds(RectD& bounds)
{
    const RectD client = GetClientRect(-1);
    bounds = RectD{0, 0, client.width, client.height};
}

void LControl::GetVisibleClientRect(RectD& visible)
{
    const RectD client = GetClientRect(-1);
    visible = RectD{scrollOffset.x, scrollOffset.y, client.width, client.height};
}

ORVRESULT LControl::OnRelayout(const PointL&)
{
    UpdateLayout();
    return S_OK;
}

ORVRESULT LControl::OnParentRectChanged(const RCPtr<LControl>& child)
{
    if (!layoutSuspended) {
        UpdateLayout();
    }
    OnChildRectChanged(child);
    return S_OK;
}

}  // namespace Orv
