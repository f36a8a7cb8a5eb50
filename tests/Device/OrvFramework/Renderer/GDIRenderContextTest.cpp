#include <gtest/gtest.h>

#include <vector>

#include "Renderer/Gdi/GDIRenderContextInfo.h"
#include "Win32Test/HeadlessWindow.h"

namespace {

using namespace Gdiplus;
using Orv::LGDIRenderContextInfo;
using Orv::RCPtr;

constexpr ARGB kRed = 0xFFFF0000u;
constexpr ARGB kBlack = 0xFF000000u;

class GDIRenderContextTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
        window = Win32Test::CreateHeadlessWindow(12, 8);
    }
    void TearDown() override
    {
        Win32Test::DestroyHeadlessWindow(window);
        GdiplusShutdown(token);
    }
    void FillFront(LGDIRenderContextInfo& context, ARGB color)
    {
        GpSolidFill* brush = nullptr;
        ASSERT_EQ(GdipCreateSolidFill(color, &brush), Ok);
        ASSERT_EQ(GdipFillRectangleI(context.GetFrontGraphics(), brush, 0, 0, 4096, 4096), Ok);
        GdipDeleteBrush(brush);
    }
    ARGB FrontPixel(LGDIRenderContextInfo& context, int x, int y)
    {
        ARGB pixel = 0;
        GdipFlush(context.GetFrontGraphics(), FlushIntentionSync);
        EXPECT_EQ(GdipBitmapGetPixel(context.GetFrontSurface()->GetBitmap(), x, y, &pixel), Ok);
        return pixel;
    }

    ULONG_PTR token = 0;
    HWND window = nullptr;
};

TEST_F(GDIRenderContextTest, PresentCopiesExactlyTheDirtyRectangles)
{
    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 12, 8}, window, 0));
    EXPECT_EQ(context->GetMaxViewportSize(), (std::pair<int32_t, int32_t>{4096, 4096}));
    FillFront(*context, kRed);
    Orv::RectRegion& dirty = context->GetDirtyRegion();
    const struct
    {
        int left, top, right, bottom;
    } rects[] = {{0, 0, 2, 1}, {5, 2, 8, 5}, {11, 7, 12, 8}};
    for (const auto& r : rects) {
        dirty.AddRect(r.left, r.top, r.right, r.bottom);
    }
    context->Present();
    EXPECT_EQ(context->GetLastStatus(), Ok);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 12; ++x) {
            bool inside = false;
            for (const auto& r : rects) {
                inside |= x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            }
            EXPECT_EQ(Win32Test::GetWindowPixel(window, x, y), inside ? kRed : kBlack)
                << x << ", " << y;
        }
    }
}

TEST_F(GDIRenderContextTest, KeptPictureIsNeverPresented)
{
    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 12, 8}, window, 1));
    FillFront(*context, kRed);
    context->GetDirtyRegion().AddRect(0, 0, 12, 8);
    context->Present();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 12; ++x) {
            ASSERT_EQ(Win32Test::GetWindowPixel(window, x, y), kBlack) << x << ", " << y;
        }
    }
}

TEST_F(GDIRenderContextTest, SurfacesFollowTheViewport)
{
    RCPtr<LGDIRenderContextInfo> empty(new LGDIRenderContextInfo({0, 0, 0, 0}, window, 0));
    EXPECT_EQ(empty->GetFrontSurface()->GetSize(), (std::pair<int32_t, int32_t>{1, 1}));
    EXPECT_EQ(empty->GetBackSurface()->GetSize(), (std::pair<int32_t, int32_t>{1, 1}));

    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 12, 8}, window, 0));
    FillFront(*context, kRed);

    // Same size, part dirty: the picture is kept.
    context->GetDirtyRegion().AddRect(0, 0, 4, 4);
    context->PrepareSurfaces();
    EXPECT_EQ(FrontPixel(*context, 10, 7), kRed);
    // Same size, several rectangles that make up the whole: still kept (only one rectangle of
    // exactly the viewport counts as everything).
    context->GetDirtyRegion().AddRect(0, 0, 12, 4);
    context->GetDirtyRegion().AddRect(0, 4, 12, 8);
    context->PrepareSurfaces();
    EXPECT_EQ(FrontPixel(*context, 10, 7), kRed);
    // The whole viewport dirty in one rectangle: new surfaces.
    context->GetDirtyRegion().Clear();
    context->GetDirtyRegion().AddRect(0, 0, 12, 8);
    context->PrepareSurfaces();
    EXPECT_EQ(FrontPixel(*context, 10, 7), 0u) << "a new, empty picture";

    // The window grew: the next preparation makes both surfaces of the new size.
    context->SetViewport({0, 0, 30, 20});
    context->GetDirtyRegion().Clear();
    context->GetDirtyRegion().AddRect(0, 0, 5, 5);
    context->PrepareSurfaces();
    EXPECT_EQ(context->GetFrontSurface()->GetSize(), (std::pair<int32_t, int32_t>{30, 20}));
    EXPECT_EQ(context->GetBackSurface()->GetSize(), (std::pair<int32_t, int32_t>{30, 20}));
}

TEST_F(GDIRenderContextTest, SwapExchangesTheSurfaces)
{
    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 4, 4}, window, 0));
    const auto* front = context->GetFrontSurface().Get();
    const auto* back = context->GetBackSurface().Get();
    context->SwapSurfaces();
    EXPECT_EQ(context->GetFrontSurface().Get(), back);
    EXPECT_EQ(context->GetBackSurface().Get(), front);
}

TEST_F(GDIRenderContextTest, WindowlessContextStillHasSurfacesAndGivesNoDeviceContext)
{
    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 6, 3}, nullptr, 1));
    EXPECT_EQ(context->GetFrontSurface()->GetSize(), (std::pair<int32_t, int32_t>{6, 3}));
    EXPECT_EQ(context->GetDeviceContext(), nullptr);
    context->Present();  // nothing to present to, nothing fails
    {
        RCPtr<LGDIRenderContextInfo> onWindow(new LGDIRenderContextInfo({0, 0, 6, 3}, window, 0));
        EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 1);
    }
    EXPECT_EQ(Win32Test::GetOpenDeviceContextCount(window), 0);
}

TEST_F(GDIRenderContextTest, CopyToReportsAFailureAsItsLastStatus)
{
    RCPtr<LGDIRenderContextInfo> context(new LGDIRenderContextInfo({0, 0, 4, 4}, window, 0));
    context->GetFrontSurface()->CopyTo(nullptr, {0, 0}, {0, 0, 1, 1});
    EXPECT_EQ(context->GetFrontSurface()->GetLastStatus(), InvalidParameter);
}

}  // namespace
