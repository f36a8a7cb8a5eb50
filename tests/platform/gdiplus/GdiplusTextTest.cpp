#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FontFileTables.h"
#include "gdiplus.h"

namespace {

using namespace Gdiplus;
using GdiplusTest::FontFileTables;

constexpr ARGB kWhite = 0xFFFFFFFFu;
constexpr ARGB kBlack = 0xFF000000u;

std::u16string FamilyName(GpFontFamily* family)
{
    WCHAR name[32] = {};
    EXPECT_EQ(GdipGetFamilyName(family, name, 0), Ok);
    return name;
}

class GdiplusTextTest : public ::testing::Test
{
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Ok);
        ASSERT_EQ(
            GdipCreateBitmapFromScan0(kWidth, kHeight, 0, PixelFormat32bppARGB, nullptr, &bitmap),
            Ok);
        ASSERT_EQ(GdipGetImageGraphicsContext(bitmap, &graphics), Ok);
        ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
        ASSERT_EQ(GdipCreateFontFamilyFromName(u"Arial", nullptr, &arial), Ok);
        ASSERT_EQ(GdipCreateSolidFill(kBlack, &black), Ok);
    }
    void TearDown() override
    {
        for (GpFont* font : fonts) {
            EXPECT_EQ(GdipDeleteFont(font), Ok);
        }
        EXPECT_EQ(GdipDeleteBrush(black), Ok);
        EXPECT_EQ(GdipDeleteFontFamily(arial), Ok);
        EXPECT_EQ(GdipDeleteGraphics(graphics), Ok);
        EXPECT_EQ(GdipDisposeImage(bitmap), Ok);
        GdiplusShutdown(token);
    }

    GpFont* Font(REAL size, INT style = FontStyleRegular, Unit unit = UnitPixel)
    {
        GpFont* font = nullptr;
        EXPECT_EQ(GdipCreateFont(arial, size, style, unit, &font), Ok);
        fonts.push_back(font);
        return font;
    }

    GpRectF Measure(const std::u16string& text, GpFont* font, INT flags = 0)
    {
        GpStringFormat* format = nullptr;
        EXPECT_EQ(GdipCreateStringFormat(flags, 0, &format), Ok);
        const GpRectF layout{0, 0, 0, 0};
        GpRectF box{};
        INT fitted = -1, lines = -1;
        EXPECT_EQ(GdipMeasureString(graphics, text.c_str(), static_cast<INT>(text.size()), font,
                                    &layout, format, &box, &fitted, &lines),
                  Ok);
        EXPECT_EQ(fitted, static_cast<INT>(text.size()));
        EXPECT_EQ(GdipDeleteStringFormat(format), Ok);
        return box;
    }

    GpRectF RangeBounds(const std::u16string& text, GpFont* font, CharacterRange range, INT flags,
                        GpStatus expected = Ok)
    {
        GpStringFormat* format = nullptr;
        EXPECT_EQ(GdipCreateStringFormat(flags, 0, &format), Ok);
        EXPECT_EQ(GdipSetStringFormatMeasurableCharacterRanges(format, 1, &range), Ok);
        GpRegion* region = nullptr;
        EXPECT_EQ(GdipCreateRegion(&region), Ok);
        const GpRectF layout{10, 20, 9999, 9999};
        EXPECT_EQ(GdipMeasureCharacterRanges(graphics, text.c_str(), -1, font, layout, format, 1,
                                             &region),
                  expected);
        GpRectF bounds{};
        EXPECT_EQ(GdipGetRegionBounds(region, graphics, &bounds), Ok);
        EXPECT_EQ(GdipDeleteRegion(region), Ok);
        EXPECT_EQ(GdipDeleteStringFormat(format), Ok);
        return bounds;
    }

    // The box of pixels darker than mid grey; left > right when there is none.
    struct Ink
    {
        int left = kWidth, top = kHeight, right = -1, bottom = -1;
    };
    Ink InkOf(GpBitmap* image) const
    {
        Ink ink;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                ARGB pixel = 0;
                EXPECT_EQ(GdipBitmapGetPixel(image, x, y, &pixel), Ok);
                if ((pixel & 0xFF) < 0x80) {
                    ink.left = std::min(ink.left, x);
                    ink.right = std::max(ink.right, x);
                    ink.top = std::min(ink.top, y);
                    ink.bottom = std::max(ink.bottom, y);
                }
            }
        }
        return ink;
    }

    GpStatus Draw(const std::u16string& text, GpFont* font, REAL x, REAL y)
    {
        const GpRectF layout{x, y, 0, 0};
        return GdipDrawString(graphics, text.c_str(), -1, font, &layout, nullptr, black);
    }

    ULONG_PTR token = 0;
    GpBitmap* bitmap = nullptr;
    GpGraphics* graphics = nullptr;
    GpFontFamily* arial = nullptr;
    GpSolidFill* black = nullptr;
    std::vector<GpFont*> fonts;
    const FontFileTables regular{GdiplusTest::kLiberationSansRegular};
};

