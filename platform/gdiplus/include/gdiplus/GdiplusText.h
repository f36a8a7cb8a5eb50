#pragma once
// The text half of the GDI+ flat API: font families found through fontconfig, fonts, string
// formats, regions, and drawing and measuring strings.
//
// Families: a name is found when fontconfig matches it by name or by a metric-compatible alias
// ("Arial" is Liberation Sans); anything else is FontFamilyNotFound, never a silent substitute.
// Metrics (em height, cell ascent and descent, line spacing) are the font file's own design
// units. Glyphs are drawn through Cairo's FreeType back end with fixed options (no hinting,
// unhinted metrics, grey antialiasing), and advances are the font's design advances scaled, so a
// measured width is the same on every machine that has the same font file.
//
// Layout: a string is laid out in lines at line feeds (a carriage return before one belongs to
// the break); the first line's cell top is the layout rectangle's top and every line starts one
// sixth of an em to the right of its left edge, as GDI+ pads text. Lines are never wrapped or
// clipped, whatever the layout rectangle's size, and no kerning is applied.

#include "gdiplus/GdiplusTypes.h"

namespace Gdiplus {

enum FontStyle : INT
{
    FontStyleRegular = 0,
    FontStyleBold = 1,
    FontStyleItalic = 2,
    FontStyleBoldItalic = 3,
    FontStyleUnderline = 4,
    FontStyleStrikeout = 8,
};

enum StringFormatFlags : INT
{
    StringFormatFlagsNoFitBlackBox = 0x00000004,
    StringFormatFlagsMeasureTrailingSpaces = 0x00000800,
    StringFormatFlagsNoWrap = 0x00001000,
    StringFormatFlagsNoClip = 0x00004000,
};

enum StringTrimming : INT
{
    StringTrimmingNone = 0,
    StringTrimmingCharacter = 1,
    StringTrimmingWord = 2,
    StringTrimmingEllipsisCharacter = 3,
    StringTrimmingEllipsisWord = 4,
    StringTrimmingEllipsisPath = 5,
};

struct CharacterRange
{
    INT First;   // UTF-16 units
    INT Length;  // UTF-16 units
};

using LANGID = WORD;
using UINT16 = uint16_t;

struct GpFontFamily;
struct GpFontCollection;
struct GpFont;
struct GpStringFormat;
struct GpRegion;

// Font families. Only the installed collection is supported: collection must be null.
GpStatus GdipCreateFontFamilyFromName(const WCHAR* name, GpFontCollection* collection,
                                      GpFontFamily** family);
GpStatus GdipGetGenericFontFamilySansSerif(GpFontFamily** family);
GpStatus GdipCloneFontFamily(GpFontFamily* family, GpFontFamily** clone);
GpStatus GdipDeleteFontFamily(GpFontFamily* family);
// The name of the family that was found (LF_FACESIZE units, terminated); language is ignored.
GpStatus GdipGetFamilyName(const GpFontFamily* family, WCHAR name[32], LANGID language);
GpStatus GdipGetEmHeight(const GpFontFamily* family, INT style, UINT16* emHeight);
GpStatus GdipGetCellAscent(const GpFontFamily* family, INT style, UINT16* cellAscent);
GpStatus GdipGetCellDescent(const GpFontFamily* family, INT style, UINT16* cellDescent);
GpStatus GdipGetLineSpacing(const GpFontFamily* family, INT style, UINT16* lineSpacing);

// Fonts: an em size in a unit (world, pixel, point, inch, document or millimetre; world is
// pixels here, as the graphics objects have no page transform).
GpStatus GdipCreateFont(const GpFontFamily* family, REAL emSize, INT style, INT unit,
                        GpFont** font);
GpStatus GdipDeleteFont(GpFont* font);
GpStatus GdipGetFontSize(GpFont* font, REAL* size);
GpStatus GdipGetFontUnit(GpFont* font, Unit* unit);
GpStatus GdipGetFontStyle(GpFont* font, INT* style);
// The line spacing in pixels at a resolution in dots per inch.
GpStatus GdipGetFontHeightGivenDPI(const GpFont* font, REAL dpi, REAL* height);
// The line spacing in pixels on a graphics object (at its resolution).
GpStatus GdipGetFontHeight(const GpFont* font, const GpGraphics* graphics, REAL* height);

// String formats: flags, trimming and measurable character ranges (at most 32).
GpStatus GdipCreateStringFormat(INT formatFlags, LANGID language, GpStringFormat** format);
GpStatus GdipDeleteStringFormat(GpStringFormat* format);
GpStatus GdipSetStringFormatFlags(GpStringFormat* format, INT flags);
GpStatus GdipGetStringFormatFlags(GpStringFormat* format, INT* flags);
GpStatus GdipSetStringFormatTrimming(GpStringFormat* format, StringTrimming trimming);
GpStatus GdipSetStringFormatMeasurableCharacterRanges(GpStringFormat* format, INT rangeCount,
                                                      const CharacterRange* ranges);
GpStatus GdipGetStringFormatMeasurableCharacterRangeCount(GpStringFormat* format, INT* count);

// Regions: the union of rectangles, as character-range measuring produces them.
GpStatus GdipCreateRegion(GpRegion** region);
GpStatus GdipDeleteRegion(GpRegion* region);
GpStatus GdipIsEmptyRegion(GpRegion* region, GpGraphics* graphics, BOOL* result);
GpStatus GdipGetRegionBounds(GpRegion* region, GpGraphics* graphics, GpRectF* rect);

// Strings: length -1 means terminated by a zero. The format may be null (the default format).
GpStatus GdipDrawString(GpGraphics* graphics, const WCHAR* string, INT length, const GpFont* font,
                        const GpRectF* layoutRect, const GpStringFormat* format,
                        const GpBrush* brush);
GpStatus GdipMeasureString(GpGraphics* graphics, const WCHAR* string, INT length,
                           const GpFont* font, const GpRectF* layoutRect,
                           const GpStringFormat* format, GpRectF* boundingBox,
                           INT* codepointsFitted, INT* linesFilled);
// One region per measurable range of the format, in its order; regionCount must be that count.
GpStatus GdipMeasureCharacterRanges(GpGraphics* graphics, const WCHAR* string, INT length,
                                    const GpFont* font, const GpRectF& layoutRect,
                                    const GpStringFormat* format, INT regionCount,
                                    GpRegion** regions);

}  // namespace Gdiplus
