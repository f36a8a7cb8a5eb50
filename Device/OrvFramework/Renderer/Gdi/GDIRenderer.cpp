#include "Renderer/Gdi/GDIRenderer.h"

#include <algorithm>
#include <cmath>

#include "ObjectBase/Exception.h"
#include "Renderer/Gdi/GDIMeasurementRenderer.h"
#include "win32/Time.h"

namespace Orv {
namespace {

using namespace Gdiplus;

// Offsets beyond 2^52 are no longer whole numbers apart as doubles.
constexpr double kOffsetLimit = 4503599627370496.0;
// The skin's "Stretch", "Tile" and "Center".
constexpr int kResizeStretch = 0;
constexpr int kResizeTile = 1;
constexpr int kResizeCenter = 2;
// Tile steps stay within the range where floats still count whole pixels.
constexpr float kTileStepLimit = 8388608.0f;
// A scale closer to 1 than this draws the cached path itself.
constexpr double kScaleTolerance = 1.1920928955078125e-06;

double ClampOffset(float value)
{
    return std::clamp(static_cast<double>(value), -kOffsetLimit, kOffsetLimit);
}

}  // namespace

LGDIRenderer::LGraphicsPath::LGraphicsPath()
{
    GdipCreatePath(FillModeAlternate, &path);
}

LGDIRenderer::LGraphicsPath::~LGraphicsPath()
{
    if (path != nullptr) {
        GdipDeletePath(path);
    }
}

LGDIRenderer::LCachedBitmap::LCachedBitmap(GpBitmap* bitmap, GpGraphics* graphics)
{
    status = GdipCreateCachedBitmap(bitmap, graphics, &cached);
}

LGDIRenderer::LCachedBitmap::~LCachedBitmap()
{
    if (cached != nullptr) {
        GdipDeleteCachedBitmap(cached);
    }
}

// The renderer cannot reach the application object; its clock is timeGetTime all the same.
LGDIRenderer::LGDIRenderer() : lastPurge(timeGetTime()) {}

LGDIRenderer::~LGDIRenderer() = default;

GpGraphics* LGDIRenderer::Graphics() const
{
    return currentContext ? currentContext->GetFrontGraphics() : nullptr;
}

void LGDIRenderer::Keep(GpStatus status)
{
    if (status != Ok) {
        lastStatus = status;
    }
}

ORVRESULT LGDIRenderer::GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight, int& ascent,
                                       int& descent)
{
    if (!font) {
        return E_INVALIDARG;
    }
    GetGdiFontMetrics(*font, lineHeight, ascent, descent);
    return S_OK;
}

RectT<float> LGDIRenderer::MeasureText(const WideString& text, const ConstRCPtr<LFont>& font)
{
    return MeasureGdiText(*this, measurer, text, font);
}

ORVRESULT LGDIRenderer::InitRenderContextInfo(const RectT<LongCoord>& clientRect, HWND window,
                                              int present, RCPtr<LRenderContextInfo>& context)
{
    context = RCPtr<LRenderContextInfo>(new LGDIRenderContextInfo(clientRect, window, present));
    return context ? S_OK : E_FAIL;
}

ORVRESULT LGDIRenderer::RenderStart(const RCPtr<LRenderContextInfo>& context)
{
    LRenderer::RenderStart(context);
    currentContext = DynamicRCPtrCast<LGDIRenderContextInfo>(context);
    if (!currentContext) {
        return S_OK;
    }
    currentContext->PrepareSurfaces();
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return S_OK;
    }
    REAL dpi = 96.0f;
    Keep(GdipGetDpiX(graphics, &dpi));
    textScale = 96.0f / dpi;
    Keep(GdipSetSmoothingMode(graphics, SmoothingModeHighSpeed));
    Keep(GdipSetInterpolationMode(graphics, InterpolationModeNearestNeighbor));
    Keep(GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighSpeed));
    Keep(GdipSetCompositingMode(graphics, CompositingModeSourceOver));
    // The surface's graphics object outlives paints: it starts each one from the identity, so
    // an offset kept by the context is applied once, not once per paint.
    Keep(GdipResetWorldTransform(graphics));
    const RenderState& state = currentContext->GetCurrentState();
    if (GetContextDepth() == 1 && (state.offsetX != 0.0 || state.offsetY != 0.0)) {
        Keep(GdipTranslateWorldTransform(graphics, static_cast<REAL>(state.offsetX),
                                         static_cast<REAL>(state.offsetY), MatrixOrderAppend));
    }
    return S_OK;
}

