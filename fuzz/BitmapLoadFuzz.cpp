// Any bytes as an image resource and as an image file, through GetBitmap: null, or a bitmap whose
// size matches its image and whose every pixel can be read; never a crash. Each bitmap is
// released before the next input, so both names leave the cache and are loaded again.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Utilities/Graphics/Bitmap.h"
#include "gdiplus.h"
#include "win32/ResourceTable.h"

namespace {

// The one resource the inputs are served as; its bytes are pointed at each input in turn.
Win32ResourceEntry fuzzedResource{u"FUZZ_PNG", u"GDIPLUS", reinterpret_cast<const BYTE*>(""), 0};
const Win32ResourceTableRegistration registration(&fuzzedResource, 1);

void Check(const Orv::RCPtr<Orv::LBitmap>& bitmap)
{
    if (!bitmap) {
        return;
    }
    UINT width = 0;
    UINT height = 0;
    Gdiplus::GdipGetImageWidth(bitmap->GetGdiplusBitmap(), &width);
    Gdiplus::GdipGetImageHeight(bitmap->GetGdiplusBitmap(), &height);
    if (width != static_cast<UINT>(bitmap->GetWidth()) ||
        height != static_cast<UINT>(bitmap->GetHeight()) || width == 0 || height == 0) {
        __builtin_trap();
    }
    float sum = 0;
    for (int y = 0; y < bitmap->GetHeight(); ++y) {
        for (int x = 0; x < bitmap->GetWidth(); ++x) {
            sum += bitmap->GetPixelColor(x, y).alpha;
        }
    }
    if (bitmap->GetLastStatus() != Gdiplus::Ok || sum < 0) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ULONG_PTR token = [] {
        ULONG_PTR started = 0;
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&started, &input, nullptr);
        return started;
    }();
    (void)token;
    static const std::string file =
        "/tmp/orv_fuzz_bitmap_" + std::to_string(static_cast<long>(getpid())) + ".png";

    fuzzedResource.bytes = size != 0 ? data : reinterpret_cast<const BYTE*>("");
    fuzzedResource.size = static_cast<DWORD>(size);
    Check(Orv::GetBitmap(u"::fuzz.png"));

    if (FILE* out = std::fopen(file.c_str(), "wb")) {
        const bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
        std::fclose(out);
        if (written) {
            Check(Orv::GetBitmap(Orv::WideString(file.c_str())));
        }
        std::remove(file.c_str());
    }
    return 0;
}
