// Locked 32-bit access to a root bitmap's whole image.

#include <utility>

#include "Utilities/Graphics/Bitmap.h"
#include "gdiplus.h"

namespace Orv {

using namespace Gdiplus;

LBitmapData::LBitmapData(const RCPtr<LBitmap>& root) : bitmap(root)
{
    const GpRect area{root->x, root->y, root->width, root->height};
    BitmapData locked{};
    const GpStatus result =
        GdipBitmapLockBits(root->image, &area, ImageLockModeRead, PixelFormat32bppARGB, &locked);
    if (result != Ok || locked.Scan0 == nullptr) {
        root->KeepStatus(result != Ok ? result : GenericError);
        return;
    }
    lockWidth = static_cast<int32_t>(locked.Width);
    lockHeight = static_cast<int32_t>(locked.Height);
    stride = locked.Stride;
    format = locked.PixelFormat;
    first = static_cast<uint8_t*>(locked.Scan0);
}

LBitmapData::~LBitmapData()
{
    if (IsLocked()) {
        BitmapData locked{
            static_cast<UINT>(lockWidth), static_cast<UINT>(lockHeight), stride, format, first, 0};
        bitmap->KeepStatus(GdipBitmapUnlockBits(bitmap->image, &locked));
    }
}

int32_t LBitmapData::GetWidth() const
{
    return lockWidth;
}

int32_t LBitmapData::GetHeight() const
{
    return lockHeight;
}

int32_t LBitmapData::GetRowLength() const
{
    return stride;
}

const int32_t* LBitmapData::GetPixelAddress(int32_t x, int32_t y) const
{
    if (!IsLocked() || x < 0 || y < 0 || x >= lockWidth || y >= lockHeight) {
        return nullptr;
    }
    return reinterpret_cast<const int32_t*>(first + static_cast<ptrdiff_t>(y) * stride +
                                            static_cast<ptrdiff_t>(x) * 4);
}

int32_t* LBitmapData::GetPixelAddress(int32_t x, int32_t y)
{
    return const_cast<int32_t*>(std::as_const(*this).GetPixelAddress(x, y));
}

}  // namespace Orv
