// The drag engine: a left drag moves the control (freely as drag and drop, or within the
// parent's visible area), resizes it by the edges its flags name, or scrolls its own content.
// Steps change the layout's absolute values only, so the layout engine still applies docking and
// the size limits. Near an edge of the visible area the parent (or the drop target) scrolls by
// kinetic motion, and each scroll step drags the control along.

#include <algorithm>
#include <climits>
#include <cmath>

#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

namespace {

constexpr double kCoordinateLimit = 4503599627370496.0;  // 2^52
constexpr double kAutoScrollBand = 30.0;
constexpr double kAutoScrollSpeed = 15.0;  // pixels per second per pixel of depth, plus one

double ClampCoordinate(double value)
{
    return std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

bool DockedOn(const LControl& control, int axis)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout && (axis == 0 ? layout->xIsDocked : layout->yIsDocked);
}

double Along(const PointD& point, int axis)
{
    return axis == 0 ? point.x : point.y;
}

double& Along(PointD& point, int axis)
{
    return axis == 0 ? point.x : point.y;
}

// One axis's scroll range of a rectangle: its near edge to its far edge.
void RangeOn(const RectD& range, int axis, double& low, double& high)
{
    low = axis == 0 ? range.x : range.y;
    high = low + (axis == 0 ? range.width : range.height);
}

// The auto-scroll wanted on one axis: a direction (-1, 0, +1) and its depth in pixels.
struct AutoScroll
{
    int direction = 0;
    double depth = 0;
};

void Collect(const RCPtr<LControl>& control, RCPtrArray<LControl>& list)
{
    list.InsertItem(list.GetCount(), control);
    for (uint32_t index = 0; index < control->GetChildren().GetCount(); ++index) {
        Collect(control->GetChildren().GetAt(index, LControl::ChildControlList::kInsertionOrder),
                list);
    }
}

bool Contains(const RCPtrArray<LControl>& list, const LControl* control)
{
    for (uint32_t index = 0; index < list.GetCount(); ++index) {
        if (list.GetData()[index].Get() == control) {
            return true;
        }
    }
    return false;
}

}  // namespace

void LControl::SetDragInput(const PointD& press, bool leftDragActive)
{
    pressPoint = press;
    leftDrag = leftDragActive;
}

void LControl::RecordMoveTime(int32_t milliseconds)
{
    previousMoveTime = moveTime;
    moveTime = milliseconds;
}

RCPtr<LControl> LControl::HitTestWindow(const PointD& windowPoint)
{
    const RCPtr<LControl> top = GetTopLevelControl();
    const PointL point{
        RoundToLong(ClampCoordinate(windowPoint.x) - RoundHalfAwayFromZero(top->rect.x)),
        RoundToLong(ClampCoordinate(windowPoint.y) - RoundHalfAwayFromZero(top->rect.y))};
    RCPtr<LControl> found;
    PointL local;
    const RCPtr<LRootWindow> window = top->rootWindow;
    if (window && window->GetRootControl().Get() == top.Get()) {
        // The window's hit test takes client points: the root control's origin counted back.
        const PointL client{RoundToLong(ClampCoordinate(windowPoint.x)),
                            RoundToLong(ClampCoordinate(windowPoint.y))};
        window->HitTest(found, client, local, false);
        return found;
    }
    int32_t layer = INT_MIN;
    top->HitTest(found, point, true, local, layer);
    return found;
}

ORVRESULT LControl::BeginDragGeometry()
{
    const RCPtr<LControl> self(this);
    const PointD parentScroll = parent ? parent->scrollOffset : PointD{0, 0};
    if (leftDrag) {
        dragStartSize = PointD{rect.width, rect.height};
        dragStartParentScroll = parentScroll;
    }
    if (dragMode == 1) {
        dropTarget = nullptr;
        restoreClip = !ClipsToParent(*this);
        SetClipToParent(false);
        xWasDocked = true;
        yWasDocked = true;
        for (int axis = 0; axis < 2 && layout; ++axis) {
            AxisPositionSpec position;
            AxisSizeSpec size;
            layout->GetAxisPlacement(axis, position, size);
            if (position.docked) {
                continue;
            }
            (axis == 0 ? xWasDocked : yWasDocked) = false;
            // Docked, the control stays under the pointer while the parent scrolls.
            position.docked = true;
            position.abs = (axis == 0 ? rect.x : rect.y) - Along(parentScroll, axis);
            SetAxisLayout(axis, position, size);
        }
    }
    TakeDragOrigin();
    return S_OK;
}