struct FamilyCase
{
    const char* what;
    const char16_t* name;
    GpStatus status;
    const char16_t* found;
};

TEST_F(GdiplusTextTest, FamiliesAreFoundByNameOrMetricAliasOnly)
{
    const FamilyCase cases[] = {
        {"metric alias", u"Arial", Ok, u"Liberation Sans"},
        {"alias in other case", u"aRIAL", Ok, u"Liberation Sans"},
        {"own name", u"Liberation Sans", Ok, u"Liberation Sans"},
        {"serif alias", u"Times New Roman", Ok, u"Liberation Serif"},
        {"unknown family", u"Quorvel No Such Face", FontFamilyNotFound, nullptr},
        {"empty name", u"", FontFamilyNotFound, nullptr},
        {"generic name is no family", u"sans-serif", FontFamilyNotFound, nullptr},
    };
    for (const FamilyCase& c : cases) {
        GpFontFamily* family = nullptr;
        EXPECT_EQ(GdipCreateFontFamilyFromName(c.name, nullptr, &family), c.status) << c.what;
        if (c.found != nullptr && family != nullptr) {
            EXPECT_EQ(FamilyName(family), c.found) << c.what;
            EXPECT_EQ(GdipDeleteFontFamily(family), Ok);
        } else {
            EXPECT_EQ(family, nullptr) << c.what;
        }
    }
    GpFontFamily* family = nullptr;
    EXPECT_EQ(GdipCreateFontFamilyFromName(nullptr, nullptr, &family), InvalidParameter);
    EXPECT_EQ(GdipCreateFontFamilyFromName(u"Arial", nullptr, nullptr), InvalidParameter);
}

TEST_F(GdiplusTextTest, GenericSansSerifIsArialsMetricTwin)
{
    GpFontFamily* generic = nullptr;
    ASSERT_EQ(GdipGetGenericFontFamilySansSerif(&generic), Ok);
    EXPECT_EQ(FamilyName(generic), u"Liberation Sans");
    GpFontFamily* clone = nullptr;
    ASSERT_EQ(GdipCloneFontFamily(generic, &clone), Ok);
    EXPECT_EQ(GdipDeleteFontFamily(generic), Ok);
    // The clone outlives the family it was taken from.
    UINT16 em = 0;
    EXPECT_EQ(GdipGetEmHeight(clone, FontStyleRegular, &em), Ok);
    EXPECT_EQ(em, regular.UnitsPerEm());
    EXPECT_EQ(GdipDeleteFontFamily(clone), Ok);
}

