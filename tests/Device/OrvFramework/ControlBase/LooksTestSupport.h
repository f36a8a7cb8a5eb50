#pragma once
// What the tests of visual parts and looks share: GDI+ started, PNG fixtures written into a
// scratch folder, descriptors built in a line, and a renderer that records what is drawn where.
// Every test ends with no part and no look alive and nothing left in the bitmap cache, so a leak
// fails the test that made it.

#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ControlBase/Colorizer.h"
#include "ControlBase/DockedPart.h"
#include "ControlBase/Look.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/VisualPart.h"
#include "ControlBase/VisualPartDescriptor.h"
#include "FixedWidthMeasurer.h"
#include "RecordingRenderer.h"
#include "Utilities/Graphics/Bitmap.h"
#include "Win32Test/DebugOutputSink.h"
#include "gdiplus.h"

namespace LooksTest {

using Orv::ColorT;
using Orv::ConstRCPtr;
using Orv::LongCoord;
using Orv::PointT;
using Orv::RCPtr;
using Orv::RectT;

inline Orv::WideString Wide(const std::string& text)
{
    return Orv::WideString(text.c_str());
}

inline RCPtr<Orv::LColorizer> Solid(uint32_t argb)
{
    return RCPtr<Orv::LColorizer>(new Orv::LColorizer(
        u"solid", Orv::LColorizer::kSolid, ColorT::FromPackedARGB(argb), ColorT(), 0, 0, 0, 0));
}

inline RCPtr<Orv::LColorizer> Gradient(int32_t type, uint32_t start, uint32_t end)
{
    return RCPtr<Orv::LColorizer>(new Orv::LColorizer(u"gradient", type,
                                                      ColorT::FromPackedARGB(start),
                                                      ColorT::FromPackedARGB(end), 0, 0, 10, 10));
}

// A part descriptor of an image rectangle (empty file: a colour part of width x height).
inline RCPtr<Orv::LVisualPartDescriptor> PartDescriptor(
    const char16_t* name, const Orv::WideString& file, int32_t x, int32_t y, int32_t width,
    int32_t height, int32_t resizeType = Orv::LVisualPart::kStretch,
    const RCPtr<Orv::LColorizer>& colorizer = {}, float alpha = 1.0f,
    const Orv::ImageReference& mask = {})
{
    return RCPtr<Orv::LVisualPartDescriptor>(
        new Orv::LVisualPartDescriptor(name, Orv::ImageReference{file, x, y, width, height},
                                       resizeType, colorizer, width, height, alpha, mask));
}

inline RCPtr<Orv::LVisualPartDescriptor> ColorPart(const char16_t* name, uint32_t argb,
                                                   int32_t width, int32_t height,
                                                   int32_t resizeType = Orv::LVisualPart::kStretch,
                                                   float alpha = 1.0f)
{
    return PartDescriptor(name, Orv::WideString(), 0, 0, width, height, resizeType, Solid(argb),
                          alpha);
}

inline RCPtr<Orv::LDockedPart> Docked(const RCPtr<Orv::LVisualPartDescriptor>& part,
                                      const Orv::DockedPlacement& placement)
{
    return RCPtr<Orv::LDockedPart>(new Orv::LDockedPart(part, placement));
}

// A client placement with all four offsets.
inline Orv::DockedPlacement ClientOffsets(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    Orv::DockedPlacement placement;
    placement.offsetMask = Orv::kAllOffsetsGiven;
    placement.offsetLeft = left;
    placement.offsetTop = top;
    placement.offsetRight = right;
    placement.offsetBottom = bottom;
    return placement;
}

inline RCPtr<Orv::LLookDescriptor> LookDescriptor(
    const RCPtr<Orv::LVisualPartDescriptor>& client,
    const Orv::DockedPlacement& clientPlacement = ClientOffsets(0, 0, 0, 0))
{
    RCPtr<Orv::LLookDescriptor> look(new Orv::LLookDescriptor(u"look"));
    if (client) {
        look->SetClientPart(Docked(client, clientPlacement));
    }
    return look;
}

// One call the looks made to the renderer, with the offset and clip in force when it came.
struct DrawCall
{
    std::string what;       // "bitmap", "fill" or "text"
    RectT<LongCoord> rect;  // destination (for text: origin and 0 x 0)
    uint32_t color = 0;
    std::string text;
    PointT<double> offset;
    RectT<double> clip;
    const Orv::LBitmap* bitmap = nullptr;
};

class DrawRecorder : public RendererTest::RecordingRenderer
{
public:
    std::vector<DrawCall> draws;
    int pushes = 0;
    int pops = 0;

