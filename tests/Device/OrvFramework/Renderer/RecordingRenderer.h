#pragma once
// A renderer for tests: draws nothing and records every call of the slots the state operations
// must go through (SetStencil, SetClipRect, Translate), so a test sees that a back end would be
// told of each change.

#include <string>
#include <vector>

#include "Renderer/Renderer.h"

namespace RendererTest {

class TestContext : public Orv::LRenderContextInfo
{
public:
    using LRenderContextInfo::LRenderContextInfo;
    explicit TestContext(HWND window = nullptr) : LRenderContextInfo({0, 0, 100, 100}, window, 0) {}
    std::pair<int32_t, int32_t> GetMaxViewportSize() const override { return {4096, 4096}; }
};

class RecordingRenderer : public Orv::LRenderer
{
public:
    std::vector<std::string> calls;

    Orv::ORVRESULT GetFontMetrics(const Orv::ConstRCPtr<Orv::LFont>&, int&, int&, int&) override
    {
        return S_OK;
    }
    Orv::RectT<float> MeasureText(const Orv::WideString&,
                                  const Orv::ConstRCPtr<Orv::LFont>&) override
    {
        return {};
    }
    Orv::RendererType GetRendererType() override { return 99; }
    Orv::ORVRESULT InitRenderContextInfo(const Orv::RectT<Orv::LongCoord>& rect, HWND window,
                                         int present,
                                         Orv::RCPtr<Orv::LRenderContextInfo>& context) override
    {
        context = Orv::RCPtr<Orv::LRenderContextInfo>(new TestContext(rect, window, present));
        return S_OK;
    }
    Orv::ORVRESULT SetStencil(const Orv::ConstRCPtr<Orv::LStencil>& stencil) override
    {
        calls.push_back("SetStencil");
        return LRenderer::SetStencil(stencil);
    }
    void SetClipRect(const Orv::RectT<double>& clip) override
    {
        calls.push_back("SetClipRect");
        LRenderer::SetClipRect(clip);
    }
    void Translate(const Orv::PointT<double>& delta) override
    {
        calls.push_back("Translate");
        LRenderer::Translate(delta);
    }

    void DrawText(const Orv::WideString&, const Orv::ConstRCPtr<Orv::LFont>&,
                  const Orv::PointT<Orv::LongCoord>&, const Orv::ColorT&) override
    {
    }
    void DrawRect(const Orv::RectT<Orv::LongCoord>&, const Orv::ColorT&, float) override {}
    void FillRect(const Orv::RectT<Orv::LongCoord>&, const Orv::ColorT&, bool) override {}
    void FillAndDrawRect(const Orv::RectT<Orv::LongCoord>&, const Orv::ColorT&, const Orv::ColorT&,
                         float) override
    {
    }
    void DrawColorRectList(Orv::ColorRectListT<float>&, const Orv::PointT<double>&, bool) override
    {
    }
    void DrawLine(const Orv::PointT<float>&, const Orv::PointT<float>&, const Orv::ColorT&,
                  float) override
    {
    }
    void DrawLineSegments(Orv::PolylineT<float>&, const Orv::ColorT&, const Orv::PointT<float>&,
                          const Orv::PointT<float>&, bool) override
    {
    }
    void DrawPolyline(Orv::PolylineT<float>&, const Orv::ColorT&, const Orv::PointT<float>&,
                      const Orv::PointT<float>&, bool) override
    {
    }
    void DrawPolygon(Orv::PolylineT<float>&, const Orv::ColorT&, const Orv::PointT<float>&,
                     const Orv::PointT<float>&, bool) override
    {
    }
    void FillPolygon(Orv::PolylineT<float>&, const Orv::ColorT&, const Orv::PointT<float>&,
                     const Orv::PointT<float>&, bool) override
    {
    }
    void DrawBitmap(const Orv::ConstRCPtr<Orv::LBitmap>&, const Orv::RectT<Orv::LongCoord>&,
                    Orv::ResizeType) override
    {
    }
    Orv::ORVRESULT DrawContextRect(const Orv::RCPtr<Orv::LRenderContextInfo>&,
                                   const Orv::PointT<Orv::LongCoord>&,
                                   const Orv::RectT<Orv::LongCoord>&) override
    {
        return S_OK;
    }
    Orv::ORVRESULT DrawContext(const Orv::RCPtr<Orv::LRenderContextInfo>&,
                               const Orv::PointT<Orv::LongCoord>&) override
    {
        return S_OK;
    }
};

}  // namespace RendererTest