ORVRESULT LGDIRenderer::RenderFinish(const RCPtr<LRenderContextInfo>& context)
{
    if (currentContext) {
        currentContext->Present();
        currentContext = nullptr;
    }
    LRenderer::RenderFinish(context);
    if (LRenderContextInfo* top = GetCurrentContext()) {
        currentContext = RCPtr<LGDIRenderContextInfo>(dynamic_cast<LGDIRenderContextInfo*>(top));
    }
    PurgeBitmapsWhenDue();
    return S_OK;
}

void LGDIRenderer::DrawText(const WideString& text, const ConstRCPtr<LFont>& font,
                            const PointT<LongCoord>& origin, const ColorT& color)
{
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr || !font) {
        return;
    }
    GpFontFamily* family = CreateGdiFontFamily(font->GetName());
    if (family == nullptr) {
        Keep(FontFamilyNotFound);
        return;
    }
    GpFont* gdiFont = nullptr;
    GpSolidFill* brush = nullptr;
    Keep(
        GdipCreateFont(family, font->GetSize() * textScale, font->GetStyle(), UnitPoint, &gdiFont));
    Keep(GdipCreateSolidFill(color.ToPackedARGB(), &brush));
    if (gdiFont != nullptr && brush != nullptr) {
        const GpRectF layout{static_cast<REAL>(origin.x), static_cast<REAL>(origin.y) - 1.0f, 0, 0};
        Keep(GdipDrawString(graphics, text.GetText(), -1, gdiFont, &layout, nullptr, brush));
    }
    if (brush != nullptr) {
        GdipDeleteBrush(brush);
    }
    if (gdiFont != nullptr) {
        GdipDeleteFont(gdiFont);
    }
    GdipDeleteFontFamily(family);
}

void LGDIRenderer::DrawRect(const RectT<LongCoord>& rect, const ColorT& color, float lineWidth)
{
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return;
    }
    GpPen* pen = nullptr;
    Keep(GdipCreatePen1(color.ToPackedARGB(), lineWidth, UnitWorld, &pen));
    if (pen != nullptr) {
        Keep(GdipDrawRectangleI(graphics, pen, rect.x, rect.y, rect.width, rect.height));
        GdipDeletePen(pen);
    }
}

void LGDIRenderer::FillRect(const RectT<LongCoord>& rect, const ColorT& color, bool blend)
{
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return;
    }
    GpSolidFill* brush = nullptr;
    Keep(GdipCreateSolidFill(color.ToPackedARGB(), &brush));
    if (brush == nullptr) {
        return;
    }
    if (!blend) {
        Keep(GdipSetCompositingMode(graphics, CompositingModeSourceCopy));
    }
    Keep(GdipFillRectangleI(graphics, brush, rect.x, rect.y, rect.width, rect.height));
    if (!blend) {
        Keep(GdipSetCompositingMode(graphics, CompositingModeSourceOver));
    }
    GdipDeleteBrush(brush);
}

void LGDIRenderer::FillAndDrawRect(const RectT<LongCoord>& rect, const ColorT& fillColor,
                                   const ColorT& lineColor, float lineWidth)
{
    if (fillColor.alpha > 0.0f) {
        FillRect(rect, fillColor, true);
    }
    if (lineColor.alpha > 0.0f) {
        DrawRect(rect, lineColor, lineWidth);
    }
}

void LGDIRenderer::DrawColorRectList(ColorRectListT<float>& list, const PointT<double>& offset,
                                     bool /*keepCached*/)
{
    if (Graphics() == nullptr) {
        return;
    }
    Translate(offset);
    const double scaleX = list.GetScaleX();
    const double scaleY = list.GetScaleY();
    for (uint32_t i = list.GetCount(); i-- > 0;) {
        const RectT<float>& r = list.GetRect(i);
        const RectT<LongCoord> scaled{RoundToLong(r.x * scaleX), RoundToLong(r.y * scaleY),
                                      RoundToLong(r.width * scaleX),
                                      RoundToLong(r.height * scaleY)};
        FillRect(scaled, ColorT::FromPackedARGB(list.GetColor(i)), true);
    }
    Translate({-offset.x, -offset.y});
}

void LGDIRenderer::DrawLine(const PointT<float>& from, const PointT<float>& to, const ColorT& color,
                            float lineWidth)
{
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return;
    }
    GpPen* pen = nullptr;
    Keep(GdipCreatePen1(color.ToPackedARGB(), lineWidth, UnitWorld, &pen));
    if (pen != nullptr) {
        Keep(GdipDrawLine(graphics, pen, from.x, from.y, to.x, to.y));
        GdipDeletePen(pen);
    }
}

