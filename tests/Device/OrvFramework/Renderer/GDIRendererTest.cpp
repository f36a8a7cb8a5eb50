#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Renderer/Gdi/GDIRenderer.h"
#include "Renderer/MeasurementRendererSource.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Utilities/Graphics/Font.h"
#include "Win32Test/DebugOutputSink.h"
#include "Win32Test/HeadlessWindow.h"
#include "Win32Test/SleepClock.h"

namespace {

using namespace Orv;
using Gdiplus::ARGB;

constexpr ARGB kWhite = 0xFFFFFFFFu;
constexpr ARGB kRed = 0xFFFF0000u;
constexpr ARGB kBlue = 0xFF0000FFu;
constexpr ARGB kGreen = 0xFF00FF00u;
constexpr ARGB kBlack = 0xFF000000u;

ColorT Color(ARGB argb)
{
    return ColorT::FromPackedARGB(argb);
}

class GDIRendererTest : public ::testing::Test
{
public:
    static constexpr int kWidth = 40;
    static constexpr int kHeight = 30;

    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        window = Win32Test::CreateHeadlessWindow(kWidth, kHeight);
        renderer = RCPtr<LGDIRenderer>(new LGDIRenderer());
        RCPtr<LRenderContextInfo> created;
        ASSERT_EQ(renderer->InitRenderContextInfo({0, 0, kWidth, kHeight}, window, 0, created),
                  S_OK);
        context = DynamicRCPtrCast<LGDIRenderContextInfo>(created);
        ASSERT_TRUE(context);
    }
    void TearDown() override
    {
        context = nullptr;
        renderer = nullptr;
        Win32Test::DestroyHeadlessWindow(window);
        Gdiplus::GdiplusShutdown(token);
    }

    // One paint of the whole window: white, then the scene.
    void Paint(const std::function<void(LGDIRenderer&)>& scene)
    {
        context->GetDirtyRegion().Clear();
        context->GetDirtyRegion().AddRect(0, 0, kWidth, kHeight);
        renderer->RenderStart(RCPtr<LRenderContextInfo>(context));
        renderer->FillRect({0, 0, kWidth, kHeight}, Color(kWhite), false);
        scene(*renderer);
        renderer->RenderFinish(RCPtr<LRenderContextInfo>(context));
    }
    ARGB Front(int x, int y) const
    {
        ARGB pixel = 0;
        EXPECT_EQ(
            Gdiplus::GdipBitmapGetPixel(context->GetFrontSurface()->GetBitmap(), x, y, &pixel),
            Gdiplus::Ok);
        return pixel;
    }

    ULONG_PTR token = 0;
    HWND window = nullptr;
    RCPtr<LGDIRenderer> renderer;
    RCPtr<LGDIRenderContextInfo> context;
};

struct Probe
{
    int x, y;
    ARGB color;
};

struct Scene
{
    const char* what;
    std::function<void(LGDIRenderer&)> draw;
    std::vector<Probe> probes;
};

PolylineF Square(float x, float y, float side)
{
    PolylineF line;
    line.AddPoint({x, y});
    line.AddPoint({x + side, y});
    line.AddPoint({x + side, y + side});
    line.AddPoint({x, y + side});
    return line;
}