TEST_F(GdiplusTextTest, DesignMetricsAreTheFontFilesOwn)
{
    const FontFileTables bold{GdiplusTest::kLiberationSansBold};
    for (INT style :
         {INT{FontStyleRegular}, INT{FontStyleBold}, FontStyleBold | FontStyleUnderline}) {
        const FontFileTables& file = (style & FontStyleBold) != 0 ? bold : regular;
        UINT16 em = 0, ascent = 0, descent = 0, spacing = 0;
        ASSERT_EQ(GdipGetEmHeight(arial, style, &em), Ok);
        ASSERT_EQ(GdipGetCellAscent(arial, style, &ascent), Ok);
        ASSERT_EQ(GdipGetCellDescent(arial, style, &descent), Ok);
        ASSERT_EQ(GdipGetLineSpacing(arial, style, &spacing), Ok);
        EXPECT_EQ(em, file.UnitsPerEm()) << style;
        EXPECT_EQ(ascent, file.WinAscent()) << style;
        EXPECT_EQ(descent, file.WinDescent()) << style;
        // The cell plus whatever line gap the horizontal header asks for beyond it.
        const int hheaCell = file.HheaAscender() - file.HheaDescender();
        const int leading =
            std::max(0, file.HheaLineGap() - (file.WinAscent() + file.WinDescent() - hheaCell));
        EXPECT_EQ(spacing, file.WinAscent() + file.WinDescent() + leading) << style;
    }
}

TEST_F(GdiplusTextTest, FontHeightFollowsUnitAndResolution)
{
    const double spacing =
        regular.WinAscent() + regular.WinDescent() +
        std::max(0, regular.HheaLineGap() - (regular.WinAscent() + regular.WinDescent() -
                                             (regular.HheaAscender() - regular.HheaDescender())));
    const double em = regular.UnitsPerEm();
    struct Case
    {
        Unit unit;
        REAL size;
        REAL dpi;
        double pixels;  // the em in pixels
    } cases[] = {
        {UnitPixel, 12, 72, 12},     {UnitPixel, 12, 96, 12},  {UnitPoint, 12, 96, 16},
        {UnitPoint, 9, 72, 9},       {UnitInch, 0.5f, 96, 48}, {UnitMillimeter, 25.4f, 96, 96},
        {UnitDocument, 300, 72, 72}, {UnitWorld, 10, 120, 10},
    };
    for (const Case& c : cases) {
        GpFont* font = Font(c.size, FontStyleRegular, c.unit);
        REAL height = 0, size = 0;
        Unit unit = UnitWorld;
        ASSERT_EQ(GdipGetFontHeightGivenDPI(font, c.dpi, &height), Ok);
        EXPECT_NEAR(height, spacing * c.pixels / em, 1e-4) << c.unit << " " << c.dpi;
        EXPECT_EQ(GdipGetFontSize(font, &size), Ok);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(GdipGetFontUnit(font, &unit), Ok);
        EXPECT_EQ(unit, c.unit);
    }
    GpFont* font = nullptr;
    EXPECT_EQ(GdipCreateFont(arial, 0, 0, UnitPixel, &font), InvalidParameter);
    EXPECT_EQ(GdipCreateFont(arial, -3, 0, UnitPixel, &font), InvalidParameter);
    EXPECT_EQ(GdipCreateFont(arial, 10, 0, UnitDisplay, &font), InvalidParameter);
    EXPECT_EQ(GdipCreateFont(arial, 10, 0, 99, &font), InvalidParameter);
    EXPECT_EQ(GdipCreateFont(nullptr, 10, 0, UnitPixel, &font), InvalidParameter);
}

