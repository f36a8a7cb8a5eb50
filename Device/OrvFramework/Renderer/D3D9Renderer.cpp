#include "Renderer/D3D9Renderer.h"

#include "Renderer/D3D9RenderContextInfo.h"

namespace Orv {

ORVRESULT LD3D9Renderer::GetFontMetrics(const ConstRCPtr<LFont>&, int&, int&, int&)
{
    return S_OK;
}

RectT<float> LD3D9Renderer::MeasureText(const WideString&, const ConstRCPtr<LFont>&)
{
    return {0.0f, 0.0f, 0.0f, 0.0f};
}

ORVRESULT LD3D9Renderer::InitRenderContextInfo(const RectT<LongCoord>& clientRect, HWND window,
                                               int present, RCPtr<LRenderContextInfo>& context)
{
    context = RCPtr<LRenderContextInfo>(new LD3D9RenderContextInfo(clientRect, window, present));
    return S_OK;
}

ORVRESULT LD3D9Renderer::RenderStart(const RCPtr<LRenderContextInfo>&)
{
    return S_OK;
}

ORVRESULT LD3D9Renderer::RenderFinish(const RCPtr<LRenderContextInfo>&)
{
    return S_OK;
}

void LD3D9Renderer::DrawText(const WideString&, const ConstRCPtr<LFont>&, const PointT<LongCoord>&,
                             const ColorT&)
{
}

void LD3D9Renderer::DrawRect(const RectT<LongCoord>&, const ColorT&, float) {}

void LD3D9Renderer::FillRect(const RectT<LongCoord>&, const ColorT&, bool) {}

void LD3D9Renderer::FillAndDrawRect(const RectT<LongCoord>&, const ColorT&, const ColorT&, float) {}

void LD3D9Renderer::DrawColorRectList(ColorRectListT<float>&, const PointT<double>&, bool) {}

void LD3D9Renderer::DrawLine(const PointT<float>&, const PointT<float>&, const ColorT&, float) {}

void LD3D9Renderer::DrawLineSegments(PolylineT<float>&, const ColorT&, const PointT<float>&,
                                     const PointT<float>&, bool)
{
}

void LD3D9Renderer::DrawPolyline(PolylineT<float>&, const ColorT&, const PointT<float>&,
                                 const PointT<float>&, bool)
{
}

void LD3D9Renderer::DrawPolygon(PolylineT<float>&, const ColorT&, const PointT<float>&,
                                const PointT<float>&, bool)
{
}

void LD3D9Renderer::FillPolygon(PolylineT<float>&, const ColorT&, const PointT<float>&,
                                const PointT<float>&, bool)
{
}

void LD3D9Renderer::DrawBitmap(const ConstRCPtr<LBitmap>&, const RectT<LongCoord>&, ResizeType) {}

ORVRESULT LD3D9Renderer::DrawContextRect(const RCPtr<LRenderContextInfo>&, const PointT<LongCoord>&,
                                         const RectT<LongCoord>&)
{
    return E_NOTIMPL;
}

ORVRESULT LD3D9Renderer::DrawContext(const RCPtr<LRenderContextInfo>&, const PointT<LongCoord>&)
{
    return E_NOTIMPL;
}

}  // namespace Orv
