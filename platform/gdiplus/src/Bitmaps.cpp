#include <cairo.h>

#include <cstring>

#include "GdiplusObjects.h"
#include "Pixels.h"
#include "gdiplus/GdiplusFlat.h"

namespace Gdiplus {
namespace {

bool IsKnownFormat(PixelFormat format)
{
    return format == PixelFormat32bppARGB || format == PixelFormat32bppPARGB ||
           format == PixelFormat32bppRGB;
}

// The bitmap behind an image pointer; every image of this layer is a bitmap.
BitmapObject* AsBitmap(GpImage* image)
{
    return static_cast<BitmapObject*>(image);
}

cairo_surface_t* NewSurface(int width, int height)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

uint32_t* Row(cairo_surface_t* surface, int y)
{
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                       static_cast<ptrdiff_t>(y) *
                                           cairo_image_surface_get_stride(surface));
}

// One pixel between the caller's format and the surface's premultiplied one.
uint32_t ToSurface(uint32_t pixel, PixelFormat format)
{
    switch (format) {
        case PixelFormat32bppARGB:
            return Premultiply(pixel);
        case PixelFormat32bppRGB:
            return pixel | 0xFF000000u;
        default:
            return pixel;
    }
}

uint32_t FromSurface(uint32_t pixel, PixelFormat format)
{
    switch (format) {
        case PixelFormat32bppARGB:
            return Unpremultiply(pixel);
        case PixelFormat32bppRGB:
            return Unpremultiply(pixel) | 0xFF000000u;
        default:
            return pixel;
    }
}

bool InsideBitmap(const BitmapObject* bitmap, INT x, INT y, INT width, INT height)
{
    return x >= 0 && y >= 0 && width > 0 && height > 0 && x <= bitmap->Width() - width &&
           y <= bitmap->Height() - height;
}

}  // namespace

BitmapObject::BitmapObject(cairo_surface_t* surface) : surface(surface) {}

BitmapObject::~BitmapObject()
{
    cairo_surface_destroy(surface);
}

TextureObject::TextureObject(cairo_surface_t* tile, GpWrapMode wrapMode)
    : tile(tile), wrapMode(wrapMode)
{
}

TextureObject::~TextureObject()
{
    cairo_surface_destroy(tile);
}

GpCachedBitmap::~GpCachedBitmap()
{
    cairo_surface_destroy(surface);
}

cairo_surface_t* CopyToArgbSurface(cairo_surface_t* source)
{
    return CopyAreaToArgbSurface(source, 0, 0, cairo_image_surface_get_width(source),
                                 cairo_image_surface_get_height(source));
}

cairo_surface_t* CopyAreaToArgbSurface(cairo_surface_t* source, int x, int y, int width, int height)
{
    cairo_surface_flush(source);
    cairo_surface_t* copy = NewSurface(width, height);
    if (copy == nullptr) {
        return nullptr;
    }
    cairo_t* cr = cairo_create(copy);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, source, -x, -y);
    cairo_paint(cr);
    const cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(copy);
        return nullptr;
    }
    cairo_surface_flush(copy);
    return copy;
}

GpStatus GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat format,
                                   BYTE* scan0, GpBitmap** bitmap)
{
    GDIP_REQUIRE_STARTED();
    if (bitmap == nullptr) {
        return InvalidParameter;
    }
    *bitmap = nullptr;
    if (width <= 0 || height <= 0 || !IsKnownFormat(format)) {
        return InvalidParameter;
    }
    const int64_t strideBytes = stride < 0 ? -int64_t{stride} : int64_t{stride};
    if (scan0 != nullptr && (stride % 4 != 0 || strideBytes / 4 < width)) {
        return InvalidParameter;
    }
    cairo_surface_t* surface = NewSurface(width, height);
    if (surface == nullptr) {
        return OutOfMemory;
    }
    if (scan0 != nullptr) {
        // The pixels are copied: later writes to the caller's memory do not reach the bitmap.
        for (int y = 0; y < height; ++y) {
            const auto* source =
                reinterpret_cast<const uint32_t*>(scan0 + static_cast<ptrdiff_t>(y) * stride);
            uint32_t* target = Row(surface, y);
            for (int x = 0; x < width; ++x) {
                target[x] = ToSurface(source[x], format);
            }
        }
        cairo_surface_mark_dirty(surface);
    }
    auto* created = new BitmapObject(surface);
    created->format = format;
    *bitmap = created;
    return Ok;
}

GpStatus GdipCreateBitmapFromGraphics(INT width, INT height, GpGraphics* target, GpBitmap** bitmap)
{
    GDIP_REQUIRE_STARTED();
    if (bitmap == nullptr) {
        return InvalidParameter;
    }
    *bitmap = nullptr;
    if (target == nullptr || width <= 0 || height <= 0) {
        return InvalidParameter;
    }
    cairo_surface_t* surface = NewSurface(width, height);
    if (surface == nullptr) {
        return OutOfMemory;
    }
    *bitmap = new BitmapObject(surface);
    return Ok;
}