void LGDIRenderer::DrawLineSegments(PolylineT<float>& line, const ColorT& color,
                                    const PointT<float>& offset, const PointT<float>& scale,
                                    bool keepCached)
{
    DrawPath(PathKind::Segments, line, color, offset, scale, keepCached);
}

void LGDIRenderer::DrawPolyline(PolylineT<float>& line, const ColorT& color,
                                const PointT<float>& offset, const PointT<float>& scale,
                                bool keepCached)
{
    DrawPath(PathKind::Polyline, line, color, offset, scale, keepCached);
}

void LGDIRenderer::DrawPolygon(PolylineT<float>& line, const ColorT& color,
                               const PointT<float>& offset, const PointT<float>& scale,
                               bool keepCached)
{
    DrawPath(PathKind::Polygon, line, color, offset, scale, keepCached);
}

void LGDIRenderer::FillPolygon(PolylineT<float>& line, const ColorT& color,
                               const PointT<float>& offset, const PointT<float>& scale,
                               bool keepCached)
{
    DrawPath(PathKind::FilledPolygon, line, color, offset, scale, keepCached);
}

void LGDIRenderer::DrawPath(PathKind kind, PolylineT<float>& line, const ColorT& color,
                            const PointT<float>& offset, const PointT<float>& scale,
                            bool keepCached)
{
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return;
    }
    RCPtr<LGraphicsPath>& slot = pathCache.Acquire(line, false);
    if (line.IsChanged()) {
        line.SetChanged(false);
        slot = nullptr;
    }
    if (!slot) {
        slot = RCPtr<LGraphicsPath>(new LGraphicsPath());
        GpPath* path = slot->GetPath();
        const auto* points = reinterpret_cast<const GpPointF*>(line.GetData());
        const auto count = static_cast<INT>(line.GetCount());
        static_assert(sizeof(PointT<float>) == sizeof(GpPointF));
        switch (kind) {
            case PathKind::Segments:
                for (INT i = 0; i + 1 < count; i += 2) {
                    Keep(GdipStartPathFigure(path));
                    Keep(GdipAddPathLine(path, points[i].X, points[i].Y, points[i + 1].X,
                                         points[i + 1].Y));
                }
                break;
            case PathKind::Polyline:
                Keep(GdipAddPathLine2(path, points, count));
                break;
            case PathKind::Polygon:
            case PathKind::FilledPolygon:
                Keep(GdipAddPathPolygon(path, points, count));
                break;
        }
    }
    GpPen* pen = nullptr;
    GpSolidFill* brush = nullptr;
    if (kind == PathKind::FilledPolygon) {
        Keep(GdipCreateSolidFill(color.ToPackedARGB(), &brush));
    } else {
        Keep(GdipCreatePen1(color.ToPackedARGB(), line.GetLineWidth(), UnitWorld, &pen));
    }
    Translate({ClampOffset(offset.x), ClampOffset(offset.y)});
    GpPath* path = slot->GetPath();
    GpPath* clone = nullptr;
    if (std::fabs(scale.x - 1.0) >= kScaleTolerance ||
        std::fabs(scale.y - 1.0) >= kScaleTolerance) {
        GpMatrix* matrix = nullptr;
        Keep(GdipCreateMatrix(&matrix));
        Keep(GdipScaleMatrix(matrix, scale.x, scale.y, MatrixOrderPrepend));
        Keep(GdipClonePath(path, &clone));
        Keep(GdipTransformPath(clone, matrix));
        GdipDeleteMatrix(matrix);
        path = clone;
    }
    if (path != nullptr) {
        Keep(brush != nullptr ? GdipFillPath(graphics, brush, path)
                              : GdipDrawPath(graphics, pen, path));
    }
    if (clone != nullptr) {
        GdipDeletePath(clone);
    }
    Translate({-ClampOffset(offset.x), -ClampOffset(offset.y)});
    if (!keepCached) {
        slot = nullptr;
    }
    if (pen != nullptr) {
        GdipDeletePen(pen);
    }
    if (brush != nullptr) {
        GdipDeleteBrush(brush);
    }
}

