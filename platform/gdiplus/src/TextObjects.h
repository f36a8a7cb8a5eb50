#pragma once
// What the text objects of the flat API hold. Internal to the layer.

#include <memory>
#include <vector>

#include "FontFaces.h"
#include "gdiplus/GdiplusText.h"

namespace Gdiplus {
// Every graphics object of this layer has the screen's resolution.
inline constexpr double kGraphicsDpi = 96.0;
}  // namespace Gdiplus

struct Gdiplus::GpFontFamily
{
    std::shared_ptr<const ResolvedFamily> family;
};

struct Gdiplus::GpFont
{
    std::shared_ptr<const ResolvedFamily> family;
    REAL size;  // em size in unit
    INT style;
    Unit unit;

    const FontFace& Face() const { return *family->faces[style & 3]; }
    // The em size in pixels at a resolution.
    double EmPixels(double dpi) const;
};

struct Gdiplus::GpStringFormat
{
    INT flags;
    LANGID language;
    StringTrimming trimming = StringTrimmingCharacter;
    std::vector<CharacterRange> ranges;
};

struct Gdiplus::GpRegion
{
    bool infinite = true;
    std::vector<GpRectF> rects;  // when not infinite; none is the empty region
};