GpStatus GdipDisposeImage(GpImage* image)
{
    return DeleteObject(image);
}

namespace {

// One value read from a started layer's image.
template <class T, class Read>
GpStatus ReadImageValue(GpImage* image, T* value, Read read)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || value == nullptr) {
        return InvalidParameter;
    }
    *value = read(*AsBitmap(image));
    return Ok;
}

}  // namespace

GpStatus GdipGetImageWidth(GpImage* image, UINT* width)
{
    return ReadImageValue(image, width,
                          [](const BitmapObject& b) { return static_cast<UINT>(b.Width()); });
}

GpStatus GdipGetImageHeight(GpImage* image, UINT* height)
{
    return ReadImageValue(image, height,
                          [](const BitmapObject& b) { return static_cast<UINT>(b.Height()); });
}

GpStatus GdipGetImageBounds(GpImage* image, GpRectF* bounds, GpUnit* unit)
{
    if (unit == nullptr) {
        return IsStarted() ? InvalidParameter : GdiplusNotInitialized;
    }
    const GpStatus status = ReadImageValue(image, bounds, [](const BitmapObject& b) {
        return GpRectF{0.0f, 0.0f, static_cast<REAL>(b.Width()), static_cast<REAL>(b.Height())};
    });
    if (status == Ok) {
        *unit = UnitPixel;
    }
    return status;
}

GpStatus GdipGetImagePixelFormat(GpImage* image, PixelFormat* format)
{
    return ReadImageValue(image, format, [](const BitmapObject& b) { return b.format; });
}

GpStatus GdipGetImageHorizontalResolution(GpImage* image, REAL* dpi)
{
    return ReadImageValue(image, dpi, [](const BitmapObject& b) { return b.dpiX; });
}

GpStatus GdipGetImageVerticalResolution(GpImage* image, REAL* dpi)
{
    return ReadImageValue(image, dpi, [](const BitmapObject& b) { return b.dpiY; });
}

GpStatus GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || graphics == nullptr) {
        return InvalidParameter;
    }
    *graphics = nullptr;
    BitmapObject* bitmap = AsBitmap(image);
    if (bitmap->locked) {
        return WrongState;
    }
    auto* created = new GpGraphics{};
    created->target = cairo_surface_reference(bitmap->surface);
    cairo_matrix_init_identity(&created->world);
    *graphics = created;
    return Ok;
}

GpStatus GdipBitmapLockBits(GpBitmap* image, const GpRect* rect, UINT flags, PixelFormat format,
                            BitmapData* lockedData)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || lockedData == nullptr || !IsKnownFormat(format) ||
        (flags & (ImageLockModeRead | ImageLockModeWrite)) == 0) {
        return InvalidParameter;
    }
    BitmapObject* bitmap = AsBitmap(image);
    if (bitmap->locked) {
        return WrongState;
    }
    const GpRect area = rect != nullptr ? *rect : GpRect{0, 0, bitmap->Width(), bitmap->Height()};
    if (!InsideBitmap(bitmap, area.X, area.Y, area.Width, area.Height)) {
        return InvalidParameter;
    }
    uint32_t* pixels = nullptr;
    INT stride = area.Width * 4;
    if (flags & ImageLockModeUserInputBuf) {
        if (lockedData->Scan0 == nullptr || lockedData->Stride % 4 != 0 ||
            lockedData->Stride / 4 < area.Width) {
            return InvalidParameter;
        }
        pixels = static_cast<uint32_t*>(lockedData->Scan0);
        stride = lockedData->Stride;
    } else {
        bitmap->lockBuffer.assign(static_cast<size_t>(area.Width) * area.Height, 0);
        pixels = bitmap->lockBuffer.data();
    }
    if (flags & ImageLockModeRead) {
        cairo_surface_flush(bitmap->surface);
        for (int y = 0; y < area.Height; ++y) {
            const uint32_t* source = Row(bitmap->surface, area.Y + y) + area.X;
            auto* target = reinterpret_cast<uint32_t*>(reinterpret_cast<BYTE*>(pixels) +
                                                       static_cast<ptrdiff_t>(y) * stride);
            for (int x = 0; x < area.Width; ++x) {
                target[x] = FromSurface(source[x], format);
            }
        }
    }
    bitmap->locked = true;
    bitmap->lockRect = area;
    bitmap->lockFlags = flags;
    bitmap->lockFormat = format;
    *lockedData = BitmapData{
        static_cast<UINT>(area.Width), static_cast<UINT>(area.Height), stride, format, pixels, 0};
    return Ok;
}

