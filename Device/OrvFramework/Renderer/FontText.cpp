#include "Renderer/FontText.h"

#include <algorithm>

#include "Renderer/MeasurementRendererSource.h"

namespace Orv {
namespace {

constexpr char16_t kLineFeed[] = u"\n";
constexpr double kSizeLimit = 8388608.0;

// The right edge of the measured box: its width, plus its x when that is not 0.
float RightEdge(LMeasurementRenderer& measurer, const WideString& text,
                const ConstRCPtr<LFont>& font)
{
    const RectT<float> box = measurer.MeasureText(text, font);
    return box.x != 0.0f ? box.x + box.width : box.width;
}

int32_t LineHeightOf(const ConstRCPtr<LFont>& font)
{
    return font ? font->GetLineHeight() : 0;
}

}  // namespace

LFontText::LFontText(const WideString& text, const ConstRCPtr<LFont>& font) : text(text), font(font)
{
}

bool LFontText::SetText(const WideString& newText)
{
    if (newText.GetText() == text.GetText() || newText.Equals(text)) {
        return false;
    }
    text = newText;
    Invalidate();
    return true;
}

bool LFontText::SetFont(const ConstRCPtr<LFont>& newFont)
{
    const bool changed = static_cast<bool>(font) != static_cast<bool>(newFont) ||
                         (font && newFont && *font != *newFont);
    if (changed) {
        Invalidate();
    }
    font = newFont;
    return changed;
}

void LFontText::Invalidate()
{
    lines.SetCount(0);
    lineRects.SetCount(0);
}

int32_t LFontText::WrapText(LMeasurementRenderer& measurer, int32_t width,
                            const WideString& line) const
{
    const float limit = static_cast<float>(width);
    if (RightEdge(measurer, line, font) < limit) {
        return line.GetLength();
    }
    WideString candidate = line;
    int32_t result = 0;
    for (;;) {
        const int32_t lastSpace = candidate.ReverseFind(u' ');
        if (lastSpace >= 1) {
            const WideString beforeSpace = candidate.Left(lastSpace);
            if (RightEdge(measurer, beforeSpace, font) <= limit) {
                // A hyphen after the last space may let more of the line fit.
                const int32_t afterHyphen = 1 + candidate.ReverseFind(u'-');
                result = afterHyphen > beforeSpace.GetLength() &&
                                 RightEdge(measurer, candidate.Left(afterHyphen), font) <= limit
                             ? afterHyphen
                             : beforeSpace.GetLength();
                break;
            }
            candidate = beforeSpace;
            continue;
        }
        const int32_t hyphen = candidate.Left(candidate.GetLength() - 1).ReverseFind(u'-');
        if (hyphen < 0) {
            result = candidate.GetLength();  // one word, left too wide
            break;
        }
        const WideString throughHyphen = candidate.Left(hyphen + 1);
        if (RightEdge(measurer, throughHyphen, font) <= limit) {
            result = throughHyphen.GetLength();
            break;
        }
        candidate = throughHyphen;
    }
    return result < 1 ? candidate.GetLength() : result;
}

void LFontText::SplitLines(StringArray& into) const
{
    text.SplitAtAnyOf(into, WideString(kLineFeed));
}

void LFontText::WrapLines(LMeasurementRenderer& measurer, int32_t width, StringArray& into) const
{
    into.SetCount(0);
    StringArray paragraphs;
    SplitLines(paragraphs);
    for (uint32_t p = 0; p < paragraphs.GetCount(); ++p) {
        WideString rest = paragraphs.GetAt(p);
        int32_t taken = WrapText(measurer, width, rest);
        WideString pending = taken < rest.GetLength() ? rest.Left(taken) : rest;
        while (taken < rest.GetLength()) {
            // The next line starts after the blanks at the break; a remainder of blanks only
            // stays as it is.
            const WideString remainder = rest.Mid(taken).TrimLeft();
            if (!remainder.IsEmpty()) {
                into.AddItem(pending);
                taken = std::max(1, WrapText(measurer, width, remainder));
                pending = taken < remainder.GetLength() ? remainder.Left(taken) : remainder;
            }
            rest = remainder;
        }
        into.AddItem(pending);
    }
}

void LFontText::PlaceLines(LMeasurementRenderer& measurer)
{
    lineRects.SetCount(0);
    if (lines.GetCount() == 0) {
        lines.AddItem(WideString());
    }
    const int32_t lineHeight = LineHeightOf(font);
    const auto count = static_cast<int32_t>(lines.GetCount());
    const float top = static_cast<float>(boxHeight - lineHeight * count) * verticalAlignment;
    for (int32_t i = 0; i < count; ++i) {
        RectT<float> box = measurer.MeasureText(lines.GetAt(static_cast<uint32_t>(i)), font);
        if (box.x != 0.0f) {
            box.width += box.x;
            box.x = 0.0f;
        }
        lineRects.AddItem({(static_cast<float>(boxWidth) - box.width) * horizontalAlignment,
                           static_cast<float>(lineHeight * i) + top, box.width, box.height});
    }
}

void LFontText::LayOut(StringArray& into, int32_t width) const
{
    if (wrap) {
        WrapLines(*GetMeasurementRenderer(), width, into);
    } else {
        SplitLines(into);
    }
}

int32_t LFontText::GetLineCount()
{
    if (lines.GetCount() == 0) {
        LayOut(lines, boxWidth);
    }
    if (lineRects.GetCount() == 0) {
        PlaceLines(*GetMeasurementRenderer());
    }
    return static_cast<int32_t>(lineRects.GetCount());
}

RectT<float> LFontText::GetLineRect(int32_t index)
{
    if (index < 0 || index >= GetLineCount()) {
        return {0, 0, 0, 0};
    }
    return lineRects.GetAt(static_cast<uint32_t>(index));
}

int32_t LFontText::GetTextHeight(int32_t width) const
{
    StringArray laidOut;
    LayOut(laidOut, width);
    return static_cast<int32_t>(laidOut.GetCount()) * LineHeightOf(font);
}

int32_t LFontText::GetTextWidth() const
{
    StringArray paragraphs;
    SplitLines(paragraphs);
    LMeasurementRenderer& measurer = *GetMeasurementRenderer();
    float widest = 0.0f;
    for (uint32_t i = paragraphs.GetCount(); i-- > 0;) {
        widest = std::max(widest, RightEdge(measurer, paragraphs.GetAt(i), font));
    }
    return static_cast<int32_t>(widest + 0.99f);
}

LFontText::Size LFontText::GetTextSize()
{
    const int32_t count = GetLineCount();
    double left = 0.0, top = 0.0, right = 0.0, bottom = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const RectT<float>& r = lineRects.GetAt(static_cast<uint32_t>(i));
        left = std::min(left, static_cast<double>(r.x));
        top = std::min(top, static_cast<double>(r.y));
        right = std::max(right, static_cast<double>(r.x) + r.width);
        bottom = std::max(bottom, static_cast<double>(r.y) + r.height);
    }
    const double width = std::clamp(right - left, -kSizeLimit, kSizeLimit);
    const double height = std::clamp(bottom - top, -kSizeLimit, kSizeLimit);
    return {RoundToLong(width), RoundToLong(height)};
}

}  // namespace Orv