TEST_F(GDIRendererTest, ScenesShowWhereTheyWereDrawn)
{
    PolylineF square = Square(0, 0, 10);
    PolylineF unit = Square(0, 0, 2);
    PolylineF segments;
    for (float x : {0.0f, 5.0f, 10.0f, 15.0f, 20.0f}) {
        segments.AddPoint({x, 25.0f});
    }
    ColorRectListT<float> rectList;
    rectList.AddRect({1, 1, 2, 1}, kBlue);
    rectList.AddRect({0, 0, 1, 1}, kGreen);
    rectList.SetScale(2, 2);

    const Scene scenes[] = {
        {"filled rectangle",
         [](LGDIRenderer& r) {
             r.FillRect({2, 3, 5, 4}, Color(kRed), true);
         },
         {{2, 3, kRed}, {6, 6, kRed}, {7, 3, kWhite}, {2, 7, kWhite}, {1, 3, kWhite}}},
        {"translated",
         [](LGDIRenderer& r) {
             r.Translate({10, 5});
             r.FillRect({0, 0, 3, 3}, Color(kRed), true);
             r.Translate({-10, -5});
             r.FillRect({0, 0, 1, 1}, Color(kBlue), true);
         },
         {{10, 5, kRed}, {12, 7, kRed}, {9, 5, kWhite}, {13, 5, kWhite}, {0, 0, kBlue}}},
        {"clipped",
         [](LGDIRenderer& r) {
             r.SetClipRect({0, 0, 4, 4});
             r.FillRect({0, 0, 10, 10}, Color(kBlue), true);
             r.SetClipRect({-1e6, -1e6, 2e6, 2e6});
         },
         {{3, 3, kBlue}, {4, 3, kWhite}, {3, 4, kWhite}}},
        {"outline",
         [](LGDIRenderer& r) {
             r.DrawRect({5, 5, 6, 4}, Color(kGreen), 1.0f);
         },
         {{5, 5, kGreen}, {11, 5, kGreen}, {5, 9, kGreen}, {8, 7, kWhite}, {12, 5, kWhite}}},
        {"line",
         [](LGDIRenderer& r) {
             r.DrawLine({1, 20}, {20, 20}, Color(kBlack), 1.0f);
         },
         {{1, 20, kBlack}, {10, 20, kBlack}, {10, 21, kWhite}, {10, 19, kWhite}}},
        {"fill and outline",
         [](LGDIRenderer& r) {
             r.FillAndDrawRect({2, 2, 6, 6}, Color(kBlue), Color(kRed), 1.0f);
             r.FillAndDrawRect({20, 2, 6, 6}, Color(0x00FFFFFF), Color(kRed), 1.0f);
         },
         {{2, 2, kRed}, {4, 4, kBlue}, {20, 2, kRed}, {23, 4, kWhite}}},
        {"filled polygon at an offset",
         [&square](LGDIRenderer& r) {
             r.FillPolygon(square, Color(kRed), {20, 2}, {1, 1}, true);
         },
         {{20, 2, kRed}, {29, 11, kRed}, {30, 7, kWhite}, {19, 7, kWhite}, {0, 0, kWhite}}},
        {"scaled polygon",
         [&unit](LGDIRenderer& r) {
             r.FillPolygon(unit, Color(kRed), {30, 20}, {2, 1}, true);
         },
         {{30, 20, kRed}, {33, 21, kRed}, {34, 21, kWhite}, {33, 22, kWhite}}},
        {"segments, odd point ignored",
         [&segments](LGDIRenderer& r) {
             r.DrawLineSegments(segments, Color(kBlack), {0, 0}, {1, 1}, true);
         },
         {{2, 25, kBlack}, {7, 25, kWhite}, {12, 25, kBlack}, {17, 25, kWhite}}},
        {"colour rectangles, scaled and moved",
         [&rectList](LGDIRenderer& r) {
             r.DrawColorRectList(rectList, {10, 10}, true);
         },
         {{10, 10, kGreen},
          {11, 11, kGreen},
          {12, 12, kBlue},
          {15, 13, kBlue},
          {16, 12, kWhite},
          {12, 14, kWhite}}},
    };
    for (const Scene& scene : scenes) {
        Paint(scene.draw);
        for (const Probe& p : scene.probes) {
            EXPECT_EQ(Front(p.x, p.y), p.color) << scene.what << " at " << p.x << ", " << p.y;
            EXPECT_EQ(Win32Test::GetWindowPixel(window, p.x, p.y), p.color | 0xFF000000u)
                << scene.what << " on the window at " << p.x << ", " << p.y;
        }
        // The offset is back where it was after every scene.
        EXPECT_EQ(context->GetCurrentState().offsetX, 0.0) << scene.what;
    }
    EXPECT_EQ(renderer->GetLastStatus(), Gdiplus::Ok);
}

