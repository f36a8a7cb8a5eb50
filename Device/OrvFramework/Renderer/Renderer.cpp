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
    // A frame at no place (NaN, endless) shows nothing, and must not move the origin: PopClip
    // could not subtract such an offset again.
    const bool placed = std::isfinite(shift.x) && std::isfinite(shift.y);
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
        newClip = {std::isfinite(newClip.x) ? std::floor(newClip.x) : 0.0,
                   std::isfinite(newClip.y) ? std::floor(newClip.y) : 0.0, 0.0, 0.0};
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
