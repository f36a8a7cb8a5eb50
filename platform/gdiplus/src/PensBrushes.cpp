#include <cmath>

#include "GdiplusObjects.h"
#include "gdiplus/GdiplusFlat.h"

namespace Gdiplus {

GpStatus GdipCreatePen1(ARGB color, REAL width, GpUnit unit, GpPen** pen)
{
    GDIP_REQUIRE_STARTED();
    if (pen == nullptr) {
        return InvalidParameter;
    }
    *pen = nullptr;
    if (!(width >= 0.0f) || std::isinf(width) || (unit != UnitWorld && unit != UnitPixel)) {
        return InvalidParameter;
    }
    *pen = new GpPen{color, width};
    return Ok;
}

GpStatus GdipDeletePen(GpPen* pen)
{
    return DeleteObject(pen);
}

GpStatus GdipCreateSolidFill(ARGB color, GpSolidFill** brush)
{
    GDIP_REQUIRE_STARTED();
    if (brush == nullptr) {
        return InvalidParameter;
    }
    *brush = new SolidFillObject(color);
    return Ok;
}

GpStatus GdipCreateTexture(GpImage* image, GpWrapMode wrapMode, GpTexture** texture)
{
    GDIP_REQUIRE_STARTED();
    if (texture == nullptr) {
        return InvalidParameter;
    }
    *texture = nullptr;
    if (image == nullptr || wrapMode < WrapModeTile || wrapMode > WrapModeClamp) {
        return InvalidParameter;
    }
    auto* bitmap = static_cast<BitmapObject*>(image);
    if (bitmap->locked) {
        return WrongState;
    }
    cairo_surface_t* tile = CopyToArgbSurface(bitmap->surface);
    if (tile == nullptr) {
        return OutOfMemory;
    }
    *texture = new TextureObject(tile, wrapMode);
    return Ok;
}

GpStatus GdipDeleteBrush(GpBrush* brush)
{
    return DeleteObject(brush);
}

}  // namespace Gdiplus
