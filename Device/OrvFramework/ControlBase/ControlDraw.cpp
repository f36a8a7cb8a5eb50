// How a control paints itself and its subtree: looks by weight, the hooks once per dirty
// rectangle, the children through each look in their clip groups, and the overlay controls left
// for the pass after the tree.

#include <algorithm>
#include <optional>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/RectRegion.h"
#include "Renderer/Renderer.h"

namespace Orv {

namespace {

bool ClipsToParent(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return !layout || layout->clipToParent;
}

int32_t DockedAxes(const LControl& control)
{
    const RCPtr<LLayoutDescriptor>& layout = control.GetLayout();
    return layout ? int32_t{layout->xIsDocked} + int32_t{layout->yIsDocked} : 0;
}

bool HasArea(const RectD& rect)
{
    return rect.width > kAreaEpsilon<double> && rect.height > kAreaEpsilon<double>;
}

// Every dirty rectangle in local coordinates, cut to the renderer's clip; the hook runs clipped
// to each that remains.
template <class Hook>
void ForEachDirtyRect(LRenderer& renderer, const RCPtr<LRenderer>& counted, const RectRegion& dirty,
                      const RectD& box, Hook&& hook)
{
    for (const RectNode* node = dirty.GetFirst(); node != nullptr; node = node->next) {
        const RenderState* state = renderer.GetCurrentState();
        if (state == nullptr) {
            return;
        }
        const PointD offset = state->GetOffset();
        const RectD local{static_cast<double>(node->left) - offset.x,
                          static_cast<double>(node->top) - offset.y,
                          static_cast<double>(node->right) - static_cast<double>(node->left),
                          static_cast<double>(node->bottom) - static_cast<double>(node->top)};
        RectD area;
        if (!RectD::Intersect(area, local, state->GetClipRect())) {
            continue;
        }
        CAutoClip clip(counted, box, area, ConstRCPtr<LStencil>());
        hook();
    }
}

void ScaleAlpha(LRenderer& renderer, float factor)
{
    if (RenderState* state = renderer.GetCurrentState()) {
        state->alpha *= factor;
    }
}

}  // namespace

ORVRESULT LControl::Draw(LRenderer& renderer, const RectRegion& dirty,
                         RCPtrArray<LControl>& overlays, bool overlayPass)
{
    const bool clipToParent = ClipsToParent(*this);
    if (overlayPass == clipToParent) {
        return E_INVALIDARG;
    }
    // A control without area draws nothing, but the overlay controls below it still show.
    if (layout && !layout->isVisible) {
        return S_OK;
    }
    const RenderState* state = renderer.GetCurrentState();
    if (state == nullptr) {
        return S_OK;
    }
    RectD extent = rect;
    if (!overlayPass) {
        RectD::Intersect(extent, rect, state->GetClipRect());
    }
    if (!HasArea(extent) || !(rect.width > 0) || !(rect.height > 0)) {
        if (nonClippingDescendants > 0) {
            CollectOverlayControls(overlays, true, false);
        }
        return S_OK;
    }

    const RCPtr<LRenderer> counted(&renderer);
    RectD frame = rect;
    frame.RoundEdges();
    CAutoClip controlClip(counted, frame, extent, ConstRCPtr<LStencil>());
    ScaleAlpha(renderer, opacity);

    const RectD box{0, 0, rect.width, rect.height};
    state = renderer.GetCurrentState();
    if (!dirty.IntersectsArea(box, state->GetOffset())) {
        if (nonClippingDescendants > 0) {
            CollectOverlayControls(overlays, true, false);
        }
        return S_OK;
    }

    // Every look with weight is drawn with its alpha scaled by the weight, so looks blend while
    // one replaces another. A weighted slot without look still carries the children.
    const uint32_t lookCount = std::min(looks.GetCount(), lookWeights.GetCount());
    auto forWeightedLooks = [&](bool needLook, auto&& step) {
        for (uint32_t index = 0; index < lookCount; ++index) {
            const RCPtr<LLook>& look = looks.GetData()[index];
            const float weight = lookWeights.GetAt(index);
            if ((needLook && !look) || !(weight > 0.0f)) {
                continue;
            }
            CAutoClip save(counted);
            ScaleAlpha(renderer, weight);
            step(index, look);
        }
    };

    forWeightedLooks(
        true, [&](uint32_t, const RCPtr<LLook>& look) { look->DrawClientPart(counted, dirty); });
    forWeightedLooks(true, [&](uint32_t, const RCPtr<LLook>& look) {
        look->DrawNonClientParts(counted, dirty);
    });
    ForEachDirtyRect(renderer, counted, dirty, box, [&] { DrawContentHook(renderer); });
    const PointD textOrigin = labelFollowsScroll ? scrollOffset : PointD{0, 0};
    forWeightedLooks(false, [&](uint32_t index, const RCPtr<LLook>& look) {
        if (look) {
            look->DrawLabelText(counted, dirty, textOrigin);
        }
        if (children.GetCount() > 0) {
            DrawChildrenThroughLook(renderer, counted, static_cast<int32_t>(index), dirty,
                                    overlays);
        }
    });
    ForEachDirtyRect(renderer, counted, dirty, box, [&] { DrawOverlayHook(renderer); });

    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kPaintOrder);
        if (!ClipsToParent(*child) && child->IsVisible(false)) {
            overlays.AddItem(child);
        }
    }
    return S_OK;
}

