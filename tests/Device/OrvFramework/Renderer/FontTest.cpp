#include <gtest/gtest.h>

#include <cmath>

#include "../../../platform/gdiplus/FontFileTables.h"
#include "FixedWidthMeasurer.h"
#include "Renderer/MeasurementRendererSource.h"
#include "Utilities/Graphics/Font.h"

namespace {

using namespace Orv;
using RendererTest::FixedWidthMeasurer;
using RendererTest::MeasurerScope;

TEST(FontRegistryTest, EqualRequestsShareOneFontWhateverTheNamesCase)
{
    const ConstRCPtr<LFont> first = GetFont(u"FontRegistryTest Face", 9.0f, 0);
    const int32_t id = first->GetUniqueID();
    EXPECT_EQ(GetFont(u"FontRegistryTest Face", 9.0f, 0).Get(), first.Get());
    EXPECT_EQ(GetFont(u"fontregistrytest FACE", 9.0f, 0).Get(), first.Get());
    EXPECT_EQ(first->GetName(), WideString(u"FontRegistryTest Face"));  // as first requested

    const ConstRCPtr<LFont> bold = GetFont(u"FontRegistryTest Face", 9.0f, 1);
    const ConstRCPtr<LFont> larger = GetFont(u"FontRegistryTest Face", 9.5f, 0);
    EXPECT_NE(bold.Get(), first.Get());
    EXPECT_NE(larger.Get(), first.Get());
    EXPECT_EQ(bold->GetUniqueID(), id + 1);
    EXPECT_EQ(larger->GetUniqueID(), id + 2);
    EXPECT_EQ(LFont::GetUniqueID(larger), id + 2);

    // Equality is case-sensitive on the name, exact on size and style.
    EXPECT_TRUE(*first == *GetFont(u"FontRegistryTest Face", 9.0f, 0));
    EXPECT_TRUE(*first != *bold);
    EXPECT_TRUE(*first != *larger);
}

TEST(FontRegistryTest, FindFontTakesTheMatchNearestTheEnd)
{
    const ConstRCPtr<LFont> font = GetFont(u"FontRegistryTest Twice", 8.0f, 2);
    const int32_t index = FindFont(u"FontRegistryTest Twice", 8.0f, 2);
    ASSERT_GE(index, 0);
    EXPECT_EQ(GetFontRegistry().GetData()[index].Get(), font.Get());
    EXPECT_EQ(FindFont(u"FontRegistryTest Twice", 8.0f, 0), -1);
    EXPECT_EQ(FindFont(u"FontRegistryTest Never", 8.0f, 2), -1);

    FontRegistry& registry = GetFontRegistry();
    const RCPtr<LFont> again = registry.GetData()[index];
    registry.AddItem(again);
    const auto last = static_cast<int32_t>(registry.GetCount()) - 1;
    EXPECT_EQ(FindFont(u"FONTREGISTRYTEST TWICE", 8.0f, 2), last);
    registry.RemoveItems(static_cast<uint32_t>(last), 1);
    EXPECT_EQ(FindFont(u"FontRegistryTest Twice", 8.0f, 2), index);
}

TEST(FontRegistryTest, DropBackReferencesRemovesTheEntryOnce)
{
    ConstRCPtr<LFont> font = GetFont(u"FontRegistryTest Dropped", 7.0f, 0);
    const uint32_t count = GetFontRegistry().GetCount();
    auto* mutableFont = const_cast<LFont*>(font.Get());
    EXPECT_EQ(mutableFont->DropBackReferences(), S_OK);
    EXPECT_EQ(GetFontRegistry().GetCount(), count - 1);
    EXPECT_EQ(FindFont(u"FontRegistryTest Dropped", 7.0f, 0), -1);
    EXPECT_EQ(mutableFont->DropBackReferences(), E_FAIL);
    EXPECT_EQ(font->GetName(), WideString(u"FontRegistryTest Dropped"));  // still ours
}

TEST(FontMetricsTest, MeasuredOnceOnFirstRequest)
{
    RCPtr<FixedWidthMeasurer> measurer(new FixedWidthMeasurer());
    MeasurerScope scope(measurer);
    const ConstRCPtr<LFont> font = GetFont(u"FontMetricsTest Once", 12.0f, 0);
    EXPECT_EQ(measurer->metricsCalls, 0);
    EXPECT_EQ(font->GetDescent(), 4);
    EXPECT_EQ(font->GetLineHeight(), 20);
    EXPECT_EQ(font->GetAscent(), -16);
    EXPECT_EQ(measurer->metricsCalls, 1);
}

TEST(FontMetricsTest, ANegativeLineHeightIsMeasuredAgain)
{
    RCPtr<FixedWidthMeasurer> measurer(new FixedWidthMeasurer());
    measurer->lineHeight = -1;
    MeasurerScope scope(measurer);
    const ConstRCPtr<LFont> font = GetFont(u"FontMetricsTest Again", 12.0f, 0);
    font->GetLineHeight();
    font->GetAscent();
    EXPECT_EQ(measurer->metricsCalls, 2);
    measurer->lineHeight = 15;
    EXPECT_EQ(font->GetLineHeight(), 15);
    EXPECT_EQ(font->GetLineHeight(), 15);
    EXPECT_EQ(measurer->metricsCalls, 3);
}

// Without an application renderer, fonts measure through the off-screen GDI+ renderer: Arial is
// Liberation Sans, and the metrics follow from its own design numbers.
TEST(FontMetricsTest, TheDefaultMeasurerGivesArialsMetricsFromTheFontFile)
{
    const GdiplusTest::FontFileTables file(GdiplusTest::kLiberationSansRegular);
    const double em = file.UnitsPerEm();
    const int leading =
        std::max(0, file.HheaLineGap() - (file.WinAscent() + file.WinDescent() -
                                          (file.HheaAscender() - file.HheaDescender())));
    const double spacing = file.WinAscent() + file.WinDescent() + leading;
    const double size = 12.0;
    const ConstRCPtr<LFont> font = GetFont(u"Arial", 12.0f, 0);
    // Height at 72 dpi of a 12-pixel font, scaled to 96 dpi.
    EXPECT_EQ(font->GetLineHeight(),
              RoundToLong(static_cast<float>(spacing * size / em) * 96.0 / 72.0 + 0.499));
    EXPECT_EQ(font->GetAscent(),
              RoundToLong(file.WinAscent() * size * -96.0 / (em * 72.0) - 0.499));
    EXPECT_EQ(font->GetDescent(),
              RoundToLong(file.WinDescent() * size * 96.0 / (em * 72.0) + 0.499));
    EXPECT_EQ(font->GetLineHeight(), 19);  // 2355 / 2048 x 12 x 4/3, rounded up
}

TEST(FontMetricsTest, TheDefaultMeasurerGivesWidthsFromTheFontsAdvances)
{
    const GdiplusTest::FontFileTables file(GdiplusTest::kLiberationSansRegular);
    const ConstRCPtr<LFont> font = GetFont(u"Arial", 12.0f, 0);  // 12 points: 16 pixels
    const RCPtr<LMeasurementRenderer> measurer = GetMeasurementRenderer();
    ASSERT_TRUE(measurer);
    for (const char16_t* text : {u"Hello", u"W", u"a b ", u"Quorvel 2"}) {
        // The right edge of the characters: the left padding of a sixth em plus the advances.
        const float right =
            static_cast<float>(16.0 / 6.0 + file.Advances(text) * 16.0 / file.UnitsPerEm());
        const RectT<float> box = measurer->MeasureText(text, font);
        EXPECT_EQ(box.width, static_cast<float>(static_cast<int>(right + 0.9999f) + 3))
            << std::string(text, text + 1);
        EXPECT_EQ(box.x, 0.0f);
        EXPECT_EQ(box.y, static_cast<float>(font->GetAscent()));
        EXPECT_EQ(box.height, static_cast<float>(font->GetLineHeight()));
    }
    EXPECT_EQ(measurer->MeasureText(u"", font), (RectT<float>{0, 0, 0, 0}));
    // A family GDI+ does not know measures as the generic sans-serif, as it is drawn.
    const ConstRCPtr<LFont> unknown = GetFont(u"FontMetricsTest No Such Face", 12.0f, 0);
    EXPECT_EQ(measurer->MeasureText(u"Hello", unknown).width,
              measurer->MeasureText(u"Hello", font).width);
    EXPECT_EQ(unknown->GetLineHeight(), font->GetLineHeight());
}

}  // namespace
