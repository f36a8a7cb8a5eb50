#pragma once
// Renderer type 1, the default: the renderer operations on GDI+, drawing into the front surface
// of an LGDIRenderContextInfo, which is copied to the window at the end of each paint. Paths built
// from polylines are cached between paints (PurgableObjectCache) until the polyline changes or
// the caller asks not to keep them.
//
// The world transform of the front graphics is always exactly the translation by the current
// offset, and its clip the current clip, so GDI+ applies both to every drawing call. The state's
// alpha is not applied: colours are drawn as given. GDI+ failures are kept as the last status,
// never thrown; outside a paint the drawing operations do nothing, while MeasureText and
// GetFontMetrics work at any time. GDI+ must be started before the first renderer is made.
//
// UI thread only.

#include <gdiplus.h>

#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Renderer/Gdi/GDITextMeasurer.h"
#include "Renderer/PurgableObjectCache.h"
#include "Renderer/Renderer.h"
#include "Utilities/Graphics/Bitmap.h"

namespace Orv {

class LGDIRenderer : public LRenderer
{
public:
    static constexpr int kCacheCapacity = 256;

    // A GDI+ path built from a polyline; deleted with it.
    class LGraphicsPath : public virtual LRefCountedObject
    {
    public:
        LGraphicsPath();
        ~LGraphicsPath() override;
        LGraphicsPath(const LGraphicsPath&) = delete;
        LGraphicsPath& operator=(const LGraphicsPath&) = delete;
        Gdiplus::GpPath* GetPath() const { return path; }

    private:
        Gdiplus::GpPath* path = nullptr;
    };

    // A device-dependent copy of a bitmap at the size it is drawn; deleted with it.
    class LCachedBitmap : public virtual LRefCountedObject
    {
    public:
        LCachedBitmap(Gdiplus::GpBitmap* bitmap, Gdiplus::GpGraphics* graphics);
        ~LCachedBitmap() override;
        LCachedBitmap(const LCachedBitmap&) = delete;
        LCachedBitmap& operator=(const LCachedBitmap&) = delete;
        Gdiplus::GpCachedBitmap* GetCachedBitmap() const { return cached; }
        Gdiplus::GpStatus GetStatus() const { return status; }

    private:
        Gdiplus::GpCachedBitmap* cached = nullptr;
        Gdiplus::GpStatus status = Gdiplus::Ok;
    };

    // The bitmap cache's key: a bitmap at one drawn size, resized one way. Buckets by the address
    // bits of the GDI+ bitmap behind it: Bits bits from bit 4 on.
    template <int Bits>
    struct CashableBitmapDescriptor
    {
        ConstRCPtr<LBitmap> bitmap;
        int width = 0;
        int height = 0;
        int resizeType = 0;

        bool operator==(const CashableBitmapDescriptor& other) const
        {
            return bitmap.Get() == other.bitmap.Get() && width == other.width &&
                   height == other.height && resizeType == other.resizeType;
        }
        static uint32_t GetHashBits(const CashableBitmapDescriptor& descriptor)
        {
            const auto address = reinterpret_cast<uintptr_t>(
                descriptor.bitmap ? descriptor.bitmap->GetGdiplusBitmap() : nullptr);
            return static_cast<uint32_t>((address >> 4) & ((1u << Bits) - 1u));
        }
        static const char* GetTypeName() { return "CashableBitmapDescriptor"; }
    };
    using BitmapDescriptor = CashableBitmapDescriptor<8>;
    static const BitmapDescriptor& GetSelf(const BitmapDescriptor& key) { return key; }
    using BitmapCache = PurgableObjectCache<LCachedBitmap, BitmapDescriptor, BitmapDescriptor,
                                            &GetSelf, 8, &BitmapDescriptor::GetHashBits>;
    // Application time between two purges of the bitmap cache, in milliseconds.
    static constexpr int32_t kBitmapPurgeInterval = 300000;

    static GraphicsHandle PolylineHandle(const PolylineT<float>& line) { return line.GetHandle(); }
    using PathCache = PurgableObjectCache<LGraphicsPath, PolylineT<float>, GraphicsHandle,
                                          &PolylineHandle, 8, &HashLowBits<GraphicsHandle>>;

    LGDIRenderer();
    ~LGDIRenderer() override;

    ORVRESULT GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight, int& ascent,
                             int& descent) override;
    RectT<float> MeasureText(const WideString& text, const ConstRCPtr<LFont>& font) override;
    RendererType GetRendererType() override { return kRendererGdiPlus; }
    ORVRESULT InitRenderContextInfo(const RectT<LongCoord>& clientRect, HWND window, int present,
                                    RCPtr<LRenderContextInfo>& context) override;
    ORVRESULT RenderStart(const RCPtr<LRenderContextInfo>& context) override;
    ORVRESULT RenderFinish(const RCPtr<LRenderContextInfo>& context) override;

