#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FixedWidthMeasurer.h"
#include "Renderer/FontText.h"

namespace {

using namespace Orv;
using RendererTest::FixedWidthMeasurer;
using RendererTest::MeasurerScope;

std::vector<std::u16string> LinesOf(const StringArray& lines)
{
    std::vector<std::u16string> out;
    for (uint32_t i = 0; i < lines.GetCount(); ++i) {
        out.emplace_back(lines.GetAt(i).GetText());
    }
    return out;
}

class FontTextTest : public ::testing::Test
{
protected:
    RCPtr<FixedWidthMeasurer> measurer{new FixedWidthMeasurer()};
    MeasurerScope scope{measurer};
    // A font of its own, so no other test has measured it.
    ConstRCPtr<LFont> font = GetFont(u"FontTextTest Fixed", 10.0f, 0);

    std::vector<std::u16string> Layout(const char16_t* text, bool wrap, int width)
    {
        RCPtr<LFontText> block(new LFontText(text, font));
        block->SetWrap(wrap);
        block->SetBoxSize(width, 100);
        block->GetLineCount();
        return LinesOf(block->GetLines());
    }
};

struct LayoutCase
{
    const char* what;
    const char16_t* text;
    bool wrap;
    int width;
    std::vector<std::u16string> lines;
};

TEST_F(FontTextTest, SplitsAndWrapsAsLaidDown)
{
    const LayoutCase cases[] = {
        {"empty text is one empty line", u"", false, 100, {u""}},
        {"empty middle line", u"a\n\nb", false, 100, {u"a", u"", u"b"}},
        {"no line after a final feed", u"ab\n", false, 100, {u"ab"}},
        {"carriage return stays", u"a\r\nb", false, 100, {u"a\r", u"b"}},
        {"third word wraps, its space dropped", u"one two three", true, 70, {u"one two", u"three"}},
        {"long word stays whole", u"abcdefghij", true, 50, {u"abcdefghij"}},
        {"breaks after a hyphen", u"well-known", true, 60, {u"well-", u"known"}},
        {"hyphen after the last space", u"a well-known", true, 70, {u"a well-", u"known"}},
        {"exact width is still examined", u"abcde fg", true, 80, {u"abcde", u"fg"}},
        {"a candidate of exactly the width fits", u"abc defg", true, 30, {u"abc", u"defg"}},
        {"blanks before the break stay, after it go", u"one   two", true, 40, {u"one ", u"two"}},
        {"paragraphs wrap one by one", u"aa bb\ncc", true, 30, {u"aa", u"bb", u"cc"}},
        {"fits under the width", u"ab cd", true, 60, {u"ab cd"}},
        {"no wrap ignores the width", u"one two three", false, 10, {u"one two three"}},
        {"each hyphen is a break", u"ab-cd-ef", true, 40, {u"ab-", u"cd-", u"ef"}},
    };
    for (const LayoutCase& c : cases) {
        EXPECT_EQ(Layout(c.text, c.wrap, c.width), c.lines) << c.what;
    }
}

TEST_F(FontTextTest, PlacesLinesByTheAlignmentFactors)
{
    RCPtr<LFontText> block(new LFontText(u"abc\nab", font));
    block->SetBoxSize(100, 100);
    block->SetVerticalAlignment(0.5f);
    block->SetHorizontalAlignment(1.0f);
    ASSERT_EQ(block->GetLineCount(), 2);
    EXPECT_EQ(block->GetLineRect(0), (RectT<float>{70, 30, 30, 20}));
    EXPECT_EQ(block->GetLineRect(1), (RectT<float>{80, 50, 20, 20}));
    EXPECT_EQ(block->GetLineRect(2), (RectT<float>{0, 0, 0, 0}));
    EXPECT_EQ(block->GetLineRect(-1), (RectT<float>{0, 0, 0, 0}));
    // The union with the origin: from 0 to the right edge of the widest line.
    const LFontText::Size size = block->GetTextSize();
    EXPECT_EQ(size.width, 100);
    EXPECT_EQ(size.height, 70);
}

TEST_F(FontTextTest, AMeasuredBoxWithAnXCountsToItsRightEdge)
{
    measurer->boxX = 2.5f;
    RCPtr<LFontText> block(new LFontText(u"ab\nabcd", font));
    EXPECT_EQ(block->GetTextWidth(), 43);  // 40 + 2.5, rounded up
    ASSERT_EQ(block->GetLineCount(), 2);
    EXPECT_EQ(block->GetLineRect(1), (RectT<float>{0, 20, 42.5f, 20}));
    // Wrapping measures right edges too: "ab cd" is 52.5 wide, so it breaks at 50.
    EXPECT_EQ(Layout(u"ab cd", true, 50), (std::vector<std::u16string>{u"ab", u"cd"}));
}

TEST_F(FontTextTest, HeightAndWidthQueriesLeaveTheLayoutAlone)
{
    RCPtr<LFontText> block(new LFontText(u"one two three\nfour", font));
    block->SetWrap(true);
    block->SetBoxSize(1000, 100);
    ASSERT_EQ(block->GetLineCount(), 2);
    EXPECT_EQ(block->GetTextHeight(70), 3 * 20);
    EXPECT_EQ(block->GetTextHeight(1000), 2 * 20);
    EXPECT_EQ(block->GetTextWidth(), 130);  // wrapping ignored
    EXPECT_EQ(LinesOf(block->GetLines()), (std::vector<std::u16string>{u"one two three", u"four"}));

    RCPtr<LFontText> empty(new LFontText(u"", font));
    EXPECT_EQ(empty->GetTextHeight(100), 20);
    EXPECT_EQ(empty->GetTextWidth(), 0);
    EXPECT_EQ(empty->GetLineCount(), 1);
}

TEST_F(FontTextTest, TextAndFontChangesEmptyTheLayout)
{
    RCPtr<LFontText> block(new LFontText(u"ab", font));
    ASSERT_EQ(block->GetLineCount(), 1);
    const int before = measurer->measureCalls;
    EXPECT_FALSE(block->SetText(WideString(u"ab")));
    EXPECT_FALSE(block->SetText(block->GetText()));
    EXPECT_FALSE(block->SetFont(GetFont(u"fonttexttest fixed", 10.0f, 0)));  // the same font
    block->GetLineCount();
    EXPECT_EQ(measurer->measureCalls, before) << "an unchanged block laid out again";

    EXPECT_TRUE(block->SetText(u"a\nb"));
    EXPECT_EQ(block->GetLineCount(), 2);
    EXPECT_TRUE(block->SetFont(GetFont(u"FontTextTest Fixed", 11.0f, 0)));
    EXPECT_TRUE(block->SetFont(nullptr));
    EXPECT_FALSE(block->SetFont(nullptr));
    EXPECT_TRUE(block->SetFont(font));
    EXPECT_EQ(block->GetLineCount(), 2);
}

}  // namespace
