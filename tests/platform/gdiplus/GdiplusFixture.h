#pragma once
// GDI+ started for the test, an 8 x 8 bitmap cleared to white with a graphics object on it, and a
// way to compare the bitmap with a picture drawn as text: one character per pixel, '.' white,
// 'R' red, 'B' blue, 'G' green, 'K' black, '0' transparent, '?' not checked (an edge where
// rasterisers may differ).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gdiplus.h"

namespace GdiplusTest {

using namespace Gdiplus;

inline constexpr ARGB kWhite = 0xFFFFFFFFu;
inline constexpr ARGB kRed = 0xFFFF0000u;
inline constexpr ARGB kBlue = 0xFF0000FFu;
inline constexpr ARGB kGreen = 0xFF00FF00u;
inline constexpr ARGB kBlack = 0xFF000000u;

inline ARGB ColorOf(char c)
{
    switch (c) {
        case 'R':
            return kRed;
        case 'B':
            return kBlue;
        case 'G':
            return kGreen;
        case 'K':
            return kBlack;
        case '0':
            return 0;
        default:
            return kWhite;
    }
}

class GdiplusFixture : public ::testing::Test
{
public:
    static constexpr int kSize = 8;

    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
        ASSERT_EQ(
            GdipCreateBitmapFromScan0(kSize, kSize, 0, PixelFormat32bppARGB, nullptr, &bitmap), Ok);
        ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, &graphics), Ok);
        ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
    }
    void TearDown() override
    {
        for (GpBrush* brush : brushes) {
            EXPECT_EQ(GdipDeleteBrush(brush), Ok);
        }
        for (GpPen* pen : pens) {
            EXPECT_EQ(GdipDeletePen(pen), Ok);
        }
        EXPECT_EQ(GdipDeleteGraphics(graphics), Ok);
        EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
        GdiplusShutdown(token);
    }

    GpBrush* Solid(ARGB color)
    {
        GpSolidFill* brush = nullptr;
        EXPECT_EQ(GdipCreateSolidFill(color, &brush), Ok);
        brushes.push_back(brush);
        return brush;
    }
    GpPen* Pen(ARGB color, REAL width = 1.0f)
    {
        GpPen* pen = nullptr;
        EXPECT_EQ(GdipCreatePen1(color, width, UnitPixel, &pen), Ok);
        pens.push_back(pen);
        return pen;
    }

    // "" when the bitmap shows the picture, else where it does not.
    static std::string Compare(GpBitmap* image, const std::vector<std::string>& picture)
    {
        for (size_t y = 0; y < picture.size(); ++y) {
            for (size_t x = 0; x < picture[y].size(); ++x) {
                if (picture[y][x] == '?') {
                    continue;
                }
                ARGB got = 0;
                if (GdipBitmapGetPixel(image, static_cast<INT>(x), static_cast<INT>(y), &got) !=
                    Ok) {
                    return "pixel unreadable";
                }
                const ARGB want = ColorOf(picture[y][x]);
                if (got != want) {
                    char text[96];
                    std::snprintf(text, sizeof text, "pixel (%zu, %zu) is %08X, expected %08X", x,
                                  y, got, want);
                    return text;
                }
            }
        }
        return {};
    }
    std::string Shows(const std::vector<std::string>& picture) const
    {
        return Compare(bitmap, picture);
    }

    ULONG_PTR token = 0;
    GpBitmap* bitmap = nullptr;
    GpGraphics* graphics = nullptr;
    std::vector<GpBrush*> brushes;
    std::vector<GpPen*> pens;
};

}  // namespace GdiplusTest
