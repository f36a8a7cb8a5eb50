#include "Renderer/Gdi/GDIRendererOffscreenSurface.h"

#include <algorithm>

namespace Orv {

using namespace Gdiplus;

RCPtr<LGDIRendererOffscreenSurface> LGDIRendererOffscreenSurface::Create(int32_t width,
                                                                         int32_t height,
                                                                         HWND window)
{
    RCPtr<LGDIRendererOffscreenSurface> surface(new LGDIRendererOffscreenSurface(window));
    surface->Resize(width, height);
    return surface;
}

LGDIRendererOffscreenSurface::~LGDIRendererOffscreenSurface()
{
    DropPicture();
}

void LGDIRendererOffscreenSurface::Keep(GpStatus status)
{
    if (status != Ok) {
        lastStatus = status;
    }
}

void LGDIRendererOffscreenSurface::DropPicture()
{
    if (graphics != nullptr) {
        GdipDeleteGraphics(graphics);
        graphics = nullptr;
    }
    if (bitmap != nullptr) {
        GdipDisposeImage(bitmap);
        bitmap = nullptr;
    }
}

ORVRESULT LGDIRendererOffscreenSurface::Resize(int32_t width, int32_t height)
{
    DropPicture();
    width = std::max(width, 1);
    height = std::max(height, 1);
    GpGraphics* windowGraphics = nullptr;
    const GpStatus windowStatus = GdipCreateFromHWND(window, &windowGraphics);
    if (windowStatus == Ok) {
        Keep(GdipCreateBitmapFromGraphics(width, height, windowGraphics, &bitmap));
        GdipDeleteGraphics(windowGraphics);
    } else {
        // Without a window (a kept picture) the bitmap takes the screen's format.
        Keep(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, &bitmap));
    }
    if (bitmap != nullptr) {
        const GpStatus status = GdipGetImageGraphicsContext(bitmap, &graphics);
        Keep(status);
        if (status != Ok) {
            DropPicture();
        }
    }
    return S_OK;
}

std::pair<int32_t, int32_t> LGDIRendererOffscreenSurface::GetSize() const
{
    if (bitmap == nullptr) {
        return {0, 0};
    }
    GpRectF bounds{};
    GpUnit unit = UnitPixel;
    if (GdipGetImageBounds(bitmap, &bounds, &unit) != Ok) {
        return {0, 0};
    }
    return {static_cast<int32_t>(bounds.Width), static_cast<int32_t>(bounds.Height)};
}

void LGDIRendererOffscreenSurface::CopyTo(GpGraphics* target, const PointT<LongCoord>& destination,
                                          const RectT<LongCoord>& source)
{
    if (bitmap == nullptr) {
        return;
    }
    Keep(GdipDrawImagePointRectI(target, bitmap, destination.x, destination.y, source.x, source.y,
                                 source.width, source.height, UnitPixel));
}

}  // namespace Orv
