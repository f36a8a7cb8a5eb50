#pragma once
// A block of text in one font laid out in a box: split into lines at line feeds (a carriage
// return is no separator and stays in its line) or word-wrapped to the box width, each line
// measured and placed by fractional alignment factors (0 left/top, 0.5 centred, 1 right/bottom).
// Measuring goes through the measurement renderer (GetMeasurementRenderer), so layout works
// before any window is painted.
//
// The lines and their rectangles are a cache: computed on first use and emptied by SetText and
// SetFont. The owner decides whether a change of box, alignment or wrap must empty them too
// (Invalidate). UI thread only.

#include <cstdint>

#include "ObjectBase/RCPtr.h"
#include "ObjectBase/RefCountedObject.h"
#include "Renderer/Renderer.h"
#include "Utilities/Graphics/Font.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/Array.h"
#include "Utilities/Storage/StringArray.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

class LFontText : public virtual LRefCountedObject
{
public:
    struct Size
    {
        int32_t width;
        int32_t height;
    };

    LFontText(const WideString& text, const ConstRCPtr<LFont>& font);

    // False when the text is the same; otherwise stored and the layout emptied.
    bool SetText(const WideString& text);
    // True, with the layout emptied, when the font differs (one of them null, or unequal); the
    // new font is stored in any case.
    bool SetFont(const ConstRCPtr<LFont>& font);
    const WideString& GetText() const { return text; }
    const ConstRCPtr<LFont>& GetFont() const { return font; }

    void SetHorizontalAlignment(float factor) { horizontalAlignment = factor; }
    void SetVerticalAlignment(float factor) { verticalAlignment = factor; }
    void SetWrap(bool on) { wrap = on; }
    void SetBoxSize(int32_t width, int32_t height)
    {
        boxWidth = width;
        boxHeight = height;
    }
    float GetHorizontalAlignment() const { return horizontalAlignment; }
    float GetVerticalAlignment() const { return verticalAlignment; }
    bool GetWrap() const { return wrap; }
    int32_t GetBoxWidth() const { return boxWidth; }
    int32_t GetBoxHeight() const { return boxHeight; }
    // Empties the lines and their rectangles, so the next query lays out again.
    void Invalidate();

    // The number of lines, laying out first when needed.
    int32_t GetLineCount();
    // Line i's rectangle, laying out first; (0, 0, 0, 0) for an index at or past the count.
    RectT<float> GetLineRect(int32_t index);
    // The laid-out lines and their rectangles (after GetLineCount), for drawing.
    const StringArray& GetLines() const { return lines; }
    const Array<RectT<float>>& GetLineRects() const { return lineRects; }

    // The height the text needs at a width; the stored layout is not touched.
    int32_t GetTextHeight(int32_t width) const;
    // The width of the widest paragraph, wrapping ignored.
    int32_t GetTextWidth() const;
    // The size of the union of the line rectangles with the origin.
    Size GetTextSize();

    // How many characters of the line, in this block's font, make its first line at the width.
    int32_t WrapText(LMeasurementRenderer& measurer, int32_t width, const WideString& line) const;
    // The text's paragraphs wrapped to the width, into lines.
    void WrapLines(LMeasurementRenderer& measurer, int32_t width, StringArray& into) const;
    // The rectangles of the lines in the box, by the alignment factors.
    void PlaceLines(LMeasurementRenderer& measurer);

private:
    void SplitLines(StringArray& into) const;
    void LayOut(StringArray& into, int32_t width) const;

    WideString text;
    ConstRCPtr<LFont> font;
    float horizontalAlignment = 0.0f;
    float verticalAlignment = 0.0f;
    bool wrap = false;
    int32_t boxWidth = 0;
    int32_t boxHeight = 0;
    StringArray lines;
    Array<RectT<float>> lineRects;
};

}  // namespace Orv
