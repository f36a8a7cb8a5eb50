#include <cairo.h>

#include <cmath>

#include "GdiplusObjects.h"
#include "gdiplus/GdiplusFlat.h"

namespace Gdiplus {
namespace {

void SetSourceColor(cairo_t* cr, ARGB color)
{
    cairo_set_source_rgba(cr, ((color >> 16) & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                          (color & 0xFF) / 255.0, ((color >> 24) & 0xFF) / 255.0);
}

cairo_extend_t ExtendOf(GpWrapMode mode)
{
    switch (mode) {
        case WrapModeTile:
            return CAIRO_EXTEND_REPEAT;
        case WrapModeClamp:
            return CAIRO_EXTEND_NONE;
        default:
            return CAIRO_EXTEND_REFLECT;
    }
}

cairo_filter_t FilterOf(const GpGraphics* graphics)
{
    return graphics->interpolation == InterpolationModeNearestNeighbor ? CAIRO_FILTER_NEAREST
                                                                       : CAIRO_FILTER_BILINEAR;
}

// The brush as the context's source. Textures are anchored at the world origin.
GpStatus SetSourceBrush(cairo_t* cr, const GpGraphics* graphics, GpBrush* brush)
{
    if (auto* solid = dynamic_cast<SolidFillObject*>(brush)) {
        SetSourceColor(cr, solid->color);
        return Ok;
    }
    if (auto* texture = dynamic_cast<TextureObject*>(brush)) {
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(texture->tile);
        cairo_pattern_set_extend(pattern, ExtendOf(texture->wrapMode));
        cairo_pattern_set_filter(pattern, FilterOf(graphics));
        cairo_set_source(cr, pattern);
        cairo_pattern_destroy(pattern);
        return Ok;
    }
    return InvalidParameter;
}

// Aliased outlines move by half a pixel and get square ends, so that a line from pixel a to
// pixel b along a whole coordinate covers the pixels a to b, both included, as GDI+ draws them.
void SetPen(cairo_t* cr, const GpGraphics* graphics, const GpPen* pen)
{
    SetSourceColor(cr, pen->color);
    // A pen of width 0 draws one pixel wide, as GDI+ does.
    cairo_set_line_width(cr, pen->width > 0.0f ? pen->width : 1.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    if (IsAliased(graphics)) {
        cairo_translate(cr, 0.5, 0.5);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    } else {
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    }
}

void AppendPath(cairo_t* cr, const GpPath* path)
{
    for (const GpPath::Figure& figure : path->figures) {
        if (figure.points.empty()) {
            continue;
        }
        cairo_move_to(cr, figure.points[0].X, figure.points[0].Y);
        for (size_t i = 1; i < figure.points.size(); ++i) {
            cairo_line_to(cr, figure.points[i].X, figure.points[i].Y);
        }
        if (figure.closed) {
            cairo_close_path(cr);
        }
    }
}

// A drawing context with the pen set, or null when Cairo fails.
cairo_t* BeginStroke(GpGraphics* graphics, const GpPen* pen)
{
    cairo_t* cr = BeginDrawing(graphics);
    if (cr != nullptr) {
        SetPen(cr, graphics, pen);
    }
    return cr;
}

// Draws srcWidth x srcHeight of the surface at (srcX, srcY) into the destination rectangle.
GpStatus DrawSurface(GpGraphics* graphics, cairo_surface_t* surface, double dstX, double dstY,
                     double dstWidth, double dstHeight, double srcX, double srcY, double srcWidth,
                     double srcHeight)
{
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth == 0 || dstHeight == 0) {
        return Ok;
    }
    cairo_t* cr = BeginDrawing(graphics);
    if (cr == nullptr) {
        return OutOfMemory;
    }
    cairo_translate(cr, dstX, dstY);
    cairo_scale(cr, dstWidth / srcWidth, dstHeight / srcHeight);
    cairo_set_source_surface(cr, surface, -srcX, -srcY);
    cairo_pattern_set_filter(cairo_get_source(cr), FilterOf(graphics));
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_rectangle(cr, 0, 0, srcWidth, srcHeight);
    cairo_fill(cr);
    return EndDrawing(cr);
}

GpStatus FillRectangle(GpGraphics* graphics, GpBrush* brush, double x, double y, double width,
                       double height)
{
    if (graphics == nullptr || brush == nullptr) {
        return InvalidParameter;
    }
    GpStatus status = Ok;
    cairo_t* cr = BeginFill(graphics, brush, status);
    if (cr == nullptr) {
        return status;
    }
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
    return EndDrawing(cr);
}

GpStatus StrokeLine(GpGraphics* graphics, GpPen* pen, double x1, double y1, double x2, double y2)
{
    if (graphics == nullptr || pen == nullptr) {
        return InvalidParameter;
    }
    cairo_t* cr = BeginStroke(graphics, pen);
    if (cr == nullptr) {
        return OutOfMemory;
    }
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
    cairo_stroke(cr);
    return EndDrawing(cr);
}

}  // namespace

cairo_t* BeginFill(GpGraphics* graphics, GpBrush* brush, GpStatus& status)
{
    cairo_t* cr = BeginDrawing(graphics);
    if (cr == nullptr) {
        status = OutOfMemory;
        return nullptr;
    }
    status = SetSourceBrush(cr, graphics, brush);
    if (status != Ok) {
        cairo_destroy(cr);
        return nullptr;
    }
    return cr;
}

GpStatus GdipFillRectangleI(GpGraphics* graphics, GpBrush* brush, INT x, INT y, INT width,
                            INT height)
{
    GDIP_REQUIRE_STARTED();
    return FillRectangle(graphics, brush, x, y, width, height);
}

GpStatus GdipFillRectangle(GpGraphics* graphics, GpBrush* brush, REAL x, REAL y, REAL width,
                           REAL height)
{
    GDIP_REQUIRE_STARTED();
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height)) {
        return InvalidParameter;
    }
    return FillRectangle(graphics, brush, x, y, width, height);
}