TEST_F(GDIRendererTest, UnblendedFillKeepsOffsetAndClipAndReplacesPixels)
{
    Paint([](LGDIRenderer& r) {
        r.Translate({4, 4});
        r.SetClipRect({0, 0, 3, 3});
        r.FillRect({-4, -4, 40, 40}, Color(0x80FF0000u), false);
        r.Translate({-4, -4});
    });
    EXPECT_EQ(Front(4, 4), 0x80FF0000u) << "not replaced";
    EXPECT_EQ(Front(6, 6), 0x80FF0000u);
    EXPECT_EQ(Front(7, 7), kWhite) << "outside the clip";
    EXPECT_EQ(Front(3, 4), kWhite) << "outside the clip";
    EXPECT_EQ(Front(0, 0), kWhite) << "the offset was not applied";
}

// A clipped child moved out of its parent's box (scrolled away) must paint nowhere, however far
// its drawing reaches: its clip is the empty meeting of its frame and the parent's clip.
TEST_F(GDIRendererTest, AChildOutsideItsParentPaintsNothing)
{
    const struct
    {
        const char* name;
        RectD child;  // in the parent's coordinates; the parent's box is 0, 0, 10, 10
    } cases[] = {
        {"below and right", {15, 13, 10, 10}},
        {"above and left", {-14, -12, 10, 10}},
        {"right only", {12, 0, 10, 10}},
    };
    for (const auto& c : cases) {
        Paint([&](LGDIRenderer&) {
            const RCPtr<LRenderer> r(renderer);
            CAutoClip parent(r, RectD{5, 5, 10, 10}, RectD{5, 5, 10, 10}, nullptr);
            CAutoClip child(r, c.child, c.child, nullptr);
            r->FillRect({-kWidth, -kHeight, 3 * kWidth, 3 * kHeight}, Color(kRed), false);
        });
        int painted = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                painted += Front(x, y) != kWhite;
            }
        }
        EXPECT_EQ(painted, 0) << c.name;
    }
}

TEST_F(GDIRendererTest, APaintWithNothingDirtyChangesNothing)
{
    Paint([](LGDIRenderer& r) { r.FillRect({0, 0, 5, 5}, Color(kRed), true); });
    Win32Test::FillWindow(window, 0x123456);
    context->GetDirtyRegion().Clear();
    renderer->RenderStart(RCPtr<LRenderContextInfo>(context));
    // What a root window does for an empty dirty area: clip to nothing, then paint.
    renderer->SetClipRect({0, 0, 0, 0});
    renderer->FillRect({0, 0, kWidth, kHeight}, Color(kBlue), false);
    renderer->FillRect({0, 0, kWidth, kHeight}, Color(kBlue), true);
    renderer->RenderFinish(RCPtr<LRenderContextInfo>(context));
    EXPECT_EQ(Front(0, 0), kRed);
    EXPECT_EQ(Front(20, 20), kWhite);
    EXPECT_EQ(Win32Test::GetWindowPixel(window, 0, 0), 0xFF123456u);
}

TEST_F(GDIRendererTest, TextIsDrawnAsGdiplusDrawsItOnePixelHigher)
{
    const ConstRCPtr<LFont> font = GetFont(u"Arial", 12.0f, 0);
    Paint([&font](LGDIRenderer& r) { r.DrawText(u"Hq", font, {5, 6}, Color(kBlack)); });

    // The same string straight through GDI+ on a bitmap of the same size.
    Gdiplus::GpBitmap* expected = nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpFontFamily* family = nullptr;
    Gdiplus::GpFont* gdiFont = nullptr;
    Gdiplus::GpSolidFill* black = nullptr;
    ASSERT_EQ(Gdiplus::GdipCreateBitmapFromScan0(kWidth, kHeight, 0, Gdiplus::PixelFormat32bppARGB,
                                                 nullptr, &expected),
              Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipGetImageGraphicsContext(expected, &graphics), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipGraphicsClear(graphics, kWhite), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipCreateFontFamilyFromName(u"Arial", nullptr, &family), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipCreateFont(family, 12.0f, 0, Gdiplus::UnitPoint, &gdiFont), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipCreateSolidFill(kBlack, &black), Gdiplus::Ok);
    const Gdiplus::GpRectF layout{5, 5, 0, 0};
    ASSERT_EQ(Gdiplus::GdipDrawString(graphics, u"Hq", -1, gdiFont, &layout, nullptr, black),
              Gdiplus::Ok);
    int inked = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ARGB want = 0;
            Gdiplus::GdipBitmapGetPixel(expected, x, y, &want);
            inked += want != kWhite ? 1 : 0;
            ASSERT_EQ(Front(x, y), want) << x << ", " << y;
        }
    }
    EXPECT_GT(inked, 20) << "the text drew nothing";
    Gdiplus::GdipDeleteBrush(black);
    Gdiplus::GdipDeleteFont(gdiFont);
    Gdiplus::GdipDeleteFontFamily(family);
    Gdiplus::GdipDeleteGraphics(graphics);
    Gdiplus::GdipDisposeImage(expected);
}

