#pragma once
// What the opaque objects of the flat API hold. Internal to the layer.

#include <cairo.h>

#include <vector>

#include "gdiplus/GdiplusTypes.h"

namespace Gdiplus {

// A bitmap owns one premultiplied ARGB32 Cairo surface.
struct BitmapObject : GpBitmap
{
    explicit BitmapObject(cairo_surface_t* surface);
    ~BitmapObject() override;
    BitmapObject(const BitmapObject&) = delete;
    BitmapObject& operator=(const BitmapObject&) = delete;

    int Width() const { return cairo_image_surface_get_width(surface); }
    int Height() const { return cairo_image_surface_get_height(surface); }

    cairo_surface_t* surface;
    REAL dpiX = 96.0f;
    REAL dpiY = 96.0f;
    // The format the image reports: what it was created in (a decoded PNG is straight ARGB).
    PixelFormat format = PixelFormat32bppARGB;

    // While locked: the area, the caller's view of it and, unless the caller brought its own
    // buffer, the pixels handed out.
    bool locked = false;
    GpRect lockRect{};
    UINT lockFlags = 0;
    PixelFormat lockFormat = 0;
    std::vector<uint32_t> lockBuffer;
};

struct SolidFillObject : GpSolidFill
{
    explicit SolidFillObject(ARGB color) : color(color) {}
    ARGB color;
};

struct TextureObject : GpTexture
{
    TextureObject(cairo_surface_t* tile, GpWrapMode wrapMode);
    ~TextureObject() override;
    TextureObject(const TextureObject&) = delete;
    TextureObject& operator=(const TextureObject&) = delete;
    cairo_surface_t* tile;  // a copy of the image, taken at creation
    GpWrapMode wrapMode;
};

}  // namespace Gdiplus

struct Gdiplus::GpPen
{
    ARGB color;
    REAL width;
};

struct Gdiplus::GpMatrix
{
    cairo_matrix_t matrix;
};

struct Gdiplus::GpPath
{
    struct Figure
    {
        std::vector<GpPointF> points;
        bool closed = false;
    };
    GpFillMode fillMode = FillModeAlternate;
    std::vector<Figure> figures;
    bool startNewFigure = true;
};

struct Gdiplus::GpCachedBitmap
{
    ~GpCachedBitmap();
    cairo_surface_t* surface;
};

// A graphics object draws into a surface it holds a reference to (a bitmap's, or one over a
// window's pixels). Its state is applied afresh for every drawing call.
struct Gdiplus::GpGraphics
{
    ~GpGraphics();
    cairo_surface_t* target;
    HWND window = nullptr;  // the window drawn into, told when the drawing is flushed
    cairo_matrix_t world;   // world to device
    bool hasClip = false;
    double clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;  // device pixels
    SmoothingMode smoothing = SmoothingModeDefault;
    InterpolationMode interpolation = InterpolationModeDefault;
    CompositingMode compositing = CompositingModeSourceOver;
};

namespace Gdiplus {

// Whether GdiplusStartup is in effect.
bool IsStarted();

// A Cairo status as the API's.
GpStatus FromCairo(cairo_status_t status);

// A new cairo context on the graphics' target with clip, transform, antialiasing and operator
// applied; null when Cairo fails. The caller destroys it.
cairo_t* BeginDrawing(GpGraphics* graphics);
// A drawing context with the brush as its source, or null with the failure in status.
cairo_t* BeginFill(GpGraphics* graphics, GpBrush* brush, GpStatus& status);
// Strokes of aliased drawing are moved by half a pixel so that they cover whole pixels.
bool IsAliased(const GpGraphics* graphics);
// Ends a drawing call: the context's status as the call's, then the context destroyed.
GpStatus EndDrawing(cairo_t* cr);

// A new premultiplied ARGB32 surface holding the image's pixels; null on failure.
cairo_surface_t* CopyToArgbSurface(cairo_surface_t* source);
// The width x height area at (x, y) of the source as a new ARGB surface; null when it cannot be
// made. Parts outside the source are transparent.
cairo_surface_t* CopyAreaToArgbSurface(cairo_surface_t* source, int x, int y, int width,
                                       int height);

// The Delete and Dispose calls: the object destroyed through its own destructor.
template <class Object>
GpStatus DeleteObject(Object* object)
{
    if (!IsStarted()) {
        return GdiplusNotInitialized;
    }
    if (object == nullptr) {
        return InvalidParameter;
    }
    delete object;
    return Ok;
}

}  // namespace Gdiplus

#define GDIP_REQUIRE_STARTED()            \
    do {                                  \
        if (!::Gdiplus::IsStarted()) {    \
            return GdiplusNotInitialized; \
        }                                 \
    } while (false)
