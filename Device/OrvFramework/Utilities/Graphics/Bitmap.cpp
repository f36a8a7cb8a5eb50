// Root and sub-bitmaps: loading, views, copies and pixel reads.

#include "Utilities/Graphics/Bitmap.h"

#include <cstring>

#include "System/ResourceModule.h"
#include "gdiplus.h"

namespace Orv {

using namespace Gdiplus;

namespace {

const WCHAR kImageResourceType[] = u"GDIPLUS";

}  // namespace

LBitmap::LBitmap(const WideString& name, const WideString& key) : name(name), key(key)
{
    if (IsResourceName(name)) {
        LoadResource(ResourceNameOf(name));
    } else {
        LoadFile(name);
    }
}

LBitmap::LBitmap(GpBitmap* image) : image(image)
{
    AdoptImage(Ok);
}

LBitmap::LBitmap(const RCPtr<LBitmap>& root, int32_t x, int32_t y, int32_t width, int32_t height)
    : x(x), y(y), width(width), height(height), parent(root)
{
}

LBitmap::~LBitmap()
{
    if (image != nullptr) {
        GdipDisposeImage(image);
    }
    if (stream != nullptr) {
        stream->Release();
    }
}

void LBitmap::LoadResource(const WideString& resourceName)
{
    const HMODULE module = GetResourceModule();
    HRSRC found = FindResourceW(module, resourceName, kImageResourceType);
    if (found == nullptr) {
        return;
    }
    const DWORD size = SizeofResource(module, found);
    const void* bytes = LockResource(::LoadResource(module, found));
    if (size == 0 || bytes == nullptr) {
        return;
    }
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (copy == nullptr) {
        return;
    }
    void* target = GlobalLock(copy);
    if (target == nullptr) {
        GlobalFree(copy);
        return;
    }
    std::memcpy(target, bytes, size);
    GlobalUnlock(copy);
    // The stream owns the block from here on and frees it with its last reference.
    if (CreateStreamOnHGlobal(copy, TRUE, &stream) != S_OK) {
        stream = nullptr;
        GlobalFree(copy);
        return;
    }
    AdoptImage(GdipCreateBitmapFromStream(stream, &image));
    if (image == nullptr) {
        stream->Release();
        stream = nullptr;
    }
}

void LBitmap::LoadFile(const WideString& path)
{
    AdoptImage(GdipCreateBitmapFromFile(path, &image));
}

void LBitmap::AdoptImage(int result)
{
    UINT imageWidth = 0;
    UINT imageHeight = 0;
    if (result == Ok && image != nullptr) {
        result = GdipGetImageWidth(image, &imageWidth);
        if (result == Ok) {
            result = GdipGetImageHeight(image, &imageHeight);
        }
    }
    if (result != Ok || image == nullptr) {
        if (image != nullptr) {
            GdipDisposeImage(image);
            image = nullptr;
        }
        status = result;
        return;
    }
    width = static_cast<int32_t>(imageWidth);
    height = static_cast<int32_t>(imageHeight);
}

void LBitmap::KeepStatus(int result) const
{
    if (result != Ok) {
        Root().status = result;
    }
}

int LBitmap::GetLastStatus() const
{
    return Root().status;
}

GpBitmap* LBitmap::GetGdiplusBitmap() const
{
    return Root().image;
}

RCPtr<LBitmap> LBitmap::CreateSubBitmap(int32_t subX, int32_t subY, int32_t subWidth,
                                        int32_t subHeight)
{
    if (subWidth <= 0 || subHeight <= 0) {
        subX = 0, subY = 0, subWidth = width, subHeight = height;
    }
    const RCPtr<LBitmap> root = parent ? parent : RCPtr<LBitmap>(this);
    return RCPtr<LBitmap>(new LBitmap(root, x + subX, y + subY, subWidth, subHeight));
}

RCPtr<LBitmap> LBitmap::Clone() const
{
    GpBitmap* source = GetGdiplusBitmap();
    PixelFormat format = 0;
    GpStatus result = GdipGetImagePixelFormat(source, &format);
    GpBitmap* copy = nullptr;
    if (result == Ok) {
        result = GdipCloneBitmapAreaI(x, y, width, height, format, source, &copy);
    }
    if (result != Ok) {
        KeepStatus(result);
        return RCPtr<LBitmap>();
    }
    return RCPtr<LBitmap>(new LBitmap(copy));
}

ColorT LBitmap::GetPixelColor(int32_t pixelX, int32_t pixelY) const
{
    // A view never reads its neighbours' pixels.
    if (pixelX < 0 || pixelY < 0 || pixelX >= width || pixelY >= height) {
        KeepStatus(InvalidParameter);
        return ColorT();
    }
    ARGB argb = 0;
    const GpStatus result = GdipBitmapGetPixel(GetGdiplusBitmap(), pixelX + x, pixelY + y, &argb);
    if (result != Ok) {
        KeepStatus(result);
        return ColorT();
    }
    return ColorT::FromPackedARGB(argb);
}

RCPtr<LBitmapData> LBitmap::GetPixelData() const
{
    if (parent) {
        return parent->GetPixelData();
    }
    RCPtr<LBitmapData> data(new LBitmapData(RCPtr<LBitmap>(const_cast<LBitmap*>(this))));
    return data->IsLocked() ? data : RCPtr<LBitmapData>();
}

}  // namespace Orv