TEST_F(GDIRendererTest, AnUnknownFaceIsDrawnAndMeasuredInTheGenericSans)
{
    const ConstRCPtr<LFont> arial = GetFont(u"Arial", 12.0f, 0);
    const ConstRCPtr<LFont> unknown = GetFont(u"GDIRendererTest No Such Face", 12.0f, 0);
    Paint([&arial](LGDIRenderer& r) { r.DrawText(u"Ab", arial, {2, 2}, Color(kBlack)); });
    std::vector<ARGB> withArial;
    for (int x = 0; x < kWidth; ++x) {
        withArial.push_back(Front(x, 10));
    }
    Paint([&unknown](LGDIRenderer& r) { r.DrawText(u"Ab", unknown, {2, 2}, Color(kBlack)); });
    for (int x = 0; x < kWidth; ++x) {
        EXPECT_EQ(Front(x, 10), withArial[static_cast<size_t>(x)]) << x;
    }
    EXPECT_EQ(renderer->MeasureText(u"Ab", unknown), renderer->MeasureText(u"Ab", arial));
    int lh1 = 0, a1 = 0, d1 = 0, lh2 = 0, a2 = 0, d2 = 0;
    EXPECT_EQ(renderer->GetFontMetrics(unknown, lh1, a1, d1), S_OK);
    EXPECT_EQ(renderer->GetFontMetrics(arial, lh2, a2, d2), S_OK);
    EXPECT_EQ(std::vector<int>({lh1, a1, d1}), std::vector<int>({lh2, a2, d2}));
}

TEST_F(GDIRendererTest, AMissingFaceIsReportedOnceWithTheFaceThatStandsIn)
{
    Win32Test::TakeDebugOutput();
    const ConstRCPtr<LFont> missing = GetFont(u"GDIRendererTest Absent Face", 9.0f, 0);
    const ConstRCPtr<LFont> otherCase = GetFont(u"GDIRENDERERTEST absent FACE", 10.0f, 1);
    const ConstRCPtr<LFont> alias = GetFont(u"Times New Roman", 9.0f, 0);
    const ConstRCPtr<LFont> own = GetFont(u"Liberation Sans", 9.0f, 0);
    const RCPtr<LMeasurementRenderer> offScreen = GetMeasurementRenderer();
    for (int pass = 0; pass < 2; ++pass) {
        for (const ConstRCPtr<LFont>& font : {missing, otherCase, alias, own}) {
            Paint([&font](LGDIRenderer& r) { r.DrawText(u"Ab", font, {2, 2}, Color(kBlack)); });
            renderer->MeasureText(u"Ab", font);
            offScreen->MeasureText(u"Ab", font);
            int lineHeight = 0, ascent = 0, descent = 0;
            EXPECT_EQ(renderer->GetFontMetrics(font, lineHeight, ascent, descent), S_OK);
        }
    }
    EXPECT_EQ(Win32Test::TakeDebugOutput(),
              (std::vector<std::string>{
                  "Fonts: \"GDIRendererTest Absent Face\" is not on this machine; \"Liberation "
                  "Sans\" draws it instead\n",
                  "Fonts: \"Times New Roman\" is not on this machine; \"Liberation Serif\" draws "
                  "it instead\n",
              }));
}