    // The text's cell top-left one pixel above the origin (GDI+'s padding to its left); a face
    // GDI+ does not have is drawn in the generic sans-serif.
    void DrawText(const WideString& text, const ConstRCPtr<LFont>& font,
                  const PointT<LongCoord>& origin, const ColorT& color) override;
    void DrawRect(const RectT<LongCoord>& rect, const ColorT& color, float lineWidth) override;
    // Without blending the colour replaces the pixels (alpha included), still moved by the
    // offset and cut by the clip, so nothing outside the area being painted changes.
    void FillRect(const RectT<LongCoord>& rect, const ColorT& color, bool blend) override;
    void FillAndDrawRect(const RectT<LongCoord>& rect, const ColorT& fillColor,
                         const ColorT& lineColor, float lineWidth) override;
    void DrawColorRectList(ColorRectListT<float>& list, const PointT<double>& offset,
                           bool keepCached) override;
    void DrawLine(const PointT<float>& from, const PointT<float>& to, const ColorT& color,
                  float lineWidth) override;
    void DrawLineSegments(PolylineT<float>& line, const ColorT& color, const PointT<float>& offset,
                          const PointT<float>& scale, bool keepCached) override;
    void DrawPolyline(PolylineT<float>& line, const ColorT& color, const PointT<float>& offset,
                      const PointT<float>& scale, bool keepCached) override;
    void DrawPolygon(PolylineT<float>& line, const ColorT& color, const PointT<float>& offset,
                     const PointT<float>& scale, bool keepCached) override;
    void FillPolygon(PolylineT<float>& line, const ColorT& color, const PointT<float>& offset,
                     const PointT<float>& scale, bool keepCached) override;
    // Throws without a current context, and for a resize type other than stretch, tile or
    // centre when the bitmap is not drawn at its own size. Draws nothing for a null bitmap or an
    // empty source or destination. The picture at the destination's size is kept in the bitmap
    // cache, so scaling or tiling runs once per bitmap and size.
    void DrawBitmap(const ConstRCPtr<LBitmap>& bitmap, const RectT<LongCoord>& destination,
                    ResizeType resize) override;
    // E_INVALIDARG unless the source is a GDI+ context with its present flag set (one kept off
    // the window), E_FAIL when GDI+ fails.
    ORVRESULT DrawContextRect(const RCPtr<LRenderContextInfo>& source,
                              const PointT<LongCoord>& destination,
                              const RectT<LongCoord>& sourceRect) override;
    // Moves the source context's picture by the destination point; the uncovered area becomes
    // transparent. The current context is not involved.
    ORVRESULT DrawContext(const RCPtr<LRenderContextInfo>& source,
                          const PointT<LongCoord>& destination) override;

    void SetClipRect(const RectT<double>& clip) override;
    void Translate(const PointT<double>& delta) override;

    float GetTextScale() const { return textScale; }
    Gdiplus::GpStatus GetLastStatus() const { return lastStatus; }
    const PathCache& GetPathCache() const { return pathCache; }
    const BitmapCache& GetBitmapCache() const { return bitmapCache; }

private:
    enum class PathKind
    {
        Segments,
        Polyline,
        Polygon,
        FilledPolygon,
    };
    void DrawPath(PathKind kind, PolylineT<float>& line, const ColorT& color,
                  const PointT<float>& offset, const PointT<float>& scale, bool keepCached);
    Gdiplus::GpGraphics* Graphics() const;
    // The bitmap's source area drawn at width x height (type 0 stretch, 1 tile, 2 centre) in a
    // new bitmap like the current graphics' one, cached for the current graphics; null when
    // GDI+ failed (status kept).
    RCPtr<LCachedBitmap> BuildCachedBitmap(const LBitmap& bitmap, int width, int height, int type);
    void DrawTiles(Gdiplus::GpGraphics* target, Gdiplus::GpBitmap* source,
                   const RectT<float>& sourceRect, int width, int height);
    void PurgeBitmapsWhenDue();
    void Keep(Gdiplus::GpStatus status);

    float textScale = 1.0f;
    RCPtr<LGDIRenderContextInfo> currentContext;
    LGDITextMeasurer measurer;
    PathCache pathCache{kCacheCapacity};
    BitmapCache bitmapCache{kCacheCapacity};
    // timeGetTime at the last purge of the bitmap cache.
    uint32_t lastPurge = 0;
    Gdiplus::GpStatus lastStatus = Gdiplus::Ok;
};

}  // namespace Orv