void LGDIRenderer::DrawBitmap(const ConstRCPtr<LBitmap>& bitmap,
                              const RectT<LongCoord>& destination, ResizeType resize)
{
    // The lines are those the messages have always carried; log readers search for them.
    if (Graphics() == nullptr) {
        ThrowException(ExceptionKind::RuntimeError, {},
                       ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, 568});
    }
    // A missing image (GetBitmap gives null for one) or an empty destination draws nothing.
    if (!bitmap || bitmap->GetGdiplusBitmap() == nullptr || bitmap->GetWidth() <= 0 ||
        bitmap->GetHeight() <= 0 || destination.width <= 0 || destination.height <= 0) {
        return;
    }
    const int width = static_cast<int>(destination.width);
    const int height = static_cast<int>(destination.height);
    // Drawn at its own size a bitmap needs no resizing, whatever the type says.
    int type = static_cast<int>(resize);
    if (bitmap->GetWidth() == width && bitmap->GetHeight() == height) {
        type = kResizeStretch;
    }
    // The type is part of the key: a bitmap tiled and centred at one size are two pictures.
    RCPtr<LCachedBitmap>& slot = bitmapCache.Acquire({bitmap, width, height, type}, false);
    if (!slot) {
        if (type != kResizeStretch && type != kResizeTile && type != kResizeCenter) {
            ThrowException(ExceptionKind::InvalidArgument,
                           "Invalid ResizeType passed to DrawBitmap.",
                           ThrowSite{__PRETTY_FUNCTION__, ORV_THIS_FILE, 559});
        }
        slot = BuildCachedBitmap(*bitmap, width, height, type);
    }
    if (slot) {
        Keep(GdipDrawCachedBitmap(Graphics(), slot->GetCachedBitmap(),
                                  static_cast<INT>(destination.x),
                                  static_cast<INT>(destination.y)));
    }
}

RCPtr<LGDIRenderer::LCachedBitmap> LGDIRenderer::BuildCachedBitmap(const LBitmap& bitmap, int width,
                                                                   int height, int type)
{
    GpBitmap* source = bitmap.GetGdiplusBitmap();
    const RectT<float> area{static_cast<float>(bitmap.GetX()), static_cast<float>(bitmap.GetY()),
                            static_cast<float>(bitmap.GetWidth()),
                            static_cast<float>(bitmap.GetHeight())};
    GpBitmap* picture = nullptr;
    GpGraphics* target = nullptr;
    Keep(GdipCreateBitmapFromGraphics(width, height, Graphics(), &picture));
    if (picture == nullptr) {
        return nullptr;
    }
    Keep(GdipGetImageGraphicsContext(picture, &target));
    if (target != nullptr) {
        // As fast as the window's own drawing, and no colour bleeds in from beside a sub-bitmap.
        Keep(GdipSetInterpolationMode(target, InterpolationModeNearestNeighbor));
        Keep(GdipSetPixelOffsetMode(target, PixelOffsetModeHighSpeed));
        switch (type) {
            case kResizeStretch:
                Keep(GdipDrawImageRectRect(target, source, 0, 0, static_cast<REAL>(width),
                                           static_cast<REAL>(height), area.x, area.y, area.width,
                                           area.height, UnitPixel, nullptr, nullptr, nullptr));
                break;
            case kResizeTile:
                DrawTiles(target, source, area, width, height);
                break;
            default:
                Keep(GdipDrawImageRectRect(
                    target, source, (static_cast<REAL>(width) - area.width) * 0.5f,
                    (static_cast<REAL>(height) - area.height) * 0.5f, area.width, area.height,
                    area.x, area.y, area.width, area.height, UnitPixel, nullptr, nullptr, nullptr));
                break;
        }
    }
    RCPtr<LCachedBitmap> cached(new LCachedBitmap(picture, Graphics()));
    Keep(cached->GetStatus());
    if (target != nullptr) {
        GdipDeleteGraphics(target);
    }
    GdipDisposeImage(picture);
    return cached->GetCachedBitmap() != nullptr ? cached : nullptr;
}