    using LRenderer::PushClip;

    void DrawBitmap(const ConstRCPtr<Orv::LBitmap>& bitmap, const RectT<LongCoord>& destination,
                    Orv::ResizeType) override
    {
        Record({"bitmap", destination, 0, {}, {}, {}, bitmap.Get()});
    }
    void FillRect(const RectT<LongCoord>& rect, const ColorT& color, bool) override
    {
        Record({"fill", rect, color.ToPackedARGB(), {}, {}, {}, nullptr});
    }
    void DrawText(const Orv::WideString& text, const ConstRCPtr<Orv::LFont>&,
                  const PointT<LongCoord>& origin, const ColorT& color) override
    {
        Record({"text",
                {origin.x, origin.y, 0, 0},
                color.ToPackedARGB(),
                text.ToNarrow().GetText(),
                {},
                {},
                nullptr});
    }
    void PushClip(const RectT<double>& frame, const RectT<double>& clip,
                  const ConstRCPtr<Orv::LStencil>& stencil, bool relative) override
    {
        ++pushes;
        LRenderer::PushClip(frame, clip, stencil, relative);
    }
    void PopClip() override
    {
        ++pops;
        LRenderer::PopClip();
    }

    // The window rectangle the call's destination covers once clipped: where pixels would land.
    static RectT<double> VisibleOnWindow(const DrawCall& call)
    {
        RectT<double> local = call.rect.ToDouble();
        RectT<double> visible;
        RectT<double>::Intersect(visible, local, call.clip);
        return {visible.x + call.offset.x, visible.y + call.offset.y, visible.width,
                visible.height};
    }

private:
    void Record(DrawCall call)
    {
        const Orv::RenderState* state = GetCurrentState();
        call.offset = state->GetOffset();
        call.clip = state->GetClipRect();
        draws.push_back(call);
    }
};

class LooksFixture : public ::testing::Test
{
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        folder = std::filesystem::temp_directory_path() /
                 ("orv_looks_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        Win32Test::TakeDebugOutput();
        renderer->RenderStart(context);
    }
    void TearDown() override
    {
        renderer->RenderFinish(context);
        EXPECT_EQ(Orv::LLook::GetLiveCount(), 0) << "a look leaked";
        EXPECT_EQ(Orv::LVisualPart::GetLiveCount(), 0) << "a visual part leaked";
        std::filesystem::remove_all(folder);
        Gdiplus::GdiplusShutdown(token);
    }

    // A PNG of width x height whose pixel (x, y) is pixels[y * width + x] (0xAARRGGBB; fully
    // opaque and fully transparent pixels round-trip exactly).
    Orv::WideString WritePng(const std::string& name, int width, int height,
                             const std::vector<uint32_t>& pixels)
    {
        const std::filesystem::path path = folder / name;
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        auto* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
            for (int x = 0; x < width; ++x) {
                const uint32_t argb = pixels[static_cast<size_t>(y * width + x)];
                row[x] = (argb >> 24) == 0 ? 0 : argb;  // cairo keeps premultiplied pixels
            }
        }
        cairo_surface_mark_dirty(surface);
        EXPECT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
        return Wide(path.string());
    }

    // A PNG whose pixel (x, y) is 0xFF000000 | x << 8 | y: every pixel tells where it came from.
    Orv::WideString WriteCoordinatePng(const std::string& name, int width, int height)
    {
        std::vector<uint32_t> pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixels.push_back(0xFF000000u | static_cast<uint32_t>(x) << 8 |
                                 static_cast<uint32_t>(y));
            }
        }
        return WritePng(name, width, height, pixels);
    }

    static uint32_t Coordinate(int x, int y)
    {
        return 0xFF000000u | static_cast<uint32_t>(x) << 8 | static_cast<uint32_t>(y);
    }

    // The texts sent to the debug channel that mention the fragment.
    static int CountDebugLines(const std::vector<std::string>& lines, const std::string& fragment)
    {
        int count = 0;
        for (const std::string& line : lines) {
            count += line.find(fragment) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    ULONG_PTR token = 0;
    std::filesystem::path folder;
    RCPtr<DrawRecorder> renderer{new DrawRecorder()};
    RCPtr<Orv::LRenderContextInfo> context{new RendererTest::TestContext()};
};

}  // namespace LooksTest