GpStatus GdipDrawRectangleI(GpGraphics* graphics, GpPen* pen, INT x, INT y, INT width, INT height)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || pen == nullptr) {
        return InvalidParameter;
    }
    cairo_t* cr = BeginStroke(graphics, pen);
    if (cr == nullptr) {
        return OutOfMemory;
    }
    cairo_rectangle(cr, x, y, width, height);
    cairo_stroke(cr);
    return EndDrawing(cr);
}

GpStatus GdipDrawLine(GpGraphics* graphics, GpPen* pen, REAL x1, REAL y1, REAL x2, REAL y2)
{
    GDIP_REQUIRE_STARTED();
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) {
        return InvalidParameter;
    }
    return StrokeLine(graphics, pen, x1, y1, x2, y2);
}

GpStatus GdipDrawLineI(GpGraphics* graphics, GpPen* pen, INT x1, INT y1, INT x2, INT y2)
{
    GDIP_REQUIRE_STARTED();
    return StrokeLine(graphics, pen, x1, y1, x2, y2);
}

GpStatus GdipDrawPath(GpGraphics* graphics, GpPen* pen, GpPath* path)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || pen == nullptr || path == nullptr) {
        return InvalidParameter;
    }
    cairo_t* cr = BeginStroke(graphics, pen);
    if (cr == nullptr) {
        return OutOfMemory;
    }
    AppendPath(cr, path);
    cairo_stroke(cr);
    return EndDrawing(cr);
}

GpStatus GdipFillPath(GpGraphics* graphics, GpBrush* brush, GpPath* path)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || brush == nullptr || path == nullptr) {
        return InvalidParameter;
    }
    GpStatus status = Ok;
    cairo_t* cr = BeginFill(graphics, brush, status);
    if (cr == nullptr) {
        return status;
    }
    cairo_set_fill_rule(cr, path->fillMode == FillModeAlternate ? CAIRO_FILL_RULE_EVEN_ODD
                                                                : CAIRO_FILL_RULE_WINDING);
    // Every figure is filled as if closed.
    AppendPath(cr, path);
    cairo_fill(cr);
    return EndDrawing(cr);
}

