#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Renderer/D3D9RenderContextInfo.h"
#include "Renderer/D3D9Renderer.h"
#include "Renderer/Renderer.h"
#include "Win32Test/HeadlessWindow.h"

namespace {

using Orv::RCPtr;

std::string WithoutLine(const std::string& text)
{
    const auto at = text.rfind(" : Line ");
    return at == std::string::npos ? text : text.substr(0, at);
}

TEST(RendererFactory, CodesTable)
{
    RCPtr<Orv::LRenderer> d3d = Orv::LRenderer::Create(2, {0, 0, 10, 10}, nullptr);
    ASSERT_FALSE(d3d.IsNull());
    EXPECT_EQ(d3d->GetRendererType(), 2);
    const Orv::RCPtr<Orv::LRenderer> gdiplus = Orv::LRenderer::Create(1, {0, 0, 10, 10}, nullptr);
    ASSERT_TRUE(gdiplus);
    EXPECT_EQ(gdiplus->GetRendererType(), 1);

    const struct
    {
        Orv::RendererType code;
        const char* text;
    } refused[] = {
        {3, "Domain Error : Orv::LRenderer::Create : Renderer\\Renderer"},
        {-1, "Domain Error : Orv::LRenderer::Create : Renderer\\Renderer"},
        {0,
         "Runtime Error : OpenGL renderer (type 0) not built : Orv::LRenderer::Create : "
         "Renderer\\Renderer"},
    };
    for (const auto& c : refused) {
        try {
            Orv::LRenderer::Create(c.code, {0, 0, 10, 10}, nullptr);
            ADD_FAILURE() << "code " << c.code << " created a renderer";
        } catch (const std::exception& e) {
            EXPECT_EQ(WithoutLine(e.what()), c.text) << c.code;
        }
    }
    EXPECT_THROW(Orv::LRenderer::Create(3, {}, nullptr), std::domain_error);
}

TEST(D3D9Renderer, AcceptsAPaintAndDrawsNothing)
{
    HWND window = Win32Test::CreateHeadlessWindow(16, 16);
    Win32Test::FillWindow(window, 0x123456);
    RCPtr<Orv::LRenderer> renderer(new Orv::LD3D9Renderer());
    RCPtr<Orv::LRenderContextInfo> context;
    ASSERT_EQ(renderer->InitRenderContextInfo({0, 0, 16, 16}, window, 0, context), S_OK);
    ASSERT_NE(dynamic_cast<Orv::LD3D9RenderContextInfo*>(context.Get()), nullptr);
    EXPECT_EQ(context->GetMaxViewportSize(), (std::pair<int32_t, int32_t>{0, 0}));
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 1);

    EXPECT_EQ(renderer->RenderStart(context), S_OK);
    EXPECT_EQ(renderer->RenderStart(context), S_OK) << "nothing is pushed, so nothing reenters";
    EXPECT_EQ(renderer->GetCurrentContext(), nullptr);
    {
        Orv::CAutoClip clip(renderer, {0, 0, 8, 8}, {0, 0, 8, 8}, nullptr);
        Orv::PolylineF line;
        line.AddPoint({0, 0});
        line.AddPoint({15, 15});
        Orv::ColorRectListF rects;
        rects.AddRect({0, 0, 16, 16}, 0xFFFF0000u);
        const Orv::ColorT red{1, 0, 0, 1};
        renderer->FillRect({0, 0, 16, 16}, red, false);
        renderer->DrawRect({0, 0, 16, 16}, red, 2.0f);
        renderer->FillAndDrawRect({0, 0, 16, 16}, red, red, 1.0f);
        renderer->DrawLine({0, 0}, {15, 15}, red, 1.0f);
        renderer->DrawColorRectList(rects, {0, 0}, true);
        renderer->DrawLineSegments(line, red, {0, 0}, {1, 1}, false);
        renderer->DrawPolyline(line, red, {0, 0}, {1, 1}, false);
        renderer->DrawPolygon(line, red, {0, 0}, {1, 1}, false);
        renderer->FillPolygon(line, red, {0, 0}, {1, 1}, false);
        renderer->DrawText(u"text", nullptr, {1, 1}, red);
        renderer->DrawBitmap(nullptr, {0, 0, 4, 4}, Orv::ResizeType{});
        EXPECT_EQ(renderer->DrawContext(context, {0, 0}), E_NOTIMPL);
        EXPECT_EQ(renderer->DrawContextRect(context, {0, 0}, {0, 0, 1, 1}), E_NOTIMPL);
    }
    EXPECT_EQ(renderer->RenderFinish(context), S_OK);
    EXPECT_EQ(renderer->RenderFinish(nullptr), S_OK);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(Win32Test::GetWindowPixel(window, x, y), 0xFF123456u) << x << ", " << y;
        }
    }
    EXPECT_TRUE(context->GetSavedStates().empty());

    int lineHeight = 7, ascent = 8, descent = 9;
    EXPECT_EQ(renderer->GetFontMetrics(nullptr, lineHeight, ascent, descent), S_OK);
    EXPECT_EQ(lineHeight * 100 + ascent * 10 + descent, 789) << "outputs untouched";
    EXPECT_EQ(renderer->MeasureText(u"any text at all", nullptr), (Orv::RectF{0, 0, 0, 0}));

    context = nullptr;
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 0);
    Win32Test::DestroyHeadlessWindow(window);
}

}  // namespace
