#include "Renderer/Gdi/GDIRenderContextInfo.h"

#include <utility>

#include "Utilities/Storage/Array.h"

namespace Orv {

using namespace Gdiplus;

LGDIRenderContextInfo::LGDIRenderContextInfo(const RectT<LongCoord>& rect, HWND window, int present)
    : LRenderContextInfo(rect, window, present),
      front(LGDIRendererOffscreenSurface::Create(rect.width, rect.height, window)),
      back(LGDIRendererOffscreenSurface::Create(rect.width, rect.height, window))
{
}

void LGDIRenderContextInfo::PrepareSurfaces()
{
    const RectT<LongCoord>& viewport = GetViewport();
    const std::pair<int32_t, int32_t> size = front->GetSize();
    if (size.first == viewport.width && size.second == viewport.height) {
        const RectRegion& dirty = GetDirtyRegion();
        const RectNode* only = dirty.GetFirst();
        if (only == nullptr || only->next != nullptr) {
            return;
        }
        const RectT<LongCoord> whole{only->left, only->top, only->right - only->left,
                                     only->bottom - only->top};
        if (!(whole == viewport)) {
            return;
        }
    }
    front->Resize(viewport.width, viewport.height);
    back->Resize(viewport.width, viewport.height);
}

void LGDIRenderContextInfo::Present()
{
    if (GpGraphics* frontGraphics = front->GetGraphics()) {
        GdipFlush(frontGraphics, FlushIntentionSync);
    }
    if (GetPresentFlag() != 0) {
        return;
    }
    GpGraphics* windowGraphics = nullptr;
    const GpStatus status = GdipCreateFromHWND(GetWindow(), &windowGraphics);
    if (status != Ok) {
        lastStatus = status;
        return;
    }
    Array<RectT<LongCoord>> rects;
    GetDirtyRegion().Enumerate(rects);
    for (uint32_t i = rects.GetCount(); i-- > 0;) {
        const RectT<LongCoord>& rect = rects.GetAt(i);
        front->CopyTo(windowGraphics, {rect.x, rect.y}, rect);
    }
    GdipDeleteGraphics(windowGraphics);
}

void LGDIRenderContextInfo::SwapSurfaces()
{
    std::swap(front, back);
}

}  // namespace Orv