GpStatus GdipDrawImageI(GpGraphics* graphics, GpImage* image, INT x, INT y)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || image == nullptr) {
        return InvalidParameter;
    }
    auto* bitmap = static_cast<BitmapObject*>(image);
    if (bitmap->locked) {
        return WrongState;
    }
    return DrawSurface(graphics, bitmap->surface, x, y, bitmap->Width(), bitmap->Height(), 0, 0,
                       bitmap->Width(), bitmap->Height());
}

GpStatus GdipDrawImagePointRectI(GpGraphics* graphics, GpImage* image, INT x, INT y, INT srcX,
                                 INT srcY, INT srcWidth, INT srcHeight, GpUnit srcUnit)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || image == nullptr || srcUnit != UnitPixel) {
        return InvalidParameter;
    }
    auto* bitmap = static_cast<BitmapObject*>(image);
    if (bitmap->locked) {
        return WrongState;
    }
    return DrawSurface(graphics, bitmap->surface, x, y, srcWidth, srcHeight, srcX, srcY, srcWidth,
                       srcHeight);
}

namespace {

// The source area of the image drawn into the destination area, for both argument types.
GpStatus DrawImageArea(GpGraphics* graphics, GpImage* image, const double (&dst)[4],
                       const double (&src)[4], GpUnit srcUnit, const GpImageAttributes* attributes)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || image == nullptr || srcUnit != UnitPixel) {
        return InvalidParameter;
    }
    if (attributes != nullptr) {
        return NotImplemented;  // no image attributes are made by this layer
    }
    for (const double value : {dst[0], dst[1], dst[2], dst[3], src[0], src[1], src[2], src[3]}) {
        if (!std::isfinite(value)) {
            return InvalidParameter;
        }
    }
    auto* bitmap = static_cast<BitmapObject*>(image);
    if (bitmap->locked) {
        return WrongState;
    }
    return DrawSurface(graphics, bitmap->surface, dst[0], dst[1], dst[2], dst[3], src[0], src[1],
                       src[2], src[3]);
}

}  // namespace

GpStatus GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dstX, INT dstY,
                                INT dstWidth, INT dstHeight, INT srcX, INT srcY, INT srcWidth,
                                INT srcHeight, GpUnit srcUnit, const GpImageAttributes* attributes,
                                DrawImageAbort, void*)
{
    return DrawImageArea(
        graphics, image, {double(dstX), double(dstY), double(dstWidth), double(dstHeight)},
        {double(srcX), double(srcY), double(srcWidth), double(srcHeight)}, srcUnit, attributes);
}

GpStatus GdipDrawImageRectRect(GpGraphics* graphics, GpImage* image, REAL dstX, REAL dstY,
                               REAL dstWidth, REAL dstHeight, REAL srcX, REAL srcY, REAL srcWidth,
                               REAL srcHeight, GpUnit srcUnit, const GpImageAttributes* attributes,
                               DrawImageAbort, void*)
{
    return DrawImageArea(graphics, image, {dstX, dstY, dstWidth, dstHeight},
                         {srcX, srcY, srcWidth, srcHeight}, srcUnit, attributes);
}

GpStatus GdipDrawCachedBitmap(GpGraphics* graphics, GpCachedBitmap* cachedBitmap, INT x, INT y)
{
    GDIP_REQUIRE_STARTED();
    if (graphics == nullptr || cachedBitmap == nullptr) {
        return InvalidParameter;
    }
    const int width = cairo_image_surface_get_width(cachedBitmap->surface);
    const int height = cairo_image_surface_get_height(cachedBitmap->surface);
    return DrawSurface(graphics, cachedBitmap->surface, x, y, width, height, 0, 0, width, height);
}

}  // namespace Gdiplus