TEST_F(GDIRendererTest, MeasuredWidthsAndLinesAreThoseOfTheUnhintedFont)
{
    // Measured before drawing hinted its glyphs: hinting moves outlines, never a label's box.
    constexpr size_t kTexts = 8;
    const char16_t* const texts[kTexts] = {u"Sample Rate",     u"Buffer Size", u"44100 Hz",
                                           u"Latency: 5.3 ms", u"WWW",         u"il1|",
                                           u"Mute  ",          u"Quorvel"};
    struct Case
    {
        float size;
        int style;
        float ascent;
        float lineHeight;
        float widths[kTexts];
    } cases[] = {
        {8, 0, -10, 13, {67, 57, 51, 81, 35, 19, 35, 43}},
        {9, 0, -11, 14, {75, 64, 57, 90, 39, 21, 39, 48}},
        {10, 0, -13, 16, {83, 71, 63, 100, 43, 23, 43, 52}},
        {9, 1, -11, 14, {78, 68, 57, 96, 39, 22, 40, 51}},
    };
    for (const Case& c : cases) {
        const ConstRCPtr<LFont> font = GetFont(u"Arial", c.size, c.style);
        for (size_t i = 0; i < kTexts; ++i) {
            const RectT<float> box = renderer->MeasureText(texts[i], font);
            const RectT<float> want{0, c.ascent, c.widths[i], c.lineHeight};
            EXPECT_EQ(box, want) << c.size << " pt, style " << c.style << ", text " << i;
        }
    }
}

TEST_F(GDIRendererTest, MeasuresAsTheOffScreenMeasurerDoes)
{
    const ConstRCPtr<LFont> font = GetFont(u"Arial", 10.0f, 1);
    const RCPtr<LMeasurementRenderer> offScreen = GetMeasurementRenderer();
    for (const char16_t* text : {u"", u"x", u"Sample Rate", u"  "}) {
        EXPECT_EQ(renderer->MeasureText(text, font), offScreen->MeasureText(text, font));
    }
    const RectT<float> box = renderer->MeasureText(u"i", font);
    EXPECT_GE(box.width, 4.0f);
    EXPECT_EQ(box.x, 0.0f);
    EXPECT_LT(box.y, 0.0f);
}

TEST_F(GDIRendererTest, OutsideAPaintDrawingDoesNothingAndBitmapsThrow)
{
    Paint([](LGDIRenderer&) {});
    renderer->FillRect({0, 0, 10, 10}, Color(kRed), true);
    PolylineF line = Square(0, 0, 5);
    renderer->FillPolygon(line, Color(kRed), {0, 0}, {1, 1}, true);
    EXPECT_EQ(Front(1, 1), kWhite);
    EXPECT_EQ(renderer->GetPathCache().GetIndexedCount(), 0);
    EXPECT_THROW(renderer->DrawBitmap(nullptr, {0, 0, 4, 4}, ResizeType{}), std::runtime_error);
    // Inside a paint a missing bitmap draws nothing.
    Paint([](LGDIRenderer& r) { r.DrawBitmap(nullptr, {0, 0, 4, 4}, ResizeType{}); });
    EXPECT_EQ(Front(1, 1), kWhite);
}

