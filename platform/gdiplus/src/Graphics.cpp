#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "GdiplusObjects.h"
#include "Pixels.h"
#include "gdiplus/GdiplusFlat.h"
#include "win32/WindowSurface.h"

namespace Gdiplus {
namespace {

constexpr REAL kScreenDpi = 96.0f;
// What GetClipBounds reports for an unclipped graphics object.
constexpr INT kInfiniteClipOrigin = -4194304;
constexpr INT kInfiniteClipExtent = 8388608;

cairo_antialias_t AntialiasOf(SmoothingMode mode)
{
    return mode == SmoothingModeAntiAlias || mode == SmoothingModeHighQuality
               ? CAIRO_ANTIALIAS_DEFAULT
               : CAIRO_ANTIALIAS_NONE;
}

// The device-space bounding box of a world rectangle (the transforms used are translations and
// scales, so the box is the rectangle itself).
void ToDevice(const cairo_matrix_t& world, double x, double y, double width, double height,
              double& left, double& top, double& right, double& bottom)
{
    double x0 = x, y0 = y, x1 = x + width, y1 = y + height;
    cairo_matrix_transform_point(&world, &x0, &y0);
    cairo_matrix_transform_point(&world, &x1, &y1);
    left = std::min(x0, x1);
    right = std::max(x0, x1);
    top = std::min(y0, y1);
    bottom = std::max(y0, y1);
}

GpStatus SetClip(GpGraphics* graphics, double x, double y, double width, double height,
                 CombineMode mode)
{
    if (graphics == nullptr || std::isnan(x) || std::isnan(y) || std::isnan(width) ||
        std::isnan(height)) {
        return InvalidParameter;
    }
    if (mode != CombineModeReplace && mode != CombineModeIntersect) {
        return NotImplemented;
    }
    double left, top, right, bottom;
    ToDevice(graphics->world, x, y, width, height, left, top, right, bottom);
    if (mode == CombineModeIntersect && graphics->hasClip) {
        left = std::max(left, graphics->clipLeft);
        top = std::max(top, graphics->clipTop);
        right = std::max(left, std::min(right, graphics->clipRight));
        bottom = std::max(top, std::min(bottom, graphics->clipBottom));
    }
    graphics->hasClip = true;
    graphics->clipLeft = left;
    graphics->clipTop = top;
    graphics->clipRight = right;
    graphics->clipBottom = bottom;
    return Ok;
}

}  // namespace

GpGraphics::~GpGraphics()
{
    cairo_surface_destroy(target);
}

cairo_t* BeginDrawing(GpGraphics* graphics)
{
    cairo_t* cr = cairo_create(graphics->target);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return nullptr;
    }
    if (graphics->hasClip) {
        cairo_rectangle(cr, graphics->clipLeft, graphics->clipTop,
                        graphics->clipRight - graphics->clipLeft,
                        graphics->clipBottom - graphics->clipTop);
        cairo_clip(cr);
    }
    cairo_set_matrix(cr, &graphics->world);
    cairo_set_antialias(cr, AntialiasOf(graphics->smoothing));
    cairo_set_operator(cr, graphics->compositing == CompositingModeSourceCopy
                               ? CAIRO_OPERATOR_SOURCE
                               : CAIRO_OPERATOR_OVER);
    return cr;
}

bool IsAliased(const GpGraphics* graphics)
{
    return AntialiasOf(graphics->smoothing) == CAIRO_ANTIALIAS_NONE;
}

GpStatus EndDrawing(cairo_t* cr)
{
    const GpStatus status = FromCairo(cairo_status(cr));
    cairo_surface_mark_dirty(cairo_get_target(cr));
    cairo_destroy(cr);
    return status;
}

GpStatus GdipCreateFromHWND(HWND window, GpGraphics** graphics)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    *graphics = nullptr;
    Win32Detail::WindowSurface pixels{};
    if (!Win32Detail::GetWindowSurface(window, &pixels)) {
        // A window without a client area still gets a graphics object, on one pixel of its own.
        if (!IsWindow(window)) {
            return Win32Error;
        }
        cairo_surface_t* nothing = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
        auto* created = new GpGraphics{};
        created->target = nothing;
        cairo_matrix_init_identity(&created->world);
        *graphics = created;
        return Ok;
    }
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(pixels.pixels), CAIRO_FORMAT_RGB24, pixels.width,
        pixels.height, pixels.stride);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        const GpStatus status = FromCairo(cairo_surface_status(surface));
        cairo_surface_destroy(surface);
        return status;
    }
    // The surface keeps the window's pixels alive, so a window destroyed first leaves the
    // graphics object drawing into memory nobody shows instead of into freed memory.
    static cairo_user_data_key_t holderKey;
    auto* holder = new std::shared_ptr<void>(std::move(pixels.holder));
    const cairo_status_t attached = cairo_surface_set_user_data(
        surface, &holderKey, holder,
        [](void* data) { delete static_cast<std::shared_ptr<void>*>(data); });
    if (attached != CAIRO_STATUS_SUCCESS) {
        delete holder;
        cairo_surface_destroy(surface);
        return OutOfMemory;
    }
    auto* created = new GpGraphics{};
    created->target = surface;
    created->window = window;
    cairo_matrix_init_identity(&created->world);
    *graphics = created;
    return Ok;
}