void LControl::DrawChildrenThroughLook(LRenderer& renderer, const RCPtr<LRenderer>& counted,
                                       int32_t lookIndex, const RectRegion& dirty,
                                       RCPtrArray<LControl>& overlays)
{
    const RCPtr<LLook> look = (lookIndex >= 0) ? GetLook(lookIndex) : RCPtr<LLook>();
    const RectD client =
        look ? look->GetClientRect().ToDouble() : RectD{0, 0, rect.width, rect.height};
    const ConstRCPtr<LStencil> stencil = look ? look->GetStencil() : ConstRCPtr<LStencil>();
    const RectD contentFrame{client.x - scrollOffset.x, client.y - scrollOffset.y,
                             client.width + scrollOffset.x, client.height + scrollOffset.y};

    const uint32_t count = children.GetCount();
    uint32_t index = 0;
    // Content children, then those docked on one axis: one clip to the client part per group.
    for (int32_t docked = 0; docked < 2; ++docked) {
        const RenderState* state = renderer.GetCurrentState();
        RectD visible;
        const bool shown =
            state != nullptr && RectD::Intersect(visible, client, state->GetClipRect());
        std::optional<CAutoClip> groupClip;
        for (; index < count; ++index) {
            const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kPaintOrder);
            if (!ClipsToParent(*child) || DockedAxes(*child) != docked) {
                break;
            }
            if (!shown) {
                if (child->nonClippingDescendants > 0) {
                    child->CollectOverlayControls(overlays, true, false);
                }
                continue;
            }
            if (!groupClip) {
                groupClip.emplace(counted, PushClipParams::Clip(contentFrame, client, stencil));
            }
            child->Draw(renderer, dirty, overlays, false);
        }
    }
    // Docked on both axes: not clipped to the client part, they may draw over the edges.
    std::optional<CAutoClip> shift;
    for (; index < count; ++index) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kPaintOrder);
        if (!ClipsToParent(*child) || DockedAxes(*child) != 2) {
            break;
        }
        if (!shift) {
            PushClipParams params;
            params.flavor = 2;
            params.originShift = PointD{contentFrame.x, contentFrame.y};
            shift.emplace(counted, params);
        }
        child->Draw(renderer, dirty, overlays, false);
    }
}

int32_t LControl::CollectOverlayControls(RCPtrArray<LControl>& list, bool check, bool includeSelf)
{
    int32_t appended = 0;
    if (!ClipsToParent(*this)) {
        if (check && !IsVisible(false)) {
            return 0;
        }
        if (includeSelf) {
            list.AddItem(RCPtr<LControl>(this));
            ++appended;
        }
    }
    // A hidden subtree shows none of its overlay controls.
    if (check && layout && !layout->isVisible) {
        return appended;
    }
    for (uint32_t index = 0; index < children.GetCount(); ++index) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kPaintOrder);
        // A clipping child without overlay descendants has nothing to give.
        if (ClipsToParent(*child) && child->nonClippingDescendants <= 0) {
            continue;
        }
        appended += child->CollectOverlayControls(list, check, true);
    }
    return appended;
}

}  // namespace Orv