TEST_F(GDIRendererTest, PolylinePathsAreKeptUntilTheyChangeOrTheCallerLetsGo)
{
    PolylineF line = Square(1, 1, 4);
    auto pathOf = [this]() -> const LGDIRenderer::LGraphicsPath* {
        const LGDIRenderer::PathCache& cache = renderer->GetPathCache();
        return cache.GetIndexedCount() > 0 ? cache.GetEntry(0).object.Get() : nullptr;
    };
    Paint([&line](LGDIRenderer& r) { r.DrawPolygon(line, Color(kRed), {0, 0}, {1, 1}, true); });
    const LGDIRenderer::LGraphicsPath* first = pathOf();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(line.IsChanged());
    Paint([&line](LGDIRenderer& r) {
        r.DrawPolygon(line, Color(kRed), {0, 0}, {1.000001f, 1}, true);
    });
    EXPECT_EQ(pathOf(), first) << "an unchanged polyline was rebuilt";
    line.SetAt(0, {2, 2});
    Paint([&line](LGDIRenderer& r) { r.DrawPolygon(line, Color(kRed), {0, 0}, {1, 1}, true); });
    EXPECT_NE(pathOf(), nullptr);
    EXPECT_FALSE(line.IsChanged());
    Paint([&line](LGDIRenderer& r) { r.DrawPolygon(line, Color(kRed), {0, 0}, {1, 1}, false); });
    EXPECT_EQ(pathOf(), nullptr) << "kept although the caller did not ask";
    EXPECT_EQ(renderer->GetPathCache().GetIndexedCount(), 1);

    PolylineF five;
    for (int i = 0; i < 5; ++i) {
        five.AddPoint({static_cast<float>(i), 0.0f});
    }
    Paint([&five](LGDIRenderer& r) {
        r.DrawLineSegments(five, Color(kRed), {0, 0}, {1, 1}, true);
    });
    const LGDIRenderer::PathCache& cache = renderer->GetPathCache();
    INT points = 0;
    ASSERT_EQ(cache.GetIndexedCount(), 2);
    ASSERT_EQ(Gdiplus::GdipGetPointCount(cache.GetEntry(1).object->GetPath(), &points),
              Gdiplus::Ok);
    EXPECT_EQ(points, 4) << "two segments of two points";
}

TEST_F(GDIRendererTest, DrawContextMovesAnOffScreenPicture)
{
    RCPtr<LRenderContextInfo> offScreenInfo;
    ASSERT_EQ(renderer->InitRenderContextInfo({0, 0, 6, 4}, window, 1, offScreenInfo), S_OK);
    auto offScreen = DynamicRCPtrCast<LGDIRenderContextInfo>(offScreenInfo);
    Gdiplus::GpSolidFill* red = nullptr;
    ASSERT_EQ(Gdiplus::GdipCreateSolidFill(kRed, &red), Gdiplus::Ok);
    ASSERT_EQ(Gdiplus::GdipFillRectangleI(offScreen->GetFrontGraphics(), red, 0, 0, 2, 2),
              Gdiplus::Ok);
    Gdiplus::GdipDeleteBrush(red);

    EXPECT_EQ(renderer->DrawContext(offScreenInfo, {3, 1}), S_OK);
    auto pixel = [&offScreen](int x, int y) {
        ARGB value = 0;
        Gdiplus::GdipBitmapGetPixel(offScreen->GetFrontSurface()->GetBitmap(), x, y, &value);
        return value;
    };
    EXPECT_EQ(pixel(3, 1), kRed);
    EXPECT_EQ(pixel(4, 2), kRed);
    EXPECT_EQ(pixel(0, 0), 0u) << "the uncovered area is transparent";
    EXPECT_EQ(pixel(5, 3), 0u);

    // Copying part of it into a window paint.
    Paint([&offScreenInfo](LGDIRenderer& r) {
        EXPECT_EQ(r.DrawContextRect(offScreenInfo, {10, 10}, {3, 1, 2, 2}), S_OK);
    });
    EXPECT_EQ(Front(10, 10), kRed);
    EXPECT_EQ(Front(11, 11), kRed);
    EXPECT_EQ(Front(12, 10), kWhite);

    // Only GDI+ contexts kept off the window can be sources.
    EXPECT_EQ(renderer->DrawContext(RCPtr<LRenderContextInfo>(context), {1, 1}), E_INVALIDARG);
    EXPECT_EQ(renderer->DrawContext(nullptr, {1, 1}), E_INVALIDARG);
    EXPECT_EQ(renderer->DrawContextRect(RCPtr<LRenderContextInfo>(context), {0, 0}, {0, 0, 1, 1}),
              E_INVALIDARG);
}

}  // namespace

