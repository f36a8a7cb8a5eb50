#pragma once
// Renderer type 2: accepts every call and draws nothing, so a window can be created and driven
// with that setting. RenderStart pushes no context, so the state operations of the base find no
// context and do nothing either.

#include "Renderer/Renderer.h"

namespace Orv {

class LD3D9Renderer : public LRenderer
{
public:
    // Leaves the three values as the caller set them.
    ORVRESULT GetFontMetrics(const ConstRCPtr<LFont>& font, int& lineHeight, int& ascent,
                             int& descent) override;
    RectT<float> MeasureText(const WideString& text, const ConstRCPtr<LFont>& font) override;
    RendererType GetRendererType() override { return kRendererDirect3D9; }
    ORVRESULT InitRenderContextInfo(const RectT<LongCoord>& clientRect, HWND window, int present,
                                    RCPtr<LRenderContextInfo>& context) override;
    ORVRESULT RenderStart(const RCPtr<LRenderContextInfo>& context) override;
    ORVRESULT RenderFinish(const RCPtr<LRenderContextInfo>& context) override;

    void DrawText(const WideString& text, const ConstRCPtr<LFont>& font,
                  const PointT<LongCoord>& origin, const ColorT& color) override;
    void DrawRect(const RectT<LongCoord>& rect, const ColorT& color, float lineWidth) override;
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
    void DrawBitmap(const ConstRCPtr<LBitmap>& bitmap, const RectT<LongCoord>& destination,
                    ResizeType resize) override;
    // E_NOTIMPL: there is no picture to copy.
    ORVRESULT DrawContextRect(const RCPtr<LRenderContextInfo>& source,
                              const PointT<LongCoord>& destination,
                              const RectT<LongCoord>& sourceRect) override;
    ORVRESULT DrawContext(const RCPtr<LRenderContextInfo>& source,
                          const PointT<LongCoord>& destination) override;
};

}  // namespace Orv
