#include <cairo.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "GdiplusObjects.h"
#include "gdiplus/GdiplusFlat.h"
#include "gdiplus/PngDecoder.h"
#include "win32/HostPath.h"

namespace GdiplusDetail {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct Reader
{
    const uint8_t* data;
    size_t size;
    size_t position;
};

cairo_status_t Read(void* closure, unsigned char* out, unsigned int length)
{
    auto* reader = static_cast<Reader*>(closure);
    if (length > reader->size - reader->position) {
        return CAIRO_STATUS_READ_ERROR;
    }
    std::memcpy(out, reader->data + reader->position, length);
    reader->position += length;
    return CAIRO_STATUS_SUCCESS;
}

uint32_t BigEndian32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}

}  // namespace

Gdiplus::GpStatus DecodePng(const uint8_t* data, size_t size, Gdiplus::GpBitmap** bitmap)
{
    using namespace Gdiplus;
    if (bitmap == nullptr || (data == nullptr && size != 0)) {
        return InvalidParameter;
    }
    *bitmap = nullptr;
    // Signature, then the header chunk: length 13, "IHDR", width, height.
    if (size < 24 || std::memcmp(data, kSignature, sizeof kSignature) != 0 ||
        std::memcmp(data + 12, "IHDR", 4) != 0) {
        return UnknownImageFormat;
    }
    const uint64_t width = BigEndian32(data + 16);
    const uint64_t height = BigEndian32(data + 20);
    if (width == 0 || height == 0) {
        return UnknownImageFormat;
    }
    if (width * height > kMaxPngPixels) {
        return OutOfMemory;
    }
    Reader reader{data, size, 0};
    cairo_surface_t* decoded = cairo_image_surface_create_from_png_stream(&Read, &reader);
    const cairo_status_t status = cairo_surface_status(decoded);
    if (status != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(decoded);
        return status == CAIRO_STATUS_NO_MEMORY ? OutOfMemory : UnknownImageFormat;
    }
    // Whatever format Cairo chose (RGB24 for opaque images), bitmaps are ARGB32.
    cairo_surface_t* argb = CopyToArgbSurface(decoded);
    cairo_surface_destroy(decoded);
    if (argb == nullptr) {
        return OutOfMemory;
    }
    *bitmap = new BitmapObject(argb);
    return Ok;
}

}  // namespace GdiplusDetail

namespace Gdiplus {

GpStatus GdipCreateBitmapFromFile(const WCHAR* fileName, GpBitmap** bitmap)
{
    GDIP_REQUIRE_STARTED();
    if (fileName == nullptr || bitmap == nullptr) {
        return InvalidParameter;
    }
    *bitmap = nullptr;
    const auto hostPath = Platform::Win32::ToHostPath(std::u16string_view(fileName));
    if (!hostPath) {
        return FileNotFound;
    }
    std::ifstream file(*hostPath, std::ios::binary);
    if (!file) {
        return FileNotFound;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (file.bad()) {
        return Win32Error;
    }
    return GdiplusDetail::DecodePng(bytes.data(), bytes.size(), bitmap);
}

GpStatus GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap)
{
    GDIP_REQUIRE_STARTED();
    if (stream == nullptr || bitmap == nullptr) {
        return InvalidParameter;
    }
    *bitmap = nullptr;
    // An image stream larger than the largest image the decoder accepts is refused unread.
    constexpr size_t kMaxStreamBytes = size_t{1} << 28;
    std::vector<uint8_t> bytes;
    uint8_t chunk[16384];
    for (;;) {
        ULONG read = 0;
        const HRESULT result = stream->Read(chunk, sizeof chunk, &read);
        if (FAILED(result)) {
            return Win32Error;
        }
        if (bytes.size() + read > kMaxStreamBytes) {
            return OutOfMemory;
        }
        bytes.insert(bytes.end(), chunk, chunk + read);
        if (read < sizeof chunk) {
            break;
        }
    }
    return GdiplusDetail::DecodePng(bytes.data(), bytes.size(), bitmap);
}

}  // namespace Gdiplus
