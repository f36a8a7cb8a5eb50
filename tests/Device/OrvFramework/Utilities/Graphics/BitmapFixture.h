#pragma once
// GDI+ started for each test, a scratch folder for image files, and PNG files written on demand.
// The program's resources come from tests/fixtures/resources: "GDIPLUS/Tile Sheet.png" is 4 x 3,
// row 0 white, red, green, blue; row 1 (10,20,30) (40,50,60) (70,80,90) (100,110,120); row 2
// (200,150,100) black, grey 128, and white at alpha 128; "white.png" is 2 x 2 white; "empty.png"
// is empty and "broken.png" a cut-off PNG.

#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "Utilities/Graphics/Bitmap.h"
#include "gdiplus.h"

namespace BitmapTest {

inline std::filesystem::path FixtureFile(const char* relative)
{
    return std::filesystem::path(ORV_FIXTURES_DIR) / "resources" / relative;
}

inline Orv::WideString Wide(const std::string& text)
{
    return Orv::WideString(text.c_str());
}

// The colour as bytes, for comparing with what a test expects.
inline uint32_t Packed(const Orv::ColorT& color)
{
    return color.ToPackedARGB();
}

class BitmapFixture : public ::testing::Test
{
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
        folder = std::filesystem::temp_directory_path() /
                 ("orv_bitmap_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        std::filesystem::remove_all(folder);
        Gdiplus::GdiplusShutdown(token);
    }

    // A width x 1 PNG whose pixels are `argb` (opaque values round-trip exactly).
    std::filesystem::path WritePng(const std::filesystem::path& path, int width, uint32_t argb)
    {
        std::filesystem::create_directories(path.parent_path());
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, 1);
        auto* pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface));
        for (int x = 0; x < width; ++x) {
            pixels[x] = argb;
        }
        cairo_surface_mark_dirty(surface);
        EXPECT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
        return path;
    }

    ULONG_PTR token = 0;
    std::filesystem::path folder;
};

}  // namespace BitmapTest