GpStatus GdipDeleteGraphics(GpGraphics* graphics)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    cairo_surface_flush(graphics->target);
    if (graphics->window != nullptr) {
        Win32Detail::PresentWindowSurface(graphics->window);
    }
    delete graphics;
    return Ok;
}

GpStatus GdipGraphicsClear(GpGraphics* graphics, ARGB color)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    cairo_t* cr = BeginDrawing(graphics);
    if (cr == nullptr) {
        return OutOfMemory;
    }
    const uint32_t premultiplied = Premultiply(color);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                          (color & 0xFF) / 255.0, (premultiplied >> 24) / 255.0);
    cairo_paint(cr);
    return EndDrawing(cr);
}

GpStatus GdipFlush(GpGraphics* graphics, GpFlushIntention intention)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr ||
        (intention != FlushIntentionFlush && intention != FlushIntentionSync)) {
        return InvalidParameter;
    }
    cairo_surface_flush(graphics->target);
    if (graphics->window != nullptr) {
        Win32Detail::PresentWindowSurface(graphics->window);
    }
    return Ok;
}

GpStatus GdipGetDpiX(GpGraphics* graphics, REAL* dpi)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || dpi == nullptr) {
        return InvalidParameter;
    }
    *dpi = kScreenDpi;
    return Ok;
}

GpStatus GdipGetDpiY(GpGraphics* graphics, REAL* dpi)
{
    return GdipGetDpiX(graphics, dpi);
}

GpStatus GdipSetClipRectI(GpGraphics* graphics, INT x, INT y, INT width, INT height,
                          CombineMode combineMode)
{
    GDIP_REQUIRE_STARTED();
    return SetClip(graphics, x, y, width, height, combineMode);
}

GpStatus GdipSetClipRect(GpGraphics* graphics, REAL x, REAL y, REAL width, REAL height,
                         CombineMode combineMode)
{
    GDIP_REQUIRE_STARTED();
    return SetClip(graphics, x, y, width, height, combineMode);
}

GpStatus GdipResetClip(GpGraphics* graphics)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    graphics->hasClip = false;
    return Ok;
}

GpStatus GdipGetClipBoundsI(GpGraphics* graphics, GpRect* rect)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || rect == nullptr) {
        return InvalidParameter;
    }
    if (!graphics->hasClip) {
        *rect = GpRect{kInfiniteClipOrigin, kInfiniteClipOrigin, kInfiniteClipExtent,
                       kInfiniteClipExtent};
        return Ok;
    }
    cairo_matrix_t inverse = graphics->world;
    if (cairo_matrix_invert(&inverse) != CAIRO_STATUS_SUCCESS) {
        return GenericError;
    }
    double left, top, right, bottom;
    ToDevice(inverse, graphics->clipLeft, graphics->clipTop,
             graphics->clipRight - graphics->clipLeft, graphics->clipBottom - graphics->clipTop,
             left, top, right, bottom);
    *rect = GpRect{static_cast<INT>(std::floor(left)), static_cast<INT>(std::floor(top)),
                   static_cast<INT>(std::ceil(right) - std::floor(left)),
                   static_cast<INT>(std::ceil(bottom) - std::floor(top))};
    return Ok;
}

GpStatus GdipTranslateWorldTransform(GpGraphics* graphics, REAL dx, REAL dy, GpMatrixOrder order)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || std::isnan(dx) || std::isnan(dy)) {
        return InvalidParameter;
    }
    cairo_matrix_t translation;
    cairo_matrix_init_translate(&translation, dx, dy);
    if (order == MatrixOrderPrepend) {
        cairo_matrix_multiply(&graphics->world, &translation, &graphics->world);
    } else if (order == MatrixOrderAppend) {
        cairo_matrix_multiply(&graphics->world, &graphics->world, &translation);
    } else {
        return InvalidParameter;
    }
    return Ok;
}

GpStatus GdipResetWorldTransform(GpGraphics* graphics)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    cairo_matrix_init_identity(&graphics->world);
    return Ok;
}

GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias) {
        return InvalidParameter;
    }
    graphics->smoothing = mode;
    return Ok;
}

GpStatus GdipGetSmoothingMode(GpGraphics* graphics, SmoothingMode* mode)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || mode == nullptr) {
        return InvalidParameter;
    }
    *mode = graphics->smoothing;
    return Ok;
}

GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || mode < InterpolationModeDefault ||
        mode > InterpolationModeHighQualityBicubic) {
        return InvalidParameter;
    }
    graphics->interpolation = mode;
    return Ok;
}

GpStatus GdipSetCompositingMode(GpGraphics* graphics, CompositingMode mode)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr ||
        (mode != CompositingModeSourceOver && mode != CompositingModeSourceCopy)) {
        return InvalidParameter;
    }
    graphics->compositing = mode;
    return Ok;
}

GpStatus GdipSetPixelOffsetMode(GpGraphics* graphics, PixelOffsetMode mode)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf) {
        return InvalidParameter;
    }
    return Ok;
}

}  // namespace Gdiplus