void LControl::TakeDragOrigin()
{
    if (!layout) {
        return;
    }
    dragOriginXPositionAbs = layout->xPosition.abs;
    dragOriginYPositionAbs = layout->yPosition.abs;
    dragOriginXSizeAbs = layout->xSize.abs;
    dragOriginYSizeAbs = layout->ySize.abs;
}

ORVRESULT LControl::RebaseDrag()
{
    pressPoint.x += dragPosition.x;
    pressPoint.y += dragPosition.y;
    dragStartSize = PointD{rect.width, rect.height};
    dragStartParentScroll = parent ? parent->scrollOffset : PointD{0, 0};
    TakeDragOrigin();
    return S_OK;
}

ORVRESULT LControl::DragTo(const RCPtr<LPointWithModifiersParam>& point)
{
    if (!point) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    DragToPoint(PointD{static_cast<double>(point->x), static_cast<double>(point->y)});
    inDragStep = true;
    OnDragMoved(point);
    inDragStep = false;
    return S_OK;
}

ORVRESULT LControl::DragToPoint(const PointD& local)
{
    const RCPtr<LControl> self(this);
    inDragStep = true;
    const PointD origin = GetWindowOrigin();
    const PointD windowPointer{ClampCoordinate(local.x + origin.x),
                               ClampCoordinate(local.y + origin.y)};
    PointD displacement{ClampCoordinate(rect.x + local.x) - ClampCoordinate(pressPoint.x),
                        ClampCoordinate(rect.y + local.y) - ClampCoordinate(pressPoint.y)};
    AutoScroll scroll[2];

    if (dragMode >= 2 && dragMode <= 6 && parent) {
        RectD visible;
        parent->GetClientBounds(visible);
        visible.x += parent->scrollOffset.x;
        visible.y += parent->scrollOffset.y;
        GetDragRange(visible);
        for (int axis = 0; axis < 2; ++axis) {
            const double press = Along(pressPoint, axis);
            const double edgeLow = axis == 0 ? visible.x : visible.y;
            const double edgeHigh = edgeLow + (axis == 0 ? visible.width : visible.height);
            double low = edgeLow - press;
            double high = edgeHigh - press;
            const double startExtent = Along(dragStartSize, axis);
            if (dragMode == 4 || dragMode == 5) {
                const uint32_t farEdge = axis == 0 ? 0x4u : 0x20u;
                const uint32_t nearEdge = axis == 0 ? 0x8u : 0x10u;
                if (dragFlags & farEdge) {
                    low = std::max(low, 1 - startExtent);
                }
                if (dragFlags & nearEdge) {
                    high = std::min(high, startExtent - 1);
                }
            }
            double& moved = Along(displacement, axis);
            if (dragMode == 3 || dragMode == 5) {
                const uint32_t allows = axis == 0 ? 0xDu : 0x32u;
                const double pointer = press + moved;
                const bool nearFar = edgeHigh - pointer < pointer - edgeLow;
                // The band narrows by as far as the allowed range ends inside the visible area.
                if (nearFar) {
                    const double band = std::clamp(kAutoScrollBand - (edgeHigh - press - high), 0.0,
                                                   kAutoScrollBand);
                    if (band > 0 && moved > high - band && (dragFlags & allows)) {
                        scroll[axis] = AutoScroll{1, moved - (high - band)};
                    }
                } else {
                    const double band = std::clamp(kAutoScrollBand - (low - (edgeLow - press)), 0.0,
                                                   kAutoScrollBand);
                    if (band > 0 && moved < low + band && (dragFlags & allows)) {
                        scroll[axis] = AutoScroll{-1, (low + band) - moved};
                    }
                }
            }
            if (dragMode < 6) {
                const double clamped = std::clamp(moved, std::min(low, high), high);
                if (clamped != moved) {
                    scroll[axis] = AutoScroll{};
                }
                moved = clamped;
            }
        }
    }
    if (dragMode < 6) {
        dragPosition = displacement;
    }

    const PointD parentScroll = parent ? parent->scrollOffset : PointD{0, 0};
    if (dragMode == 6) {
        const double dt = static_cast<double>(moveTime - previousMoveTime) / 1000.0;
        if (dt > 0) {
            RectD range;
            GetScrollRange(range, self);
            PointD offset = scrollOffset;
            bool moves = false;
            for (int axis = 0; axis < 2; ++axis) {
                const double delta = Along(dragPosition, axis) - Along(displacement, axis);
                double velocity = delta / dt;
                const double previous = Along(smoothedVelocity, axis);
                if (previous != 0 && dt < 0.2) {
                    velocity = velocity * 0.5 + previous * 0.5;
                }
                Along(smoothedVelocity, axis) = velocity;
                const uint32_t enables = axis == 0 ? 1u : 2u;
                if ((dragFlags & 3u) == 3u || (dragFlags & 3u) == enables) {
                    if (delta != 0) {
                        double low = 0;
                        double high = 0;
                        RangeOn(range, axis, low, high);
                        Along(offset, axis) =
                            std::clamp(Along(offset, axis) + delta, std::min(low, high), high);
                        moves = true;
                    }
                }
            }
            if (moves) {
                SetScrollOffset(offset);
            }
        }
        dragPosition = displacement;
    } else if ((dragMode == 4 || dragMode == 5) && layout) {
        for (int axis = 0; axis < 2; ++axis) {
            const uint32_t farEdge = axis == 0 ? 0x4u : 0x20u;
            const uint32_t nearEdge = axis == 0 ? 0x8u : 0x10u;
            if (!(dragFlags & (farEdge | nearEdge))) {
                continue;
            }
            AxisPositionSpec position;
            AxisSizeSpec size;
            layout->GetAxisPlacement(axis, position, size);
            const double moved = Along(displacement, axis);
            const double sizeOrigin = axis == 0 ? dragOriginXSizeAbs : dragOriginYSizeAbs;
            const double positionOrigin =
                axis == 0 ? dragOriginXPositionAbs : dragOriginYPositionAbs;
            const double shift = DockedOn(*this, axis) ? Along(parentScroll, axis) -
                                                             Along(dragStartParentScroll, axis)
                                                       : 0.0;
            if (dragFlags & farEdge) {
                size.abs = sizeOrigin + moved;
            } else {
                position.abs = positionOrigin + moved - shift;
                size.abs = sizeOrigin - moved;
            }
            SetAxisLayout(axis, position, size);
        }
    } else if (dragMode >= 1 && dragMode <= 3 && layout) {
        for (int axis = 0; axis < 2; ++axis) {
            if (!(dragFlags & (axis == 0 ? 1u : 2u))) {
                continue;
            }
            AxisPositionSpec position;
            AxisSizeSpec size;
            layout->GetAxisPlacement(axis, position, size);
            const double positionOrigin =
                axis == 0 ? dragOriginXPositionAbs : dragOriginYPositionAbs;
            const double shift = DockedOn(*this, axis) ? Along(parentScroll, axis) -
                                                             Along(dragStartParentScroll, axis)
                                                       : 0.0;
            position.abs = positionOrigin + Along(displacement, axis) - shift;
            SetAxisLayout(axis, position, size);
        }
    }

    if (dragMode == 1) {
        const bool wasExcluded = excludedFromHitTest;
        excludedFromHitTest = true;
        const RCPtr<LControl> found = HitTestWindow(windowPointer);
        excludedFromHitTest = wasExcluded;
        const RCPtr<LControl> target = found ? found->FindDropTarget(self, windowPointer) : nullptr;
        if (target.Get() != dropTarget.Get()) {
            if (const RCPtr<LControl> old = dropTarget) {
                old->StopKineticMotion(0);
                old->StopKineticMotion(1);
                old->OnDragLeave(self);
            }
            dropTarget = target;
            if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
                window->SetCursor(
                    LoadAppCursor(target ? u"UI_CURSOR_DROP_MOVE" : u"UI_CURSOR_NO_DROP"));
            }
            if (target) {
                target->OnDragEnter(self);
            }
        }
        if (target) {
            target->OnDragOver(self, windowPointer);
            const uint32_t edges = target->GetDropAutoScrollEdges(self);
            const PointD at = target->GetWindowOrigin();
            const RectD client = target->GetClientRect(-1);
            const PointD pointer{windowPointer.x - at.x, windowPointer.y - at.y};
            for (int axis = 0; axis < 2; ++axis) {
                const double p = Along(pointer, axis);
                const double low = axis == 0 ? client.x : client.y;
                const double high = low + (axis == 0 ? client.width : client.height);
                const uint32_t farEdge = axis == 0 ? 0x4u : 0x20u;
                const uint32_t nearEdge = axis == 0 ? 0x8u : 0x10u;
                if ((edges & farEdge) && p > high - kAutoScrollBand) {
                    scroll[axis] = AutoScroll{1, p - (high - kAutoScrollBand)};
                } else if ((edges & nearEdge) && p < low + kAutoScrollBand) {
                    scroll[axis] = AutoScroll{-1, (low + kAutoScrollBand) - p};
                }
            }
        }
    }

    if (dragMode == 1 || dragMode == 3 || dragMode == 5) {
        const RCPtr<LControl> scrolled = dragMode == 1 ? dropTarget : parent;
        if (scrolled) {
            RectD range;
            scrolled->GetScrollRange(range, self);
            for (int axis = 0; axis < 2; ++axis) {
                if (scroll[axis].direction == 0) {
                    scrolled->StopKineticMotion(axis);
                    continue;
                }
                double low = 0;
                double high = 0;
                RangeOn(range, axis, low, high);
                const double velocity =
                    (scroll[axis].depth + 1) * kAutoScrollSpeed * scroll[axis].direction;
                scrolled->StartKineticMotion(axis, velocity, low, high, self);
            }
        }
    }

    inDragStep = false;
    return S_OK;
}

