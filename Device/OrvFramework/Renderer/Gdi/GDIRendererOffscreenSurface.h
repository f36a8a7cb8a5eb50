#pragma once
// A picture the GDI+ renderer draws into: a GDI+ bitmap compatible with the window and a graphics
// object on it, both owned. A surface whose bitmap could not be made draws nothing and reports
// 0 x 0; every GDI+ failure is kept as the last status, never thrown.

#include <cstdint>
#include <utility>

#include <gdiplus.h>
#include <windows.h>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Geometry.h"

namespace Orv {

class LGDIRendererOffscreenSurface : public virtual LRefCountedObject
{
public:
    static RCPtr<LGDIRendererOffscreenSurface> Create(int32_t width, int32_t height, HWND window);
    ~LGDIRendererOffscreenSurface() override;

    // New bitmap and graphics of the size (1 for a size of 0 or below); the old picture is
    // dropped. Returns 0 (a failure shows as a 0 x 0 size and the last status).
    ORVRESULT Resize(int32_t width, int32_t height);
    std::pair<int32_t, int32_t> GetSize() const;
    // Draws the source rectangle of the picture at the destination point of the target; a
    // failure is stored as the last status.
    void CopyTo(Gdiplus::GpGraphics* target, const PointT<LongCoord>& destination,
                const RectT<LongCoord>& source);

    Gdiplus::GpGraphics* GetGraphics() const { return graphics; }
    Gdiplus::GpBitmap* GetBitmap() const { return bitmap; }
    Gdiplus::GpStatus GetLastStatus() const { return lastStatus; }

private:
    explicit LGDIRendererOffscreenSurface(HWND window) : window(window) {}
    void DropPicture();
    void Keep(Gdiplus::GpStatus status);

    HWND window;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpStatus lastStatus = Gdiplus::Ok;
};

}  // namespace Orv
