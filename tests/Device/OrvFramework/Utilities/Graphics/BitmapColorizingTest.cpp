// Colourising in place and into new bitmaps, filled bitmaps, and the failures with their texts.

#include <gtest/gtest.h>

#include <string>

#include "BitmapFixture.h"
#include "ControlBase/Colorizer.h"
#include "ObjectBase/Exception.h"

namespace {

using namespace BitmapTest;
using Orv::ColorT;
using Orv::ConstRCPtr;
using Orv::GetBitmap;
using Orv::LBitmap;
using Orv::LColorizer;
using Orv::RCPtr;

RCPtr<LColorizer> Solid(const ColorT& color)
{
    return RCPtr<LColorizer>(new LColorizer(u"c", LColorizer::kSolid, color, ColorT(), 0, 0, 0, 0));
}

RCPtr<LColorizer> Gradient(int32_t type, const ColorT& color, const ColorT& end)
{
    return RCPtr<LColorizer>(new LColorizer(u"g", type, color, end, 0, 0, 10, 10));
}

// The text of what `call` throws, and whether it was of the kind E.
template <class E, class Call>
std::string ThrownText(Call call)
{
    try {
        call();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong kind: ") + e.what();
    }
    return "nothing thrown";
}

// A copy of the resource, so colourising never touches the cached image.
RCPtr<LBitmap> CopyOf(const char16_t* name)
{
    RCPtr<LBitmap> cached = GetBitmap(name);
    return cached ? cached->Clone() : RCPtr<LBitmap>();
}

struct TintCase
{
    const char* label;
    ColorT color;
    float amount;
    uint32_t white;      // what the opaque white pixel (0, 0) becomes
    uint32_t halfWhite;  // what the white pixel at alpha 128 (3, 2) becomes
    uint32_t dark;       // what (10, 20, 30) at (0, 1) becomes
};

class Tint : public BitmapFixture, public ::testing::WithParamInterface<TintCase>
{
};

TEST_P(Tint, MovesColourBytesAndKeepsAlpha)
{
    const TintCase& c = GetParam();
    RCPtr<LBitmap> bitmap = CopyOf(u"::Tile Sheet.png");
    ASSERT_TRUE(bitmap);
    LBitmap::ApplyColorizer(bitmap, Solid(c.color), c.amount);
    EXPECT_EQ(Packed(bitmap->GetPixelColor(0, 0)), c.white);
    EXPECT_EQ(Packed(bitmap->GetPixelColor(0, 1)), c.dark);
    // Straight alpha 128 does not round-trip exactly through premultiplied storage.
    const uint32_t half = Packed(bitmap->GetPixelColor(3, 2));
    EXPECT_EQ(half >> 24, c.halfWhite >> 24);
    for (int shift : {0, 8, 16}) {
        EXPECT_NEAR(static_cast<int>((half >> shift) & 0xFF),
                    static_cast<int>((c.halfWhite >> shift) & 0xFF), 1)
            << shift;
    }
    // The cached image was not touched.
    EXPECT_EQ(Packed(GetBitmap(u"::Tile Sheet.png")->GetPixelColor(0, 0)), 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    Colorizer, Tint,
    ::testing::Values(TintCase{"RedHalfway", ColorT(1, 0, 0, 1), 0.5f, 0xFFFF8080u, 0x80FF8080u,
                               0xFF850A0Fu},
                      TintCase{"AmountZeroChangesNothing", ColorT(1, 0, 0, 1), 0.0f, 0xFFFFFFFFu,
                               0x80FFFFFFu, 0xFF0A141Eu},
                      TintCase{"FullAmountTakesTheColour", ColorT(0, 0.5f, 1, 1), 1.0f, 0xFF0080FFu,
                               0x800080FFu, 0xFF0080FFu},
                      TintCase{"ColourAlphaScalesTheAmount", ColorT(0, 0, 0, 0.5f), 1.0f,
                               0xFF808080u, 0x80808080u, 0xFF050A0Fu},
                      // Alpha x amount of 3 would go below 0 and past 255: the bytes stop there.
                      TintCase{"FactorAboveOneClamps", ColorT(1, 0, 0, 1), 3.0f, 0xFFFF0000u,
                               0x80FF0000u, 0xFFFF0000u},
                      // A factor of -1 would push white past 255 (wrapping to 254): it stays 255.
                      TintCase{"NegativeFactorClamps", ColorT(1, 0, 0, 1), -1.0f, 0xFFFFFFFFu,
                               0x80FFFFFFu, 0xFF00283Cu}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(BitmapFixture, TintOfAViewChangesOnlyItsRectangle)
{
    RCPtr<LBitmap> copy = CopyOf(u"::Tile Sheet.png");
    ASSERT_TRUE(copy);
    RCPtr<LBitmap> view = copy->CreateSubBitmap(1, 0, 1, 1);
    LBitmap::ApplyColorizer(view, Solid(ColorT(0, 0, 0, 1)), 1.0f);
    EXPECT_EQ(Packed(copy->GetPixelColor(1, 0)), 0xFF000000u);
    EXPECT_EQ(Packed(copy->GetPixelColor(0, 0)), 0xFFFFFFFFu);
    EXPECT_EQ(Packed(copy->GetPixelColor(2, 0)), 0xFF00FF00u);
}

TEST_F(BitmapFixture, NewBitmapFromBitmapMaskOrNeither)
{
    RCPtr<LColorizer> red = Solid(ColorT(1, 0, 0, 1));
    RCPtr<LBitmap> white = GetBitmap(u"::white.png");
    ASSERT_TRUE(white);

    RCPtr<LBitmap> tinted = LBitmap::ApplyColorizer(red, 0.5f, 99, 99, white, nullptr);
    ASSERT_TRUE(tinted);
    EXPECT_NE(tinted.Get(), white.Get());
    EXPECT_EQ(tinted->GetWidth(), 2);
    EXPECT_EQ(Packed(tinted->GetPixelColor(1, 1)), 0xFFFF8080u);
    EXPECT_EQ(Packed(white->GetPixelColor(1, 1)), 0xFFFFFFFFu);

    RCPtr<LBitmap> sheet = GetBitmap(u"::Tile Sheet.png");
    RCPtr<LBitmap> masked = LBitmap::ApplyColorizer(red, 1.0f, 0, 0, nullptr, sheet);
    ASSERT_TRUE(masked);
    EXPECT_EQ(Packed(masked->GetPixelColor(2, 1)), 0xFFFF0000u);
    EXPECT_EQ(Packed(masked->GetPixelColor(3, 2)) >> 24, 0x80u);

    RCPtr<LBitmap> filled = LBitmap::ApplyColorizer(red, 1.0f, 5, 2, nullptr, nullptr);
    ASSERT_TRUE(filled);
    EXPECT_EQ(filled->GetWidth() * 10 + filled->GetHeight(), 52);
    EXPECT_EQ(Packed(filled->GetPixelColor(4, 1)), 0xFFFF0000u);
}

TEST_F(BitmapFixture, FilledBitmapsOwnOneColour)
{
    struct Case
    {
        ColorT color;
        uint32_t packed;
    };
    for (const Case& c :
         {Case{ColorT(0, 0.5f, 1, 1), 0xFF0080FFu}, Case{ColorT(1, 1, 1, 0), 0x00000000u},
          Case{ColorT(2, -1, 0.25f, 1), 0xFFFF0040u}}) {
        RCPtr<LBitmap> filled = LBitmap::CreateFilledBitmap(3, 2, c.color);
        ASSERT_TRUE(filled);
        EXPECT_FALSE(filled->GetParent());
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(Packed(filled->GetPixelColor(x, y)), c.packed);
            }
        }
    }
    // The colorizer's alpha is multiplied by the amount.
    RCPtr<LBitmap> faded = LBitmap::CreateColorizedBitmap(Solid(ColorT(0, 0, 1, 1)), 0.0f, 1, 1);
    ASSERT_TRUE(faded);
    EXPECT_EQ(Packed(faded->GetPixelColor(0, 0)) >> 24, 0u);
}

TEST_F(BitmapFixture, GradientWithEqualColoursIsAFill)
{
    for (int32_t type : {LColorizer::kLinearGradient, LColorizer::kRadialGradient}) {
        RCPtr<LBitmap> filled = LBitmap::CreateColorizedBitmap(
            Gradient(type, ColorT(0, 1, 0, 1), ColorT(0, 1, 0, 1)), 1.0f, 2, 2);
        ASSERT_TRUE(filled);
        EXPECT_EQ(Packed(filled->GetPixelColor(1, 1)), 0xFF00FF00u);
    }
}

struct FailureCase
{
    const char* label;
    void (*call)();
    bool domain;  // domain_error, else runtime_error
    const char* text;
};

class Failure : public BitmapFixture, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(Failure, ThrowsItsKnownText)
{
    const FailureCase& c = GetParam();
    const std::string text = c.domain ? ThrownText<Orv::Exception<std::domain_error>>(c.call)
                                      : ThrownText<Orv::Exception<std::runtime_error>>(c.call);
    EXPECT_EQ(text, c.text);
}

const ColorT kRed(1, 0, 0, 1);
const ColorT kBlue(0, 0, 1, 1);

INSTANTIATE_TEST_SUITE_P(
    Bitmap, Failure,
    ::testing::Values(
        FailureCase{"NullBitmap",
                    [] { LBitmap::ApplyColorizer(RCPtr<LBitmap>(), Solid(kRed), 1.0f); }, false,
                    "Runtime Error : Orv::LBitmap::ApplyColorizer : Utilities\\Graphics\\Bitmap : "
                    "Line 368"},
        FailureCase{"NullColorizer",
                    [] { LBitmap::ApplyColorizer(CopyOf(u"::white.png"), nullptr, 1.0f); }, false,
                    "Runtime Error : Orv::LBitmap::ApplyColorizer : Utilities\\Graphics\\Bitmap : "
                    "Line 368"},
        FailureCase{"LockOfAViewOutsideTheImage",
                    [] {
                        RCPtr<LBitmap> copy = CopyOf(u"::white.png");
                        LBitmap::ApplyColorizer(copy->CreateSubBitmap(1, 1, 2, 2), Solid(kRed),
                                                1.0f);
                    },
                    false,
                    "Runtime Error : Orv::LBitmap::ApplyColorizer : Utilities\\Graphics\\Bitmap : "
                    "Line 392"},
        FailureCase{"LockWhilePixelDataIsHeld",
                    [] {
                        RCPtr<LBitmap> copy = CopyOf(u"::white.png");
                        auto data = copy->GetPixelData();
                        LBitmap::ApplyColorizer(copy, Solid(kRed), 1.0f);
                    },
                    false,
                    "Runtime Error : Orv::LBitmap::ApplyColorizer : Utilities\\Graphics\\Bitmap : "
                    "Line 392"},
        FailureCase{"BitmapAndMask",
                    [] {
                        RCPtr<LBitmap> white = GetBitmap(u"::white.png");
                        LBitmap::ApplyColorizer(Solid(kRed), 1.0f, 1, 1, white, white);
                    },
                    true,
                    "Domain Error : Orv::LBitmap::ApplyColorizer : Utilities\\Graphics\\Bitmap : "
                    "Line 438"},
        FailureCase{"ColorizedWithoutArea",
                    [] { LBitmap::CreateColorizedBitmap(Solid(kRed), 1.0f, 0, 4); }, false,
                    "Runtime Error : Orv::LBitmap::CreateColorizedBitmap : "
                    "Utilities\\Graphics\\Bitmap : Line 292"},
        FailureCase{"FilledWithoutArea", [] { LBitmap::CreateFilledBitmap(4, -1, kRed); }, false,
                    "Runtime Error : Orv::LBitmap::CreateFilledBitmap : "
                    "Utilities\\Graphics\\Bitmap : Line 321"},
        FailureCase{"TwoColourGradientFill",
                    [] {
                        LBitmap::CreateColorizedBitmap(
                            Gradient(LColorizer::kRadialGradient, kRed, kBlue), 1.0f, 2, 2);
                    },
                    true,
                    "Domain Error : Orv::LBitmap::CreateGradientFilledBitmap : "
                    "Utilities\\Graphics\\Bitmap : Line 356"},
        FailureCase{"TwoColourGradientTint",
                    [] {
                        LBitmap::ApplyColorizer(CopyOf(u"::white.png"),
                                                Gradient(LColorizer::kLinearGradient, kRed, kBlue),
                                                1.0f);
                    },
                    true,
                    "Domain Error : Orv::LBitmap::CreateGradientFilledBitmap : "
                    "Utilities\\Graphics\\Bitmap : Line 356"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