GpStatus GdipBitmapUnlockBits(GpBitmap* image, BitmapData* lockedData)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || lockedData == nullptr) {
        return InvalidParameter;
    }
    BitmapObject* bitmap = AsBitmap(image);
    if (!bitmap->locked) {
        return WrongState;
    }
    const GpRect& area = bitmap->lockRect;
    if (bitmap->lockFlags & ImageLockModeWrite) {
        const auto* pixels = static_cast<const BYTE*>(lockedData->Scan0);
        if (pixels == nullptr) {
            return InvalidParameter;
        }
        cairo_surface_flush(bitmap->surface);
        for (int y = 0; y < area.Height; ++y) {
            const auto* source = reinterpret_cast<const uint32_t*>(
                pixels + static_cast<ptrdiff_t>(y) * lockedData->Stride);
            uint32_t* target = Row(bitmap->surface, area.Y + y) + area.X;
            for (int x = 0; x < area.Width; ++x) {
                target[x] = ToSurface(source[x], bitmap->lockFormat);
            }
        }
        cairo_surface_mark_dirty(bitmap->surface);
    }
    bitmap->locked = false;
    bitmap->lockBuffer.clear();
    bitmap->lockBuffer.shrink_to_fit();
    return Ok;
}

GpStatus GdipBitmapGetPixel(GpBitmap* image, INT x, INT y, ARGB* color)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || color == nullptr) {
        return InvalidParameter;
    }
    BitmapObject* bitmap = AsBitmap(image);
    if (bitmap->locked) {
        return WrongState;
    }
    if (!InsideBitmap(bitmap, x, y, 1, 1)) {
        return InvalidParameter;
    }
    cairo_surface_flush(bitmap->surface);
    *color = Unpremultiply(Row(bitmap->surface, y)[x]);
    return Ok;
}

GpStatus GdipBitmapSetPixel(GpBitmap* image, INT x, INT y, ARGB color)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr) {
        return InvalidParameter;
    }
    BitmapObject* bitmap = AsBitmap(image);
    if (bitmap->locked) {
        return WrongState;
    }
    if (!InsideBitmap(bitmap, x, y, 1, 1)) {
        return InvalidParameter;
    }
    cairo_surface_flush(bitmap->surface);
    Row(bitmap->surface, y)[x] = Premultiply(color);
    cairo_surface_mark_dirty_rectangle(bitmap->surface, x, y, 1, 1);
    return Ok;
}

GpStatus GdipCloneBitmapAreaI(INT x, INT y, INT width, INT height, PixelFormat format,
                              GpBitmap* source, GpBitmap** clone)
{
    GDIP_REQUIRE_STARTED();
    if (source == nullptr || clone == nullptr || !IsKnownFormat(format)) {
        return InvalidParameter;
    }
    *clone = nullptr;
    BitmapObject* bitmap = AsBitmap(source);
    if (bitmap->locked) {
        return WrongState;
    }
    if (!InsideBitmap(bitmap, x, y, width, height)) {
        return InvalidParameter;
    }
    cairo_surface_t* surface = NewSurface(width, height);
    if (surface == nullptr) {
        return OutOfMemory;
    }
    cairo_surface_flush(bitmap->surface);
    for (int row = 0; row < height; ++row) {
        const uint32_t* from = Row(bitmap->surface, y + row) + x;
        uint32_t* to = Row(surface, row);
        for (int column = 0; column < width; ++column) {
            // An opaque format drops what alpha the source had.
            to[column] = format == PixelFormat32bppRGB
                             ? ToSurface(FromSurface(from[column], format), format)
                             : from[column];
        }
    }
    cairo_surface_mark_dirty(surface);
    auto* copy = new BitmapObject(surface);
    copy->dpiX = bitmap->dpiX;
    copy->dpiY = bitmap->dpiY;
    copy->format = format;
    *clone = copy;
    return Ok;
}

GpStatus GdipCreateCachedBitmap(GpBitmap* image, GpGraphics* graphics,
                                GpCachedBitmap** cachedBitmap)
{
    GDIP_REQUIRE_STARTED();
    if (image == nullptr || graphics == nullptr || cachedBitmap == nullptr) {
        return InvalidParameter;
    }
    *cachedBitmap = nullptr;
    BitmapObject* bitmap = AsBitmap(image);
    if (bitmap->locked) {
        return WrongState;
    }
    cairo_surface_t* copy = CopyToArgbSurface(bitmap->surface);
    if (copy == nullptr) {
        return OutOfMemory;
    }
    *cachedBitmap = new GpCachedBitmap{copy};
    return Ok;
}

GpStatus GdipDeleteCachedBitmap(GpCachedBitmap* cachedBitmap)
{
    return DeleteObject(cachedBitmap);
}

}  // namespace Gdiplus