TEST_F(GdiplusTextTest, MeasureStringIsTheAdvancesPlusAPaddingOfASixthEmEachSide)
{
    GpFont* font = Font(12, FontStyleRegular, UnitPoint);  // 16 pixels
    const double scale = 16.0 / regular.UnitsPerEm();
    REAL lineHeight = 0;
    ASSERT_EQ(GdipGetFontHeight(font, graphics, &lineHeight), Ok);
    struct Case
    {
        const char16_t* text;
        INT flags;
        const char16_t* widestLine;  // as measured
        int lines;
    } cases[] = {
        {u"Hello", 0, u"Hello", 1},
        {u"Hi  ", 0, u"Hi", 1},
        {u"Hi  ", StringFormatFlagsMeasureTrailingSpaces, u"Hi  ", 1},
        {u"ab\nWWW", 0, u"WWW", 2},
        {u"WWW\r\nab", 0, u"WWW", 2},
        {u"ab\n", 0, u"ab", 1},
        {u"a\n\nb", 0, u"a", 3},
    };
    for (const auto& c : cases) {
        const GpRectF box = Measure(c.text, font, c.flags);
        const double want = regular.Advances(c.widestLine) * scale + 2.0 * 16.0 / 6.0;
        EXPECT_NEAR(box.Width, want, 1e-3) << std::string(c.text, c.text + 2);
        EXPECT_NEAR(box.Height, c.lines * lineHeight, 1e-3);
        EXPECT_EQ(box.X, 0);
        EXPECT_EQ(box.Y, 0);
    }
    const GpRectF empty = Measure(u"", font);
    EXPECT_EQ(empty.Width, 0);
    EXPECT_EQ(empty.Height, 0);
}

TEST_F(GdiplusTextTest, CharacterRangesCoverTheirCharactersAdvances)
{
    GpFont* font = Font(20);
    const double scale = 20.0 / regular.UnitsPerEm();
    const double pad = 20.0 / 6.0;
    REAL lineHeight = 0;
    ASSERT_EQ(GdipGetFontHeightGivenDPI(font, 96, &lineHeight), Ok);

    GpRectF whole = RangeBounds(u"Hello", font, {0, 5}, StringFormatFlagsMeasureTrailingSpaces);
    EXPECT_NEAR(whole.X, 10 + pad, 1e-3);
    EXPECT_NEAR(whole.Width, regular.Advances(u"Hello") * scale, 1e-3);
    EXPECT_NEAR(whole.Y, 20, 1e-4);
    EXPECT_NEAR(whole.Height, lineHeight, 1e-4);

    GpRectF middle = RangeBounds(u"Hello", font, {1, 2}, 0);
    EXPECT_NEAR(middle.X, 10 + pad + regular.Advance(u'H') * scale, 1e-3);
    EXPECT_NEAR(middle.Width, regular.Advances(u"el") * scale, 1e-3);

    GpRectF backwards = RangeBounds(u"Hello", font, {3, -2}, 0);
    EXPECT_NEAR(backwards.X, middle.X, 1e-4);
    EXPECT_NEAR(backwards.Width, middle.Width, 1e-4);

    // Trailing spaces count only when asked for.
    GpRectF spaced = RangeBounds(u"ab  ", font, {0, 4}, 0);
    EXPECT_NEAR(spaced.Width, regular.Advances(u"ab") * scale, 1e-3);
    spaced = RangeBounds(u"ab  ", font, {0, 4}, StringFormatFlagsMeasureTrailingSpaces);
    EXPECT_NEAR(spaced.Width, regular.Advances(u"ab  ") * scale, 1e-3);

    // A range over two lines is bounded by both.
    GpRectF twoLines = RangeBounds(u"ab\nWWW", font, {1, 4}, 0);
    EXPECT_NEAR(twoLines.Height, 2 * lineHeight, 1e-3);
    EXPECT_NEAR(twoLines.X, 10 + pad, 1e-3);

    // Ranges outside the string fail, leaving the region as it was (infinite).
    GpRectF outside = RangeBounds(u"Hello", font, {3, 3}, 0, InvalidParameter);
    EXPECT_EQ(outside.Width, 8388608.0f);
    outside = RangeBounds(u"Hello", font, {-1, 1}, 0, InvalidParameter);
    EXPECT_EQ(outside.Width, 8388608.0f);
}

