// Tinting bitmaps with a skin colorizer, and bitmaps filled with one colour.

#include <cstdint>

#include "ControlBase/Colorizer.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Graphics/BitmapErrors.h"
#include "gdiplus.h"

namespace Orv {

using namespace Gdiplus;

namespace {

// One colour byte moved towards k (0..1) by c, in single precision. A colour or factor outside
// 0..1 would carry the value past a byte: it stops at 0 and 255 instead of wrapping.
uint8_t Blend(uint8_t v, float k, float c)
{
    const float blended = (static_cast<float>(v) / 255.0f * (1.0f - c) + k * c) * 255.0f + 0.5f;
    if (!(blended > 0.0f)) {
        return 0;
    }
    return blended >= 255.0f ? 255 : static_cast<uint8_t>(blended);
}

// Writes every pixel of a locked 32-bit ARGB rectangle through `change` (bytes B, G, R, A).
template <class Change>
void ForEachPixel(const BitmapData& locked, Change change)
{
    auto* row = static_cast<uint8_t*>(locked.Scan0);
    for (UINT y = 0; y < locked.Height; ++y, row += locked.Stride) {
        for (UINT x = 0; x < locked.Width; ++x) {
            change(row + static_cast<size_t>(x) * 4);
        }
    }
}

}  // namespace

void LBitmap::ApplyColorizer(const RCPtr<LBitmap>& bitmap, const ConstRCPtr<LColorizer>& colorizer,
                             float amount)
{
    if (!bitmap || !colorizer) {
        ORV_THROW_BITMAP_ERROR(RuntimeError, 368);
    }
    if (colorizer->IsTwoColourGradient()) {
        CreateColorizedBitmap(colorizer, amount, bitmap->width, bitmap->height);
    }
    const ColorT& color = colorizer->GetColor();
    const float c = color.alpha * amount;
    const GpRect area{bitmap->x, bitmap->y, bitmap->width, bitmap->height};
    BitmapData locked{};
    const GpStatus lockStatus =
        GdipBitmapLockBits(bitmap->GetGdiplusBitmap(), &area,
                           ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &locked);
    if (lockStatus != Ok) {
        bitmap->KeepStatus(lockStatus);
        ORV_THROW_BITMAP_ERROR(RuntimeError, 392);
    }
    ForEachPixel(locked, [&](uint8_t* pixel) {
        pixel[0] = Blend(pixel[0], color.blue, c);
        pixel[1] = Blend(pixel[1], color.green, c);
        pixel[2] = Blend(pixel[2], color.red, c);
    });
    bitmap->KeepStatus(GdipBitmapUnlockBits(bitmap->GetGdiplusBitmap(), &locked));
}

RCPtr<LBitmap> LBitmap::ApplyColorizer(const ConstRCPtr<LColorizer>& colorizer, float amount,
                                       int32_t width, int32_t height,
                                       const ConstRCPtr<LBitmap>& bitmap,
                                       const ConstRCPtr<LBitmap>& mask)
{
    if (mask && bitmap) {
        ORV_THROW_BITMAP_ERROR(DomainError, 438);
    }
    const ConstRCPtr<LBitmap>& source = bitmap ? bitmap : mask;
    if (!source) {
        return CreateColorizedBitmap(colorizer, amount, width, height);
    }
    RCPtr<LBitmap> copy = source->Clone();
    ApplyColorizer(copy, colorizer, amount);
    return copy;
}

RCPtr<LBitmap> LBitmap::CreateColorizedBitmap(const ConstRCPtr<LColorizer>& colorizer, float amount,
                                              int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) {
        ORV_THROW_BITMAP_ERROR(RuntimeError, 292);
    }
    if (!colorizer) {
        ORV_THROW_NULL_POINTER("colorizer");
    }
    if (colorizer->IsTwoColourGradient()) {
        CreateGradientFilledBitmap(width, height, colorizer->GetColor(),
                                   colorizer->GetGradientEndColor(), colorizer->GetGradientStartX(),
                                   colorizer->GetGradientStartY(), colorizer->GetGradientEndX(),
                                   colorizer->GetGradientEndY(),
                                   colorizer->GetColorType() == LColorizer::kRadialGradient);
    }
    ColorT color = colorizer->GetColor();
    color.alpha *= amount;
    return CreateFilledBitmap(width, height, color);
}

RCPtr<LBitmap> LBitmap::CreateFilledBitmap(int32_t width, int32_t height, const ColorT& color)
{
    if (width <= 0 || height <= 0) {
        ORV_THROW_BITMAP_ERROR(RuntimeError, 321);
    }
    // GDI+ allocates the pixels, so the image never points at memory that goes before it does.
    GpBitmap* image = nullptr;
    GpStatus result =
        GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &image);
    if (result != Ok) {
        return RCPtr<LBitmap>();
    }
    RCPtr<LBitmap> filled(new LBitmap(image));
    const GpRect area{0, 0, width, height};
    BitmapData locked{};
    result = GdipBitmapLockBits(image, &area, ImageLockModeWrite, PixelFormat32bppARGB, &locked);
    if (result != Ok) {
        return RCPtr<LBitmap>();
    }
    const uint32_t argb = color.ToPackedARGB();
    ForEachPixel(locked, [argb](uint8_t* pixel) {
        pixel[0] = static_cast<uint8_t>(argb);
        pixel[1] = static_cast<uint8_t>(argb >> 8);
        pixel[2] = static_cast<uint8_t>(argb >> 16);
        pixel[3] = static_cast<uint8_t>(argb >> 24);
    });
    result = GdipBitmapUnlockBits(image, &locked);
    return result == Ok ? filled : RCPtr<LBitmap>();
}

RCPtr<LBitmap> LBitmap::CreateGradientFilledBitmap(int32_t, int32_t, const ColorT&, const ColorT&,
                                                   float, float, float, float, bool)
{
    ORV_THROW_BITMAP_ERROR(DomainError, 356);
}

}  // namespace Orv
