#pragma once
// The GDI+ renderer's context: a double buffer of two off-screen surfaces. Everything is drawn
// into the front surface, whose picture persists between paints; a paint redraws only inside the
// dirty region and Present copies only the dirty rectangles to the window. The back surface serves
// the scrolling copy of DrawContext (SwapSurfaces).

#include "Renderer/Gdi/GDIRendererOffscreenSurface.h"
#include "Renderer/RenderContextInfo.h"

namespace Orv {

class LGDIRenderContextInfo : public LRenderContextInfo
{
public:
    static constexpr int32_t kMaxViewportSide = 4096;

    LGDIRenderContextInfo(const RectT<LongCoord>& rect, HWND window, int present);

    std::pair<int32_t, int32_t> GetMaxViewportSize() const override
    {
        return {kMaxViewportSide, kMaxViewportSide};
    }

    // Before drawing: new surfaces of the viewport's size when the size changed, or when the
    // dirty region is exactly the whole viewport (nothing of the old picture is needed).
    void PrepareSurfaces();
    // After drawing: the dirty rectangles of the front surface copied to the window, the last one
    // first; nothing reaches the window for a context with the present flag.
    void Present();
    void SwapSurfaces();

    const RCPtr<LGDIRendererOffscreenSurface>& GetFrontSurface() const { return front; }
    const RCPtr<LGDIRendererOffscreenSurface>& GetBackSurface() const { return back; }
    Gdiplus::GpGraphics* GetFrontGraphics() const { return front->GetGraphics(); }
    // The last failure of presenting to the window.
    Gdiplus::GpStatus GetLastStatus() const { return lastStatus; }

private:
    RCPtr<LGDIRendererOffscreenSurface> front;
    RCPtr<LGDIRendererOffscreenSurface> back;
    Gdiplus::GpStatus lastStatus = Gdiplus::Ok;
};

}  // namespace Orv