TEST_F(GdiplusTextTest, CharacterRangesNeedOneRegionPerRange)
{
    GpFont* font = Font(10);
    GpStringFormat* format = nullptr;
    ASSERT_EQ(GdipCreateStringFormat(0, 0, &format), Ok);
    const CharacterRange ranges[2] = {{0, 1}, {1, 1}};
    ASSERT_EQ(GdipSetStringFormatMeasurableCharacterRanges(format, 2, ranges), Ok);
    INT count = 0;
    EXPECT_EQ(GdipGetStringFormatMeasurableCharacterRangeCount(format, &count), Ok);
    EXPECT_EQ(count, 2);
    GpRegion* regions[2] = {};
    ASSERT_EQ(GdipCreateRegion(&regions[0]), Ok);
    ASSERT_EQ(GdipCreateRegion(&regions[1]), Ok);
    const GpRectF layout{0, 0, 0, 0};
    EXPECT_EQ(GdipMeasureCharacterRanges(graphics, u"ab", -1, font, layout, format, 1, regions),
              InvalidParameter);
    EXPECT_EQ(GdipMeasureCharacterRanges(graphics, u"ab", -1, font, layout, nullptr, 2, regions),
              InvalidParameter);
    ASSERT_EQ(GdipMeasureCharacterRanges(graphics, u"ab", -1, font, layout, format, 2, regions),
              Ok);
    GpRectF a{}, b{};
    EXPECT_EQ(GdipGetRegionBounds(regions[0], graphics, &a), Ok);
    EXPECT_EQ(GdipGetRegionBounds(regions[1], graphics, &b), Ok);
    EXPECT_NEAR(b.X, a.X + a.Width, 1e-4);
    EXPECT_GT(a.Width, 0);
    // More ranges than a format holds overflow.
    std::vector<CharacterRange> many(33, CharacterRange{0, 1});
    EXPECT_EQ(GdipSetStringFormatMeasurableCharacterRanges(format, 33, many.data()), ValueOverflow);
    // An empty range gives an empty region.
    const CharacterRange none{1, 0};
    ASSERT_EQ(GdipSetStringFormatMeasurableCharacterRanges(format, 1, &none), Ok);
    ASSERT_EQ(GdipMeasureCharacterRanges(graphics, u"ab", -1, font, layout, format, 1, regions),
              Ok);
    BOOL isEmpty = FALSE;
    EXPECT_EQ(GdipIsEmptyRegion(regions[0], graphics, &isEmpty), Ok);
    EXPECT_TRUE(isEmpty);
    EXPECT_EQ(GdipDeleteRegion(regions[0]), Ok);
    EXPECT_EQ(GdipDeleteRegion(regions[1]), Ok);
    EXPECT_EQ(GdipDeleteStringFormat(format), Ok);
}

TEST_F(GdiplusTextTest, DrawStringPutsTheCellTopLeftAtThePointAfterThePadding)
{
    GpFont* font = Font(24);
    const double scale = 24.0 / regular.UnitsPerEm();
    ASSERT_EQ(Draw(u"H", font, 5, 4), Ok);
    // The glyph's own outline box, from the font file.
    FT_Face face = regular.Face();
    ASSERT_EQ(FT_Load_Char(face, u'H', FT_LOAD_NO_SCALE), 0);
    const double left = 5 + 24.0 / 6.0 + face->glyph->metrics.horiBearingX * scale;
    const double right = left + face->glyph->metrics.width * scale;
    const double baseline = 4 + regular.WinAscent() * scale;
    const double top = baseline - face->glyph->metrics.horiBearingY * scale;
    const Ink ink = InkOf(bitmap);
    EXPECT_NEAR(ink.left, left, 1.0);
    EXPECT_NEAR(ink.right + 1, right, 1.0);
    EXPECT_NEAR(ink.top, top, 1.0);
    EXPECT_NEAR(ink.bottom + 1, baseline, 1.0);
}

