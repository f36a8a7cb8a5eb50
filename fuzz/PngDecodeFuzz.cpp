// Any bytes given to the GDI+ layer's PNG reader: a failed status or a bitmap whose every pixel
// can be read, never a crash.

#include <cstddef>
#include <cstdint>

#include "gdiplus.h"
#include "gdiplus/PngDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Gdiplus;
    static const ULONG_PTR token = [] {
        ULONG_PTR started = 0;
        GdiplusStartupInput input;
        GdiplusStartup(&started, &input, nullptr);
        return started;
    }();
    (void)token;
    GpBitmap* bitmap = nullptr;
    if (GdiplusDetail::DecodePng(data, size, &bitmap) != Ok) {
        if (bitmap != nullptr) {
            __builtin_trap();  // a failure must not hand out a bitmap
        }
        return 0;
    }
    BitmapData locked{};
    if (GdipBitmapLockBits(bitmap, nullptr, ImageLockModeRead, PixelFormat32bppARGB, &locked) ==
        Ok) {
        uint32_t sum = 0;
        for (UINT y = 0; y < locked.Height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(
                static_cast<const BYTE*>(locked.Scan0) + static_cast<size_t>(y) * locked.Stride);
            for (UINT x = 0; x < locked.Width; ++x) {
                sum += row[x];
            }
        }
        GdipBitmapUnlockBits(bitmap, &locked);
        (void)sum;
    }
    GdipDisposeImage(bitmap);
    return 0;
}
