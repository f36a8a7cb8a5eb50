// Invalidation and the paint pass: dirty rectangles collected under the window lock, then the
// tree drawn clipped to their bounds, overlay controls last in ascending Z order.

#include <algorithm>
#include <cmath>
#include <vector>

#include "ControlBase/Control.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/WindowOSServices.h"
#include "Renderer/RenderContextInfo.h"
#include "Renderer/Renderer.h"

namespace Orv {

namespace {

constexpr double kCoordinateLimit = 4503599627370496.0;  // 2^52

int32_t RoundToInt(double value)
{
    const double rounded = RoundHalfAway(std::clamp(value, -kCoordinateLimit, kCoordinateLimit));
    return static_cast<int32_t>(std::clamp(rounded, -2147483648.0, 2147483647.0));
}

double Clamped(double value)
{
    return std::isnan(value) ? 0.0 : std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

}  // namespace

void LRootWindow::InvalidateRect(const RectL& rect)
{
    const RectL window = GetWindowRect();
    // In 64 bits: x + width may pass the int32 range.
    const int64_t left = std::max<int64_t>(rect.x, 0);
    const int64_t top = std::max<int64_t>(rect.y, 0);
    const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, window.width);
    const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, window.height);
    if (right - left < 1 || bottom - top < 1) {
        return;
    }
    const RectL cut{static_cast<int32_t>(left), static_cast<int32_t>(top),
                    static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
    {
        ScopedLock lock(windowLock);
        dirtyRegion.AddRect(cut.x, cut.y, static_cast<int32_t>(right),
                            static_cast<int32_t>(bottom));
    }
    if (services) {
        services->InvalidateRect(cut);
    }
}

void LRootWindow::InvalidateAll()
{
    const RectL window = GetWindowRect();
    InvalidateRect(RectL{0, 0, window.width, window.height});
    if (services) {
        services->UpdateNow();
    }
}

void LRootWindow::TakeDirtyRegion(RectRegion& out)
{
    const bool whole = fullRepaintPending != 0;
    fullRepaintPending = 0;
    // The host has validated the window before it asks: an OS invalidate now would only bring a
    // second paint.
    const RectL window = whole ? GetWindowRect() : RectL{};
    ScopedLock lock(windowLock);
    if (whole && window.width > 0 && window.height > 0) {
        dirtyRegion.AddRect(0, 0, window.width, window.height);
    }
    out.Clear();
    out.Append(dirtyRegion);
    dirtyRegion.Clear();
}

void LRootWindow::Paint(const RectRegion& region)
{
    const RCPtr<LRootWindow> self(this);
    const RCPtr<LControl> root = rootControl;
    if (!root || region.IsEmpty() || !renderer) {
        return;
    }
    LRenderContextInfo* context = renderer->GetCurrentContext();
    if (context && !context->GetSavedStates().empty()) {
        // Another paint is half-way through this context: draw it whole once that one ends.
        if (services) {
            services->InvalidateAll();
        }
        return;
    }
    const RectD& rootRect = root->GetRect();
    RectD clip = rootRect;
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    if (region.GetBounds(left, top, right, bottom)) {
        clip.x = std::max(rootRect.x, static_cast<double>(left));
        clip.y = std::max(rootRect.y, static_cast<double>(top));
        clip.width = std::min(rootRect.x + rootRect.width, static_cast<double>(right)) - clip.x;
        clip.height = std::min(rootRect.y + rootRect.height, static_cast<double>(bottom)) - clip.y;
    }
    const RectL window = GetWindowRect();
    // The scope pops the clip however the drawing ends.
    CAutoClip scope(renderer,
                    PushClipParams{1,
                                   RectD{0, 0, static_cast<double>(window.width),
                                         static_cast<double>(window.height)},
                                   clip, ConstRCPtr<LStencil>(), false, PointD{0.0, 0.0}});
    RenderTree(root, region, false);
}

void LRootWindow::PaintContext(const RCPtr<LRenderContextInfo>& context, const RectL& update)
{
    const RCPtr<LRootWindow> self(this);
    if (!renderer || !context) {
        return;
    }
    RectRegion dirty;
    TakeDirtyRegion(dirty);
    RectRegion& contextRegion = context->GetDirtyRegion();
    contextRegion.Clear();
    contextRegion.Append(dirty);
    if (update.width > 0 && update.height > 0) {
        contextRegion.AddRect(update.x, update.y, static_cast<int32_t>(int64_t{update.x} + update.width),
                              static_cast<int32_t>(int64_t{update.y} + update.height));
    }
    renderer->RenderStart(context);
    // A drawing that throws must still close the context: left open, every later paint would be
    // deferred for ever.
    try {
        const RectL& viewport = context->GetViewport();
        int32_t left = 0;
        int32_t top = 0;
        int32_t right = 0;
        int32_t bottom = 0;
        const bool whole = contextRegion.GetCount() == 1 &&
                           contextRegion.GetBounds(left, top, right, bottom) &&
                           left == viewport.x && top == viewport.y &&
                           int64_t{right} == int64_t{viewport.x} + viewport.width &&
                           int64_t{bottom} == int64_t{viewport.y} + viewport.height;
        Paint(whole ? contextRegion : dirty);
    } catch (...) {
        renderer->RenderFinish(context);
        throw;
    }
    renderer->RenderFinish(context);
}

void LRootWindow::RenderTree(const RCPtr<LControl>& control, const RectRegion& region,
                             bool overlayPass)
{
    // Each level keeps its own list, so a nested pass leaves its caller's untouched.
    RCPtrArray<LControl> found;
    control->Draw(*renderer, region, found, overlayPass);
    const uint32_t count = found.GetCount();
    if (count == 0) {
        return;
    }
    std::vector<RCPtr<LControl>> ordered;
    ordered.reserve(count);
    for (uint32_t index = 0; index < count; ++index) {
        ordered.push_back(found.GetData()[index]);
    }
    found.SetCount(0);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const RCPtr<LControl>& first, const RCPtr<LControl>& second) {
                         const int32_t a = first->GetLayout() ? first->GetLayout()->zOrder : 0;
                         const int32_t b = second->GetLayout() ? second->GetLayout()->zOrder : 0;
                         return a < b;
                     });
    for (const RCPtr<LControl>& overlay : ordered) {
        const RCPtr<LControl> parent = overlay->GetParent();
        if (!parent) {
            continue;
        }
        const PointD position = parent->GetPositionInRoot();
        const RectD client = parent->GetClientRect(-1);
        const PointD& scroll = parent->GetScrollOffset();
        const double originX = Clamped(RoundToInt(position.x) + RoundToInt(client.x) - scroll.x);
        const double originY = Clamped(RoundToInt(position.y) + RoundToInt(client.y) - scroll.y);
        if (RenderState* state = renderer->GetCurrentState()) {
            state->alpha = overlay->GetOpacity();
            state->stencilActive = false;
        }
        const RectD& rect = overlay->GetRect();
        CAutoClip scope(renderer, PushClipParams{1, RectD{originX, originY, 0, 0},
                                                 RectD{Clamped(rect.x), Clamped(rect.y),
                                                       Clamped(rect.width), Clamped(rect.height)},
                                                 ConstRCPtr<LStencil>(), false, PointD{0, 0}});
        RenderTree(overlay, region, true);
    }
}

}  // namespace Orv