TEST_F(GdiplusTextTest, DrawStringFollowsTheWorldTransformAndClip)
{
    GpFont* font = Font(16);
    ASSERT_EQ(Draw(u"Ab", font, 2, 2), Ok);
    const Ink plain = InkOf(bitmap);
    ASSERT_LT(plain.left, plain.right);

    ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
    ASSERT_EQ(GdipTranslateWorldTransform(graphics, 7, 5, MatrixOrderAppend), Ok);
    ASSERT_EQ(Draw(u"Ab", font, 2, 2), Ok);
    const Ink moved = InkOf(bitmap);
    EXPECT_EQ(moved.left, plain.left + 7);
    EXPECT_EQ(moved.top, plain.top + 5);
    EXPECT_EQ(moved.right, plain.right + 7);
    EXPECT_EQ(moved.bottom, plain.bottom + 5);

    ASSERT_EQ(GdipResetWorldTransform(graphics), Ok);
    ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
    ASSERT_EQ(GdipSetClipRectI(graphics, 0, 0, 1, 1, CombineModeReplace), Ok);
    ASSERT_EQ(Draw(u"Ab", font, 2, 2), Ok);
    EXPECT_GT(InkOf(bitmap).left, InkOf(bitmap).right) << "text drawn outside the clip";
}

TEST_F(GdiplusTextTest, UnderlineAndLinesAddInkWhereExpected)
{
    GpFont* plain = Font(16);
    GpFont* underlined = Font(16, FontStyleUnderline);
    ASSERT_EQ(Draw(u"ab\ncd", plain, 0, 0), Ok);
    const Ink twoLines = InkOf(bitmap);
    REAL lineHeight = 0;
    ASSERT_EQ(GdipGetFontHeightGivenDPI(plain, 96, &lineHeight), Ok);
    // The second line's ink lies a line below the first's.
    EXPECT_GT(twoLines.bottom, lineHeight);

    ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
    ASSERT_EQ(Draw(u"o", plain, 0, 0), Ok);
    const Ink o = InkOf(bitmap);
    ASSERT_EQ(GdipGraphicsClear(graphics, kWhite), Ok);
    ASSERT_EQ(Draw(u"o", underlined, 0, 0), Ok);
    const Ink underlinedO = InkOf(bitmap);
    EXPECT_GT(underlinedO.bottom, o.bottom);
}

TEST_F(GdiplusTextTest, BadArgumentsFailWithoutDrawing)
{
    GpFont* font = Font(16);
    const GpRectF layout{0, 0, 0, 0};
    GpRectF box{};
    EXPECT_EQ(GdipDrawString(graphics, u"a", -2, font, &layout, nullptr, black), InvalidParameter);
    EXPECT_EQ(GdipDrawString(graphics, u"a", -1, font, &layout, nullptr, nullptr),
              InvalidParameter);
    EXPECT_EQ(GdipDrawString(graphics, nullptr, -1, font, &layout, nullptr, black),
              InvalidParameter);
    EXPECT_EQ(GdipDrawString(graphics, u"a", -1, nullptr, &layout, nullptr, black),
              InvalidParameter);
    EXPECT_EQ(GdipMeasureString(graphics, u"a", -1, font, nullptr, nullptr, &box, nullptr, nullptr),
              InvalidParameter);
    EXPECT_EQ(GdipDrawString(graphics, u"", -1, font, &layout, nullptr, black), Ok);
    const Ink ink = InkOf(bitmap);
    EXPECT_GT(ink.left, ink.right);
    // A lone surrogate measures like any unmapped character, without reading past the string.
    const char16_t lone[] = {0xD800};
    EXPECT_EQ(GdipMeasureString(graphics, lone, 1, font, &layout, nullptr, &box, nullptr, nullptr),
              Ok);
    EXPECT_GT(box.Width, 0);
}

// A sheet of small text, as the panel's 8-10 pt labels draw, kept as a PNG for people to look at.
class GdiplusSmallTextTest : public GdiplusTextTest
{
protected:
    static constexpr int kSheetWidth = 220;
    static constexpr int kSheetHeight = 80;

