// Views, copies, pixel reads and locked pixel data, with their bounds.

#include <gtest/gtest.h>

#include <cstring>

#include "BitmapFixture.h"

namespace {

using namespace BitmapTest;
using Orv::GetBitmap;
using Orv::LBitmap;
using Orv::LBitmapData;
using Orv::RCPtr;

class BitmapPixels : public BitmapFixture
{
public:
    void SetUp() override
    {
        BitmapFixture::SetUp();
        sheet = GetBitmap(u"::Tile Sheet.png");
        ASSERT_TRUE(sheet);
    }
    void TearDown() override
    {
        sheet = nullptr;
        BitmapFixture::TearDown();
    }
    RCPtr<LBitmap> sheet;
};

TEST_F(BitmapPixels, SubBitmapsViewTheRootWithOriginsAdded)
{
    RCPtr<LBitmap> whole = sheet->CreateSubBitmap(0, 0, 0, 0);
    EXPECT_EQ(
        (std::vector<int>{whole->GetX(), whole->GetY(), whole->GetWidth(), whole->GetHeight()}),
        (std::vector<int>{0, 0, 4, 3}));
    EXPECT_EQ(whole->GetParent().Get(), sheet.Get());

    // A size of 0 or less views the whole bitmap, whatever origin was asked for.
    RCPtr<LBitmap> negative = sheet->CreateSubBitmap(2, 1, -1, 5);
    EXPECT_EQ((std::vector<int>{negative->GetX(), negative->GetY(), negative->GetWidth(),
                                negative->GetHeight()}),
              (std::vector<int>{0, 0, 4, 3}));

    RCPtr<LBitmap> outer = sheet->CreateSubBitmap(10, 20, 30, 40);
    RCPtr<LBitmap> inner = outer->CreateSubBitmap(3, 4, 5, 6);
    EXPECT_EQ(
        (std::vector<int>{inner->GetX(), inner->GetY(), inner->GetWidth(), inner->GetHeight()}),
        (std::vector<int>{13, 24, 5, 6}));
    EXPECT_EQ(inner->GetParent().Get(), sheet.Get());
    EXPECT_EQ(inner->GetGdiplusBitmap(), sheet->GetGdiplusBitmap());

    RCPtr<LBitmap> corner = sheet->CreateSubBitmap(1, 1, 2, 2)->CreateSubBitmap(1, 1, 1, 1);
    EXPECT_EQ(Packed(corner->GetPixelColor(0, 0)), Packed(sheet->GetPixelColor(2, 2)));
    EXPECT_EQ(Packed(corner->GetPixelColor(0, 0)), 0xFF808080u);
}

// Reads outside the image, or outside a view's own rectangle, give the zero colour and keep a
// failing status; they never read a neighbour's or a stray pixel.
TEST_F(BitmapPixels, ReadsOutsideFailWithoutTouchingMemory)
{
    struct Case
    {
        const char* label;
        int viewX, viewY, viewWidth, viewHeight;
        int x, y;
    };
    const Case cases[] = {
        {"root left of the image", 0, 0, 0, 0, -1, 0},
        {"root below the image", 0, 0, 0, 0, 0, 3},
        {"view beyond its own width", 1, 1, 2, 2, 2, 0},
        {"view above its own top", 1, 1, 2, 2, 0, -1},
        {"view lying outside the image", 3, 2, 4, 4, 1, 1},
        {"view far outside the image", 1000000, 1000000, 5, 5, 0, 0},
    };
    for (const Case& c : cases) {
        RCPtr<LBitmap> view = sheet->CreateSubBitmap(c.viewX, c.viewY, c.viewWidth, c.viewHeight);
        EXPECT_EQ(Packed(view->GetPixelColor(c.x, c.y)), 0u) << c.label;
        EXPECT_NE(view->GetLastStatus(), Gdiplus::Ok) << c.label;
    }
    EXPECT_FALSE(sheet->CreateSubBitmap(3, 2, 4, 4)->Clone());
}

TEST_F(BitmapPixels, CloneIsAPrivateRootCopyOfTheView)
{
    RCPtr<LBitmap> view = sheet->CreateSubBitmap(1, 1, 3, 2);
    RCPtr<LBitmap> copy = view->Clone();
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->GetParent());
    EXPECT_TRUE(copy->GetName().IsEmpty());
    EXPECT_NE(copy->GetGdiplusBitmap(), sheet->GetGdiplusBitmap());
    EXPECT_EQ((std::vector<int>{copy->GetX(), copy->GetY(), copy->GetWidth(), copy->GetHeight()}),
              (std::vector<int>{0, 0, 3, 2}));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(Packed(copy->GetPixelColor(x, y)), Packed(view->GetPixelColor(x, y)));
        }
    }
    ASSERT_EQ(Gdiplus::GdipBitmapSetPixel(copy->GetGdiplusBitmap(), 0, 0, 0xFF000000u),
              Gdiplus::Ok);
    EXPECT_EQ(Packed(sheet->GetPixelColor(1, 1)), 0xFF28323Cu);
}

TEST_F(BitmapPixels, PixelDataLocksTheWholeRootImage)
{
    uint32_t expected[3][4] = {};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            expected[y][x] = Packed(sheet->GetPixelColor(x, y));
        }
    }
    RCPtr<LBitmapData> data = sheet->CreateSubBitmap(1, 1, 1, 1)->GetPixelData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->GetWidth(), 4);
    EXPECT_EQ(data->GetHeight(), 3);
    EXPECT_GE(data->GetRowLength(), 16);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const int32_t* pixel = data->GetPixelAddress(x, y);
            ASSERT_NE(pixel, nullptr);
            EXPECT_EQ(reinterpret_cast<const uint8_t*>(pixel),
                      reinterpret_cast<const uint8_t*>(data->GetPixelAddress(0, 0)) +
                          y * data->GetRowLength() + 4 * x);
            uint32_t word = 0;
            std::memcpy(&word, pixel, 4);
            EXPECT_EQ(word, expected[y][x]) << x << "," << y;
        }
    }
    for (auto [x, y] : {std::pair{-1, 0}, std::pair{4, 0}, std::pair{0, -1}, std::pair{0, 3}}) {
        EXPECT_EQ(data->GetPixelAddress(x, y), nullptr) << x << "," << y;
    }
    // Locked: a second lock is refused, also through another view.
    EXPECT_FALSE(sheet->GetPixelData());
    data = nullptr;
    EXPECT_TRUE(sheet->GetPixelData());
}

}  // namespace