ORVRESULT LControl::EndDrag()
{
    const RCPtr<LControl> self(this);
    if (dragMode != 1) {
        if (const RCPtr<LControl> owner = parent) {
            owner->StopKineticMotion(0);
            owner->StopKineticMotion(1);
        }
        return S_OK;
    }
    if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        window->SetCursor(nullptr);  // the application's default
    }
    if (!restoreClip) {
        SetClipToParent(true);
    }
    const PointD parentScroll = parent ? parent->scrollOffset : PointD{0, 0};
    for (int axis = 0; axis < 2 && layout; ++axis) {
        if (axis == 0 ? xWasDocked : yWasDocked) {
            continue;
        }
        AxisPositionSpec position;
        AxisSizeSpec size;
        layout->GetAxisPlacement(axis, position, size);
        position.docked = false;
        position.abs += Along(parentScroll, axis);
        SetAxisLayout(axis, position, size);
    }
    xWasDocked = true;
    yWasDocked = true;
    if (const RCPtr<LControl> target = dropTarget) {
        target->StopKineticMotion(0);
        target->StopKineticMotion(1);
        target->OnDrop(self);
        target->OnDragLeave(self);
        dropTarget = nullptr;
    }
    return S_OK;
}

RCPtr<LControl> LControl::FindDropTarget(const RCPtr<LControl>& dragged, const PointD& windowPoint)
{
    RCPtr<LControl> current(this);
    RCPtrArray<LControl> tried;
    while (current && !current->AcceptsDrop(dragged)) {
        if (ClipsToParent(*current)) {
            current = current->parent;
            continue;
        }
        // An overlay (a pop-up): look beneath its subtree.
        if (Contains(tried, current.Get())) {
            return RCPtr<LControl>();
        }
        const uint32_t first = tried.GetCount();
        Collect(current, tried);
        if (dragged) {
            tried.InsertItem(tried.GetCount(), dragged);
        }
        Array<uint8_t> saved;
        for (uint32_t index = first; index < tried.GetCount(); ++index) {
            saved.InsertItem(saved.GetCount(), tried.GetData()[index]->excludedFromHitTest ? 1 : 0);
            tried.GetData()[index]->excludedFromHitTest = true;
        }
        const PointD rounded{RoundHalfAwayFromZero(windowPoint.x),
                             RoundHalfAwayFromZero(windowPoint.y)};
        const RCPtr<LControl> found = HitTestWindow(rounded);
        for (uint32_t index = first; index < tried.GetCount(); ++index) {
            tried.GetData()[index]->excludedFromHitTest = saved.GetAt(index - first) != 0;
        }
        if (dragged) {
            tried.RemoveItems(tried.GetCount() - 1, 1);
        }
        if (!found || Contains(tried, found.Get())) {
            return RCPtr<LControl>();
        }
        current = found;
    }
    return current;
}

}  // namespace Orv