    void SetUp() override
    {
        GdiplusTextTest::SetUp();
        ASSERT_EQ(GdipCreateBitmapFromScan0(kSheetWidth, kSheetHeight, 0, PixelFormat32bppARGB,
                                            nullptr, &sheet),
                  Ok);
        ASSERT_EQ(GdipGetImageGraphicsContext(sheet, &sheetGraphics), Ok);
        ASSERT_EQ(GdipGraphicsClear(sheetGraphics, kWhite), Ok);
    }
    void TearDown() override
    {
        EXPECT_EQ(GdipDeleteGraphics(sheetGraphics), Ok);
        EXPECT_EQ(GdipDisposeImage(sheet), Ok);
        GdiplusTextTest::TearDown();
    }

    void DrawOnSheet(const std::u16string& text, GpFont* font, REAL x, REAL y)
    {
        const GpRectF layout{x, y, 0, 0};
        ASSERT_EQ(GdipDrawString(sheetGraphics, text.c_str(), -1, font, &layout, nullptr, black),
                  Ok);
    }
    // Paper is 0xFF, full ink 0 (black text on white: any channel).
    int Paper(int x, int y) const
    {
        ARGB pixel = 0;
        EXPECT_EQ(GdipBitmapGetPixel(sheet, x, y, &pixel), Ok);
        return static_cast<int>(pixel & 0xFF);
    }
    // The box of pixels darker than mid grey within columns [left, right).
    Ink InkIn(int left, int right) const
    {
        Ink ink{kSheetWidth, kSheetHeight, -1, -1};
        for (int y = 0; y < kSheetHeight; ++y) {
            for (int x = left; x < right; ++x) {
                if (Paper(x, y) < 0x80) {
                    ink.left = std::min(ink.left, x);
                    ink.right = std::max(ink.right, x);
                    ink.top = std::min(ink.top, y);
                    ink.bottom = std::max(ink.bottom, y);
                }
            }
        }
        return ink;
    }
    // The sheet as it is, and four times larger without smoothing, beside the test binary.
    void KeepSheet() const
    {
        GpRect whole{0, 0, kSheetWidth, kSheetHeight};
        BitmapData data{};
        ASSERT_EQ(GdipBitmapLockBits(sheet, &whole, ImageLockModeRead, PixelFormat32bppARGB, &data),
                  Ok);
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSheetWidth, kSheetHeight);
        auto* out = cairo_image_surface_get_data(surface);
        const int outStride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < kSheetHeight; ++y) {
            // Opaque pixels only: straight and premultiplied alpha agree.
            std::copy_n(static_cast<const uint8_t*>(data.Scan0) + y * data.Stride, kSheetWidth * 4,
                        out + y * outStride);
        }
        cairo_surface_mark_dirty(surface);
        EXPECT_EQ(GdipBitmapUnlockBits(sheet, &data), Ok);
        EXPECT_EQ(cairo_surface_write_to_png(surface, ORV_TEXT_SAMPLE_FILE), CAIRO_STATUS_SUCCESS);
        cairo_surface_t* large =
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSheetWidth * 4, kSheetHeight * 4);
        cairo_t* cr = cairo_create(large);
        cairo_scale(cr, 4, 4);
        cairo_set_source_surface(cr, surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_destroy(cr);
        EXPECT_EQ(cairo_surface_write_to_png(large, ORV_TEXT_SAMPLE_FILE_X4), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(large);
        cairo_surface_destroy(surface);
    }

    GpBitmap* sheet = nullptr;
    GpGraphics* sheetGraphics = nullptr;
};

