// How a control reports what must be painted again: rectangles travel up the tree, cut to each
// clipping ancestor's box, to the root window's dirty region; and the flags whose change alters
// what shows (visibility, clipping to the parent).

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

namespace {

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

// Where a child's content coordinates start in its parent's local coordinates.
PointD ContentOrigin(const LControl& parent, const PointD& scroll)
{
    const RectD client = parent.GetClientRect(-1);
    return {client.x - scroll.x, client.y - scroll.y};
}

}  // namespace

PointD LControl::GetWindowOrigin()
{
    PointD origin{0, 0};
    for (LControl* at = this; at->parent; at = at->parent.Get()) {
        const PointD content = ContentOrigin(*at->parent, at->parent->scrollOffset);
        origin.x += at->rect.x + content.x;
        origin.y += at->rect.y + content.y;
    }
    return origin;
}

ORVRESULT LControl::Invalidate(const RectD& windowRect, bool clip, const RectD& clipRect)
{
    if (!IsVisible(false)) {
        return 1;
    }
    RectD cut = clipRect;
    if (clip && ClipsToParent(*this)) {
        RectD bounds{0, 0, rect.width, rect.height};
        if (parent) {
            const PointD content = ContentOrigin(*parent, parent->scrollOffset);
            const PointD position{rect.x + content.x, rect.y + content.y};
            bounds = RectD{-position.x, -position.y, parent->rect.width, parent->rect.height};
        } else if (rootWindow) {
            const PointL size = rootWindow->GetClientSize();
            bounds = RectD{0, 0, LongToDouble(size.x), LongToDouble(size.y)};
        }
        if (!RectD::Intersect(cut, cut, bounds)) {
            return 1;
        }
    } else {
        // An overlay control paints over its ancestors: they do not cut what it repaints.
        clip = false;
    }
    if (parent) {
        const PointD content = ContentOrigin(*parent, parent->scrollOffset);
        cut.x += rect.x + content.x;
        cut.y += rect.y + content.y;
        return parent->Invalidate(windowRect, clip, cut);
    }
    if (!rootWindow) {
        return S_OK;
    }
    RectD area = windowRect;
    if (clip && !RectD::Intersect(area, windowRect, cut)) {
        return S_OK;
    }
    area.RoundEdges();
    rootWindow->InvalidateRect(area.ToLong());
    return S_OK;
}

ORVRESULT LControl::InvalidateRect(const RectD& localRect, bool clip)
{
    const PointD origin = GetWindowOrigin();
    const RectD windowRect{localRect.x + origin.x, localRect.y + origin.y, localRect.width,
                           localRect.height};
    return Invalidate(windowRect, clip, localRect);
}

void LControl::InvalidateOverlays()
{
    if (nonClippingDescendants < 1) {
        if (!ClipsToParent(*this)) {
            InvalidateRect(RectD{0, 0, rect.width, rect.height}, false);
        }
        return;
    }
    RCPtrArray<LControl> overlays;
    CollectOverlayControls(overlays, true, true);
    for (uint32_t index = 0; index < overlays.GetCount(); ++index) {
        LControl& overlay = *overlays.GetData()[index];
        overlay.InvalidateRect(RectD{0, 0, overlay.rect.width, overlay.rect.height},
                               ClipsToParent(overlay));
    }
}

bool LControl::SetClipToParent(bool clip)
{
    if (clip == ClipsToParent(*this)) {
        return clip;
    }
    const RectD box{0, 0, rect.width, rect.height};
    if (clip) {
        // The area it covered as an overlay goes.
        InvalidateRect(box, false);
    }
    if (!layout) {
        layout = RCPtr<LLayoutDescriptor>(new LLayoutDescriptor());
    }
    layout->clipToParent = clip;
    if (parent) {
        parent->children.MarkChanged();
        parent->AddNonClippingDescendants(clip ? -1 : 1);
    }
    if (!clip) {
        InvalidateRect(box, false);
    }
    return clip;
}

bool LControl::SetVisible(bool visible)
{
    const bool current = !layout || layout->isVisible;
    if (visible != current) {
        const RectD box{0, 0, rect.width, rect.height};
        if (!visible) {
            InvalidateRect(box, ClipsToParent(*this));
            InvalidateOverlays();
        }
        if (!layout) {
            layout = RCPtr<LLayoutDescriptor>(new LLayoutDescriptor());
        }
        layout->isVisible = visible;
        // The focus follows: to a control shown inside a parent that holds it, and away from a
        // control hidden while it holds it.
        const RCPtr<LControl> self = HoldSelf();
        const RCPtr<LControl> holder = parent;
        if (visible) {
            if (holder && holder->hasFocus && (IsFocusTarget() || CanTakeFocus())) {
                SetFocus(true);
            }
            InvalidateRect(box, ClipsToParent(*this));
            InvalidateOverlays();
        } else if (holder && (hasFocus || containsFocus)) {
            holder->SetFocus(true);
        }
        UpdateConditions();
    }
    return IsVisible(true);
}

bool LControl::IsVisible(bool recursive) const
{
    for (const LControl* at = this; at != nullptr; at = at->parent.Get()) {
        const bool flag = !at->layout || at->layout->isVisible;
        if (!flag || !(at->rect.width > 0) || !(at->rect.height > 0)) {
            return false;
        }
        if (!recursive) {
            break;
        }
    }
    return true;
}

}  // namespace Orv