void LGDIRenderer::DrawTiles(GpGraphics* target, GpBitmap* source, const RectT<float>& area,
                             int width, int height)
{
    const float across = static_cast<float>(width) / area.width;
    const float down = static_cast<float>(height) / area.height;
    if (across < 3.0f && down < 3.0f) {
        // At most three copies each way: drawing them costs less than a texture.
        const float stepX = std::clamp(area.width, -kTileStepLimit, kTileStepLimit);
        const float stepY = std::clamp(area.height, -kTileStepLimit, kTileStepLimit);
        for (float x = 0; x < static_cast<float>(width); x += stepX) {
            for (float y = 0; y < static_cast<float>(height); y += stepY) {
                Keep(GdipDrawImageRectRect(target, source, x, y, area.width, area.height, area.x,
                                           area.y, area.width, area.height, UnitPixel, nullptr,
                                           nullptr, nullptr));
            }
        }
        return;
    }
    GpTexture* brush = nullptr;
    GpBitmap* tiled = nullptr;
    GpGraphics* tiledGraphics = nullptr;
    Keep(GdipCreateTextureIA(source, nullptr, area.x, area.y, area.width, area.height, &brush));
    Keep(GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &tiled));
    if (tiled != nullptr) {
        Keep(GdipGetImageGraphicsContext(tiled, &tiledGraphics));
    }
    if (brush != nullptr && tiledGraphics != nullptr) {
        Keep(GdipFillRectangle(tiledGraphics, brush, 0, 0, static_cast<REAL>(width),
                               static_cast<REAL>(height)));
        Keep(GdipDrawImageRectRect(target, tiled, 0, 0, static_cast<REAL>(width),
                                   static_cast<REAL>(height), 0, 0, static_cast<REAL>(width),
                                   static_cast<REAL>(height), UnitPixel, nullptr, nullptr,
                                   nullptr));
    }
    if (tiledGraphics != nullptr) {
        GdipDeleteGraphics(tiledGraphics);
    }
    if (tiled != nullptr) {
        GdipDisposeImage(tiled);
    }
    if (brush != nullptr) {
        GdipDeleteBrush(brush);
    }
}

void LGDIRenderer::PurgeBitmapsWhenDue()
{
    const uint32_t now = timeGetTime();
    if (static_cast<int32_t>(now - lastPurge) > kBitmapPurgeInterval) {
        bitmapCache.PurgeOlderThan(bitmapCache.GetPurgeMark());
        bitmapCache.SetPurgeMark(bitmapCache.GetUseCounter());
        lastPurge = now;
    }
}

ORVRESULT LGDIRenderer::DrawContextRect(const RCPtr<LRenderContextInfo>& source,
                                        const PointT<LongCoord>& destination,
                                        const RectT<LongCoord>& sourceRect)
{
    auto* gdiSource = dynamic_cast<LGDIRenderContextInfo*>(source.Get());
    if (gdiSource == nullptr || gdiSource->GetPresentFlag() == 0) {
        return E_INVALIDARG;
    }
    GpGraphics* graphics = Graphics();
    if (graphics == nullptr) {
        return S_OK;
    }
    const GpStatus status = GdipDrawImagePointRectI(
        graphics, gdiSource->GetFrontSurface()->GetBitmap(), destination.x, destination.y,
        sourceRect.x, sourceRect.y, sourceRect.width, sourceRect.height, UnitPixel);
    Keep(status);
    return status == Ok ? S_OK : E_FAIL;
}

ORVRESULT LGDIRenderer::DrawContext(const RCPtr<LRenderContextInfo>& source,
                                    const PointT<LongCoord>& destination)
{
    auto* gdiSource = dynamic_cast<LGDIRenderContextInfo*>(source.Get());
    if (gdiSource == nullptr || gdiSource->GetPresentFlag() == 0) {
        return E_INVALIDARG;
    }
    const RCPtr<LGDIRendererOffscreenSurface> picture = gdiSource->GetFrontSurface();
    gdiSource->SwapSurfaces();
    GpGraphics* target = gdiSource->GetFrontGraphics();
    GpBitmap* pixels = picture->GetBitmap();
    if (target == nullptr || pixels == nullptr) {
        return E_FAIL;
    }
    GpStatus status = GdipGraphicsClear(target, 0);
    const std::pair<int32_t, int32_t> size = picture->GetSize();
    if (status == Ok) {
        status = GdipDrawImagePointRectI(target, pixels, destination.x, destination.y, 0, 0,
                                         size.first, size.second, UnitPixel);
    }
    Keep(status);
    return status == Ok ? S_OK : E_FAIL;
}

void LGDIRenderer::SetClipRect(const RectT<double>& clip)
{
    LRenderer::SetClipRect(clip);
    if (GpGraphics* graphics = Graphics()) {
        Keep(GdipSetClipRect(graphics, static_cast<REAL>(clip.x), static_cast<REAL>(clip.y),
                             static_cast<REAL>(clip.width), static_cast<REAL>(clip.height),
                             CombineModeReplace));
    }
}

void LGDIRenderer::Translate(const PointT<double>& delta)
{
    LRenderer::Translate(delta);
    GpGraphics* graphics = Graphics();
    RenderState* state = GetCurrentState();
    if (graphics != nullptr && state != nullptr) {
        Keep(GdipResetWorldTransform(graphics));
        Keep(GdipTranslateWorldTransform(graphics, static_cast<REAL>(state->offsetX),
                                         static_cast<REAL>(state->offsetY), MatrixOrderPrepend));
    }
}

}  // namespace Orv
