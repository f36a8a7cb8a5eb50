#include "Renderer/Renderer.h"

#include <algorithm>
#include <cmath>

#include "ObjectBase/Exception.h"

namespace Orv {

LRenderer::~LRenderer() = default;

LRenderContextInfo* LRenderer::GetCurrentContext() const
{
    return contextStack.empty() ? nullptr
                                : const_cast<LRenderContextInfo*>(contextStack.back().Get());
}

RenderState* LRenderer::GetCurrentState() const
{
    LRenderContextInfo* context = GetCurrentContext();
    return context != nullptr ? &context->GetCurrentState() : nullptr;
}

ORVRESULT LRenderer::SetViewport(const RectT<LongCoord>& viewport)
{
    if (LRenderContextInfo* context = GetCurrentContext()) {
        context->SetViewport(viewport);
    }
    return S_OK;
}

ORVRESULT LRenderer::SetStencil(const ConstRCPtr<LStencil>& stencil)
{
    if (RenderState* state = GetCurrentState(); state != nullptr && state->stencil != stencil) {
        state->stencil = stencil;
    }
    return S_OK;
}

ORVRESULT LRenderer::RenderStart(const RCPtr<LRenderContextInfo>& context)
{
    if (context.IsNull()) {
        ORV_THROW_DETAIL(RuntimeError, "Render context is NULL");
    }
    if (std::find(contextStack.begin(), contextStack.end(), context) != contextStack.end()) {
        ORV_THROW_DETAIL(RuntimeError, "Render context reentered.");
    }
    contextStack.push_back(context);
    return S_OK;
}

ORVRESULT LRenderer::RenderFinish(const RCPtr<LRenderContextInfo>& context)
{
    if (contextStack.empty() || contextStack.back() != context) {
        ORV_THROW_DETAIL(RuntimeError, "RenderFinish context does not match RenderStart context");
    }
    contextStack.pop_back();
    return S_OK;
}

namespace {

constexpr double kPlaceLimit = 4503599627370496.0;  // 2^52

// Whole offsets add and subtract exactly below 2^53. An origin moved past 2^52 (or to NaN, or
// without end) lies on no surface, and PopClip could not move it back exactly: the rest of the
// paint would land beside its place.
bool CanMoveOrigin(const RenderState& state, const PointT<double>& shift)
{
    return std::fabs(state.offsetX + shift.x) <= kPlaceLimit &&
           std::fabs(state.offsetY + shift.y) <= kPlaceLimit;  // false for NaN
}

// A clip that shows nothing, at the whole pixel of the given corner where it has one. Its
// extent is zero, never negative: a negative one would be turned around into a real area.
RectT<double> EmptyClipAt(const RectT<double>& corner)
{
    return {std::isfinite(corner.x) ? std::floor(corner.x) : 0.0,
            std::isfinite(corner.y) ? std::floor(corner.y) : 0.0, 0.0, 0.0};
}

}  // namespace

void LRenderer::SaveState()
{
    LRenderContextInfo* context = GetCurrentContext();
    context->GetSavedStates().push_back(context->GetCurrentState());
}

void LRenderer::PushClip(const PointT<double>& originShift)
{
    LRenderContextInfo* context = GetCurrentContext();
    if (context == nullptr || context->GetSavedStates().empty()) {
        return;
    }
    SaveState();
    PointT<double> shift = originShift;
    shift.Round();
    if (!CanMoveOrigin(context->GetCurrentState(), shift)) {
        // Drawing meant for no place shows nowhere, rather than at the unmoved origin.
        SetClipRect(EmptyClipAt(context->GetCurrentState().GetClipRect()));
        return;
    }
    Translate(shift);
    RenderState& state = context->GetCurrentState();
    state.clipX -= shift.x;
    state.clipY -= shift.y;
}

void LRenderer::PushClip(const RectT<double>& frame, const RectT<double>& clip,
                         const ConstRCPtr<LStencil>& stencil, bool relative)
{
    LRenderContextInfo* context = GetCurrentContext();
    if (context == nullptr) {
        return;
    }
    PointT<double> shift{frame.x, frame.y};
    if (!relative) {
        shift.x -= context->GetCurrentState().offsetX;
        shift.y -= context->GetCurrentState().offsetY;
    }
    shift.Round();
    // A frame at no place shows nothing and leaves the origin where it is.
    const bool placed = CanMoveOrigin(context->GetCurrentState(), shift);
    if (!placed) {
        shift = {0.0, 0.0};
    }
    SaveState();

    RectT<double> newClip = clip;
    bool visible = placed;
    if (relative) {
        visible = RectT<double>::Intersect(newClip, newClip, frame) && visible;
        visible =
            RectT<double>::Intersect(newClip, newClip, context->GetCurrentState().GetClipRect()) &&
            visible;
    }
    if (visible) {
        newClip.SnapToPixels();
        visible = std::isfinite(newClip.x) && std::isfinite(newClip.y) &&
                  std::isfinite(newClip.width) && std::isfinite(newClip.height);
    }
    if (!visible) {
        // Disjoint rectangles leave a negative extent, which snapping would turn around into
        // the gap between them: a child scrolled out of its parent would paint there.
        newClip = EmptyClipAt(newClip);
    }
    SetClipRect(newClip);
    Translate(shift);
    RenderState& state = context->GetCurrentState();
    if (relative) {
        state.clipX -= shift.x;
        state.clipY -= shift.y;
    }
    if (!stencil.IsNull()) {
        if (state.stencilActive) {
            SetStencil(LStencil::CreateSameSize(*stencil));
        } else {
            SetStencil(stencil);
            state.stencilActive = true;
        }
    }
}

void LRenderer::PushClip()
{
    if (GetCurrentContext() != nullptr) {
        SaveState();
    }
}

void LRenderer::PopClip()
{
    LRenderContextInfo* context = GetCurrentContext();
    if (context == nullptr || context->GetSavedStates().empty()) {
        return;
    }
    const RenderState saved = context->GetSavedStates().back();
    context->GetSavedStates().pop_back();
    const RenderState& current = context->GetCurrentState();
    Translate({saved.offsetX - current.offsetX, saved.offsetY - current.offsetY});
    context->GetCurrentState().alpha = saved.alpha;
    SetClipRect(saved.GetClipRect());
    SetStencil(saved.stencil);
    context->GetCurrentState().stencilActive = saved.stencilActive;
}

void LRenderer::SetClipRect(const RectT<double>& clip)
{
    if (RenderState* state = GetCurrentState()) {
        state->clipX = clip.x;
        state->clipY = clip.y;
        state->clipWidth = clip.width;
        state->clipHeight = clip.height;
    }
}

void LRenderer::Translate(const PointT<double>& delta)
{
    if (RenderState* state = GetCurrentState()) {
        state->offsetX += delta.x;
        state->offsetY += delta.y;
    }
}

namespace {

const RCPtr<LRenderer>& Required(const RCPtr<LRenderer>& renderer)
{
    if (renderer.IsNull()) {
        ORV_THROW_NULL_POINTER("renderer");
    }
    return renderer;
}

}  // namespace

CAutoClip::CAutoClip(const RCPtr<LRenderer>& renderer, const PushClipParams& params)
    : renderer(Required(renderer))
{
    switch (params.flavor) {
        case 0:
            this->renderer->PushClip();
            break;
        case 1:
            this->renderer->PushClip(params.frame, params.clip, params.stencil, params.relative);
            break;
        case 2:
            this->renderer->PushClip(params.originShift);
            break;
        default:
            ORV_THROW_DETAIL(RuntimeError, "Unknown PushClip flavor");
    }
}

CAutoClip::CAutoClip(const RCPtr<LRenderer>& renderer, const RectT<double>& frame,
                     const RectT<double>& clip, const ConstRCPtr<LStencil>& stencil)
    : renderer(Required(renderer))
{
    this->renderer->PushClip(frame, clip, stencil, true);
}

CAutoClip::CAutoClip(const RCPtr<LRenderer>& renderer) : renderer(Required(renderer))
{
    this->renderer->PushClip();
}

CAutoClip::~CAutoClip()
{
    renderer->PopClip();
}

}  // namespace Orv
