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
    // Throws without a current context; draws nothing for a null bitmap or an empty source or
    // destination. Drawing a bitmap's pixels arrives with the bitmap class and throws until then.
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
    void Keep(Gdiplus::GpStatus status);

    float textScale = 1.0f;
    RCPtr<LGDIRenderContextInfo> currentContext;
    LGDITextMeasurer measurer;
    PathCache pathCache{kCacheCapacity};
    Gdiplus::GpStatus lastStatus = Gdiplus::Ok;
};

}  // namespace Orv