TEST_F(GdiplusSmallTextTest, HorizontalBarsAreOneDarkRowAndGlyphsKeepTheirPenPositions)
{
    struct Case
    {
        const char* what;
        char16_t letter;
        REAL points;
        REAL y;         // of the layout box; the baseline lies a fraction of a pixel below
        double across;  // where the column crosses the bar, as a part of the glyph's ink width
    } cases[] = {
        {"H's crossbar, 9 pt", u'H', 9, 2, 0.5},
        {"L's foot, 9 pt", u'L', 9, 2, 0.75},
        {"H's crossbar, 9 pt, a third of a pixel lower", u'H', 9, 2.33f, 0.5},
        {"L's foot, 9 pt, half a pixel lower", u'L', 9, 2.5f, 0.75},
        {"H's crossbar, 8 pt", u'H', 8, 2, 0.5},
        {"L's foot, 8 pt", u'L', 8, 2, 0.75},
        {"H's crossbar, 10 pt", u'H', 10, 2, 0.5},
        {"L's foot, 10 pt", u'L', 10, 2, 0.75},
    };
    constexpr int kCell = 18;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const int cell = static_cast<int>(i) * kCell;
        DrawOnSheet(std::u16string(1, c.letter), Font(c.points, FontStyleRegular, UnitPoint),
                    static_cast<REAL>(cell), c.y);
        const Ink ink = InkIn(cell, cell + kCell);
        ASSERT_LT(ink.left, ink.right) << c.what;
        const int x = ink.left + static_cast<int>(std::lround((ink.right - ink.left) * c.across));
        int touched = 0;
        int dark = 0;
        for (int y = ink.top; y <= ink.bottom; ++y) {
            touched += Paper(x, y) < 0xF0 ? 1 : 0;
            dark += Paper(x, y) <= 0x40 ? 1 : 0;
        }
        EXPECT_EQ(touched, 1) << c.what << ": the bar spreads over more than one row";
        EXPECT_EQ(dark, 1) << c.what << ": the bar is not dark";
    }

    // Each "H" of a row starts where the font's unhinted advances put it: a hinted advance
    // (9 pixels instead of 8.67 at 9 pt) would leave the sixth almost two pixels off.
    GpFont* font = Font(9, FontStyleRegular, UnitPoint);
    const double scale = 12.0 / regular.UnitsPerEm();
    FT_Face face = regular.Face();
    ASSERT_EQ(FT_Load_Char(face, u'H', FT_LOAD_NO_SCALE), 0);
    const double bearing = face->glyph->metrics.horiBearingX * scale;
    const double advance = regular.Advance(u'H') * scale;
    constexpr REAL kRowTop = 20;
    DrawOnSheet(u"HHHHHH", font, 0, kRowTop);
    const Ink row = InkIn(0, kSheetWidth);
    ASSERT_GT(row.bottom, row.top + 4);
    // Below the crossbar: only the stems are inked there.
    const int probe = row.bottom - 2;
    std::vector<int> stemStarts;
    for (int x = 0; x < kSheetWidth; ++x) {
        if (Paper(x, probe) < 0x80 && (x == 0 || Paper(x - 1, probe) >= 0x80)) {
            stemStarts.push_back(x);
        }
    }
    ASSERT_EQ(stemStarts.size(), 12u);
    for (size_t i = 0; i < 6; ++i) {
        const double left = 12.0 / 6.0 + static_cast<double>(i) * advance + bearing;
        EXPECT_NEAR(stemStarts[2 * i], left, 1.0) << "H number " << i + 1;
    }

    // The panel's label sizes, for people to look at.
    REAL y = 36;
    for (const REAL points : {8.0f, 9.0f, 10.0f}) {
        DrawOnSheet(u"Sample Rate 44100 Hz", Font(points, FontStyleRegular, UnitPoint), 0, y);
        DrawOnSheet(u"Buffer", Font(points, FontStyleBold, UnitPoint), 160, y);
        y += 12;
    }
    KeepSheet();
}

TEST(GdiplusTextStartup, CallsBeforeStartupFail)
{
    GpFontFamily* family = nullptr;
    EXPECT_EQ(GdipCreateFontFamilyFromName(u"Arial", nullptr, &family), GdiplusNotInitialized);
    EXPECT_EQ(GdipGetGenericFontFamilySansSerif(&family), GdiplusNotInitialized);
    GpStringFormat* format = nullptr;
    EXPECT_EQ(GdipCreateStringFormat(0, 0, &format), GdiplusNotInitialized);
}

}  // namespace