namespace {

ResizeType Resize(int code)
{
    return static_cast<ResizeType>(code);
}

// 4 x 4: red top-left quarter, green top-right quarter, blue bottom half. Every copy, scaling
// and placement shows in which colour lands where.
RCPtr<LBitmap> Quarters()
{
    RCPtr<LBitmap> bitmap = LBitmap::CreateFilledBitmap(4, 4, Color(kBlue));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            Gdiplus::GdipBitmapSetPixel(bitmap->GetGdiplusBitmap(), x, y, x < 2 ? kRed : kGreen);
        }
    }
    return bitmap;
}

}  // namespace

TEST_F(GDIRendererTest, BitmapsAreStretchedTiledAndCentred)
{
    const RCPtr<LBitmap> quarters = Quarters();
    ASSERT_TRUE(quarters);
    const ConstRCPtr<LBitmap> bitmap(quarters);
    const ConstRCPtr<LBitmap> green(quarters->CreateSubBitmap(2, 0, 2, 2));
    const std::vector<Scene> scenes = {
        {"stretched twice its size",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {4, 4, 8, 8}, Resize(0));
         },
         {{5, 5, kRed},
          {10, 5, kGreen},
          {5, 10, kBlue},
          {10, 10, kBlue},
          {3, 3, kWhite},
          {12, 12, kWhite}}},
        {"tiled 2.5 times: three copies each way, the last cut",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {0, 0, 10, 10}, Resize(1));
         },
         {{1, 1, kRed},
          {3, 1, kGreen},
          {1, 3, kBlue},
          {5, 1, kRed},
          {9, 1, kRed},
          {9, 5, kRed},
          {9, 9, kRed},
          {1, 7, kBlue},
          {10, 1, kWhite},
          {1, 10, kWhite}}},
        {"tiled 3 times",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {0, 0, 12, 12}, Resize(1));
         },
         {{1, 1, kRed},
          {11, 1, kGreen},
          {9, 9, kRed},
          {1, 11, kBlue},
          {11, 11, kBlue},
          {12, 1, kWhite},
          {1, 12, kWhite}}},
        {"tiled 3 times across only",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {2, 2, 12, 4}, Resize(1));
         },
         {{3, 3, kRed}, {13, 3, kGreen}, {11, 5, kBlue}, {3, 6, kWhite}, {14, 3, kWhite}}},
        // The same bitmap and size as the 2.5 times tile: centred is a picture of its own.
        {"centred",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {0, 0, 10, 10}, Resize(2));
         },
         {{3, 3, kRed}, {6, 3, kGreen}, {4, 6, kBlue}, {2, 2, kWhite}, {7, 7, kWhite}}},
        {"same size with an invalid type is drawn unscaled",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(bitmap, {2, 2, 4, 4}, Resize(7));
         },
         {{2, 2, kRed}, {5, 2, kGreen}, {2, 5, kBlue}, {6, 6, kWhite}, {1, 1, kWhite}}},
        {"a sub-bitmap draws only its own area",
         [&](LGDIRenderer& r) {
             r.DrawBitmap(green, {20, 10, 6, 6}, Resize(0));
         },
         {{20, 10, kGreen}, {25, 15, kGreen}, {26, 16, kWhite}}},
        {"moved by the offset",
         [&](LGDIRenderer& r) {
             r.Translate({10, 0});
             r.DrawBitmap(bitmap, {0, 0, 4, 4}, Resize(0));
         },
         {{10, 0, kRed}, {13, 0, kGreen}, {10, 3, kBlue}, {0, 0, kWhite}}},
    };
    for (const Scene& scene : scenes) {
        Paint(scene.draw);
        EXPECT_EQ(renderer->GetLastStatus(), Gdiplus::Ok) << scene.what;
        for (const Probe& p : scene.probes) {
            EXPECT_EQ(Front(p.x, p.y), p.color) << scene.what << " at " << p.x << "," << p.y;
        }
    }
}

