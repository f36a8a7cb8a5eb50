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

GpStatus GdipCreateTextureIA(GpImage* image, const GpImageAttributes* attributes, REAL x, REAL y,
                             REAL width, REAL height, GpTexture** texture)
{
    GDIP_REQUIRE_STARTED();
    if (texture == nullptr) {
        return InvalidParameter;
    }
    *texture = nullptr;
    if (image == nullptr) {
        return InvalidParameter;
    }
    if (attributes != nullptr) {
        return NotImplemented;  // no image attributes are made by this layer
    }
    auto* bitmap = static_cast<BitmapObject*>(image);
    if (bitmap->locked) {
        return WrongState;
    }
    // The area is taken in whole pixels; NaN fails every comparison below.
    if (!(x >= 0.0f && y >= 0.0f && width >= 1.0f && height >= 1.0f &&
          x + width <= static_cast<REAL>(bitmap->Width()) &&
          y + height <= static_cast<REAL>(bitmap->Height()))) {
        return InvalidParameter;
    }
    cairo_surface_t* tile =
        CopyAreaToArgbSurface(bitmap->surface, static_cast<int>(x), static_cast<int>(y),
                              static_cast<int>(width), static_cast<int>(height));
    if (tile == nullptr) {
        return OutOfMemory;
    }
    *texture = new TextureObject(tile, WrapModeTile);
    return Ok;
}

GpStatus GdipDeleteBrush(GpBrush* brush)
{
    return DeleteObject(brush);
}

}  // namespace Gdiplus
