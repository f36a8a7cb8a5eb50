#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "GdiplusObjects.h"
#include "TextObjects.h"
#include "Utf16Text.h"

namespace Gdiplus {
namespace {

// GDI+ pads a line by a sixth of an em on each side.
constexpr double kPaddingEms = 1.0 / 6.0;

struct TextLine
{
    size_t begin;
    size_t end;         // the break excluded
    size_t visibleEnd;  // end without trailing spaces
};

// A string laid out in one font: its lines, and the pen position before every unit of each line
// (design units from the line's start).
struct TextLayout
{
    std::vector<FontFace::Glyph> glyphs;
    std::vector<double> pen;  // one more than the string's length
    std::vector<TextLine> lines;
};

TextLayout LayOut(const FontFace& face, const WCHAR* text, size_t length)
{
    TextLayout layout;
    face.MapText(text, length, layout.glyphs);
    layout.pen.assign(length + 1, 0.0);
    size_t begin = 0;
    double pen = 0.0;
    for (size_t i = 0; i <= length; ++i) {
        const bool atEnd = i == length;
        const bool isBreak = !atEnd && (text[i] == u'\n' || text[i] == u'\r');
        layout.pen[i] = pen;
        if (!atEnd && !isBreak) {
            pen += layout.glyphs[i].advance;
            continue;
        }
        size_t visibleEnd = i;
        while (visibleEnd > begin && text[visibleEnd - 1] == u' ') {
            --visibleEnd;
        }
        if (!atEnd || i > begin || layout.lines.empty()) {
            layout.lines.push_back({begin, i, visibleEnd});
        }
        if (atEnd) {
            break;
        }
        // A carriage return and line feed together are one break.
        if (text[i] == u'\r' && i + 1 < length && text[i + 1] == u'\n') {
            ++i;
            layout.pen[i] = 0.0;
        }
        begin = i + 1;
        pen = 0.0;
    }
    // A string ending in a break has no empty line after it.
    return layout;
}

// Scale and offsets of a font on the graphics objects of this layer.
struct Placement
{
    double emPixels;
    double scale;    // pixels per design unit
    double padding;  // pixels
    double lineHeight;
    double ascent;
};

Placement PlacementOf(const GpFont& font)
{
    const FaceMetrics& metrics = font.Face().Metrics();
    Placement placement{};
    placement.emPixels = font.EmPixels(kGraphicsDpi);
    placement.scale = placement.emPixels / metrics.emHeight;
    placement.padding = placement.emPixels * kPaddingEms;
    placement.lineHeight = metrics.lineSpacing * placement.scale;
    placement.ascent = metrics.cellAscent * placement.scale;
    return placement;
}

bool MeasuresTrailingSpaces(const GpStringFormat* format)
{
    return format != nullptr && (format->flags & StringFormatFlagsMeasureTrailingSpaces) != 0;
}

// Fixed options, so that glyphs look the same on every machine whatever its fontconfig says.
// Slight hinting moves outlines vertically only: horizontal stems and bars (crossbars, feet,
// x-height and cap height) land on whole pixel rows, so small labels read crisp, while nothing
// moves sideways. Metrics stay unhinted: every glyph stands at its design-unit pen position, so
// drawn text keeps the widths that measuring gave.
void SetFontOptions(cairo_t* cr)
{
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

// Underline and strikeout as filled bands along the line.
void DrawDecorations(cairo_t* cr, const GpFont& font, const Placement& placement, double left,
                     double baseline, double width)
{
    const FaceMetrics& metrics = font.Face().Metrics();
    if ((font.style & FontStyleUnderline) != 0) {
        const double thickness = std::max(1.0, metrics.underlineThickness * placement.scale);
        const double centre = baseline - metrics.underlinePosition * placement.scale;
        cairo_rectangle(cr, left, centre - thickness / 2, width, thickness);
    }
    if ((font.style & FontStyleStrikeout) != 0) {
        const double thickness = std::max(1.0, metrics.strikeoutThickness * placement.scale);
        cairo_rectangle(cr, left, baseline - metrics.strikeoutPosition * placement.scale, width,
                        thickness);
    }
    cairo_fill(cr);
}

// The baseline moved to the nearest whole device pixel row. Hinting aligns the outline's edges
// with the rows only relative to a whole-pixel origin; a Cairo that positions glyphs at
// fractions of a pixel would otherwise blur every hinted bar again. Only where the transform
// keeps rows as rows (no rotation or shear).
double SnapBaseline(cairo_t* cr, double baseline)
{
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    if (matrix.xy != 0.0 || matrix.yx != 0.0 || matrix.yy == 0.0) {
        return baseline;
    }
    const double row = std::round(matrix.yy * baseline + matrix.y0);
    return (row - matrix.y0) / matrix.yy;
}

GpStatus CheckStringArguments(GpGraphics* graphics, const WCHAR* string, INT length,
                              const GpFont* font, const GpRectF* layoutRect, size_t* units)
{
    if (graphics == nullptr || string == nullptr || font == nullptr || layoutRect == nullptr ||
        !StringLength(string, length, units)) {
        return InvalidParameter;
    }
    return Ok;
}

}  // namespace

GpStatus GdipDrawString(GpGraphics* graphics, const WCHAR* string, INT length, const GpFont* font,
                        const GpRectF* layoutRect, const GpStringFormat* /*format*/,
                        const GpBrush* brush)
{
    GDIP_REQUIRE_STARTED();
    size_t units = 0;
    if (const GpStatus status =
            CheckStringArguments(graphics, string, length, font, layoutRect, &units);
        status != Ok) {
        return status;
    }
    if (brush == nullptr) {
        return InvalidParameter;
    }
    GpStatus status = Ok;
    cairo_t* cr = BeginFill(graphics, const_cast<GpBrush*>(brush), status);
    if (cr == nullptr) {
        return status;
    }
    const TextLayout layout = LayOut(font->Face(), string, units);
    const Placement placement = PlacementOf(*font);
    cairo_set_font_face(cr, font->Face().CairoFace());
    cairo_set_font_size(cr, placement.emPixels);
    SetFontOptions(cr);
    std::vector<cairo_glyph_t> glyphs;
    for (size_t li = 0; li < layout.lines.size(); ++li) {
        const TextLine& line = layout.lines[li];
        const double left = layoutRect->X + placement.padding;
        const double baseline =
            SnapBaseline(cr, layoutRect->Y + placement.ascent + li * placement.lineHeight);
        glyphs.clear();
        for (size_t i = line.begin; i < line.end; ++i) {
            if (layout.glyphs[i].drawn) {
                glyphs.push_back(
                    {layout.glyphs[i].index, left + layout.pen[i] * placement.scale, baseline});
            }
        }
        cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
        DrawDecorations(cr, *font, placement, left, baseline,
                        layout.pen[line.end] * placement.scale);
    }
    return EndDrawing(cr);
}

GpStatus GdipMeasureString(GpGraphics* graphics, const WCHAR* string, INT length,
                           const GpFont* font, const GpRectF* layoutRect,
                           const GpStringFormat* format, GpRectF* boundingBox,
                           INT* codepointsFitted, INT* linesFilled)
{
    GDIP_REQUIRE_STARTED();
    size_t units = 0;
    if (const GpStatus status =
            CheckStringArguments(graphics, string, length, font, layoutRect, &units);
        status != Ok) {
        return status;
    }
    if (boundingBox == nullptr) {
        return InvalidParameter;
    }
    *boundingBox = {layoutRect->X, layoutRect->Y, 0.0f, 0.0f};
    INT lines = 0;
    if (units > 0) {
        const TextLayout layout = LayOut(font->Face(), string, units);
        const Placement placement = PlacementOf(*font);
        const bool trailing = MeasuresTrailingSpaces(format);
        double widest = 0.0;
        for (const TextLine& line : layout.lines) {
            const size_t end = trailing ? line.end : line.visibleEnd;
            widest = std::max(widest, layout.pen[end] * placement.scale);
        }
        lines = static_cast<INT>(layout.lines.size());
        boundingBox->Width = static_cast<REAL>(widest + 2 * placement.padding);
        boundingBox->Height = static_cast<REAL>(lines * placement.lineHeight);
    }
    if (codepointsFitted != nullptr) {
        *codepointsFitted = static_cast<INT>(units);
    }
    if (linesFilled != nullptr) {
        *linesFilled = lines;
    }
    return Ok;
}

GpStatus GdipMeasureCharacterRanges(GpGraphics* graphics, const WCHAR* string, INT length,
                                    const GpFont* font, const GpRectF& layoutRect,
                                    const GpStringFormat* format, INT regionCount,
                                    GpRegion** regions)
{
    GDIP_REQUIRE_STARTED();
    size_t units = 0;
    if (const GpStatus status =
            CheckStringArguments(graphics, string, length, font, &layoutRect, &units);
        status != Ok) {
        return status;
    }
    if (format == nullptr || regions == nullptr || regionCount < 0 ||
        static_cast<size_t>(regionCount) != format->ranges.size()) {
        return InvalidParameter;
    }
    // A range may run backwards from its first unit; all must lie inside the string.
    std::vector<std::pair<size_t, size_t>> spans;
    for (INT i = 0; i < regionCount; ++i) {
        if (regions[i] == nullptr) {
            return InvalidParameter;
        }
        long long first = format->ranges[i].First;
        long long count = format->ranges[i].Length;
        if (count < 0) {
            first += count;
            count = -count;
        }
        if (first < 0 || first + count > static_cast<long long>(units)) {
            return InvalidParameter;
        }
        spans.emplace_back(static_cast<size_t>(first), static_cast<size_t>(first + count));
    }
    const TextLayout layout = LayOut(font->Face(), string, units);
    const Placement placement = PlacementOf(*font);
    const bool trailing = MeasuresTrailingSpaces(format);
    for (INT i = 0; i < regionCount; ++i) {
        GpRegion& region = *regions[i];
        region.infinite = false;
        region.rects.clear();
        for (size_t li = 0; li < layout.lines.size(); ++li) {
            const TextLine& line = layout.lines[li];
            const size_t lineEnd = trailing ? line.end : line.visibleEnd;
            const size_t from = std::max(spans[i].first, line.begin);
            const size_t to = std::min(spans[i].second, lineEnd);
            if (to <= from) {
                continue;
            }
            const double x = layoutRect.X + placement.padding + layout.pen[from] * placement.scale;
            const double width = (layout.pen[to] - layout.pen[from]) * placement.scale;
            region.rects.push_back(
                {static_cast<REAL>(x), static_cast<REAL>(layoutRect.Y + li * placement.lineHeight),
                 static_cast<REAL>(width), static_cast<REAL>(placement.lineHeight)});
        }
    }
    return Ok;
}

}  // namespace Gdiplus