TEST_F(GDIRendererTest, BitmapErrorsCarryTheirTexts)
{
    const ConstRCPtr<LBitmap> bitmap(Quarters());
    try {
        renderer->DrawBitmap(bitmap, {0, 0, 4, 4}, Resize(0));
        ADD_FAILURE() << "drawing outside a paint did not throw";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(),
                     "Runtime Error : Orv::LGDIRenderer::DrawBitmap : "
                     "Renderer\\Gdi\\GDIRenderer : Line 568");
    }
    std::string invalid;
    Paint([&](LGDIRenderer& r) {
        try {
            r.DrawBitmap(bitmap, {0, 0, 8, 8}, Resize(3));
        } catch (const std::invalid_argument& error) {
            invalid = error.what();
        }
    });
    EXPECT_EQ(invalid,
              "Invalid Argument : Invalid ResizeType passed to DrawBitmap. : "
              "Orv::LGDIRenderer::DrawBitmap : Renderer\\Gdi\\GDIRenderer : Line 559");
    EXPECT_EQ(Front(1, 1), kWhite);
}

TEST_F(GDIRendererTest, EachDrawnSizeKeepsItsOwnCachedBitmap)
{
    const ConstRCPtr<LBitmap> bitmap(Quarters());
    Paint([&](LGDIRenderer& r) {
        r.DrawBitmap(bitmap, {0, 0, 8, 8}, Resize(0));
        r.DrawBitmap(bitmap, {10, 0, 12, 4}, Resize(1));
    });
    const auto& cache = renderer->GetBitmapCache();
    ASSERT_EQ(cache.GetIndexedCount(), 2);
    const Gdiplus::GpCachedBitmap* first = cache.GetEntry(0).object->GetCachedBitmap();
    const Gdiplus::GpCachedBitmap* second = cache.GetEntry(1).object->GetCachedBitmap();
    EXPECT_NE(first, second);
    // Drawn again at a known size, the kept picture is reused rather than rebuilt.
    Paint([&](LGDIRenderer& r) { r.DrawBitmap(bitmap, {20, 20, 8, 8}, Resize(0)); });
    EXPECT_EQ(cache.GetIndexedCount(), 2);
    EXPECT_EQ(cache.GetEntry(0).object->GetCachedBitmap(), first);
    EXPECT_EQ(cache.GetEntry(0).useCount, 2u);
    EXPECT_EQ(Front(21, 21), kRed);
    EXPECT_EQ(Front(27, 27), kBlue);
}

TEST_F(GDIRendererTest, BitmapsNotDrawnForFiveMinutesAreReleased)
{
    Win32Test::UseVirtualSleepClock();
    // A renderer made on the virtual clock starts its purge period there.
    renderer = RCPtr<LGDIRenderer>(new LGDIRenderer());
    const ConstRCPtr<LBitmap> kept(Quarters());
    const ConstRCPtr<LBitmap> dropped(Quarters());
    const auto& cache = renderer->GetBitmapCache();
    auto held = [&](int entry) { return !cache.GetEntry(entry).IsEmpty(); };

    Paint([&](LGDIRenderer& r) {
        r.DrawBitmap(kept, {0, 0, 4, 4}, Resize(0));
        r.DrawBitmap(dropped, {10, 0, 4, 4}, Resize(0));
    });
    // Exactly five minutes do not purge; the first purge, just after, takes nothing since
    // everything is newer than the renderer's start mark.
    Sleep(300000);
    Paint([&](LGDIRenderer&) {});
    EXPECT_TRUE(held(0));
    EXPECT_TRUE(held(1));
    Sleep(1);
    Paint([&](LGDIRenderer& r) { r.DrawBitmap(kept, {0, 0, 4, 4}, Resize(0)); });
    EXPECT_TRUE(held(0));
    EXPECT_TRUE(held(1));

    // The second period: only the bitmap drawn since the first purge stays.
    Sleep(300000);
    Paint([&](LGDIRenderer&) {});
    EXPECT_TRUE(held(1)) << "purged before five minutes were over";
    Sleep(1);
    Paint([&](LGDIRenderer&) {});
    EXPECT_TRUE(held(0));
    EXPECT_FALSE(held(1));
    Win32Test::ResetSleepClock();
}
