#pragma once
// How the GDI+ back end measures fonts and text, shared by its renderer and by the off-screen
// measurement renderer, so that measuring before the first window and drawing in it agree.
//
// A font's family is the GDI+ family of its name, or GDI+'s generic sans-serif where GDI+ has no
// such family: the same fallback as drawing, so metrics and widths are those of the face that is
// drawn. GDI+ must be started while a measurer exists.

#include <gdiplus.h>

#include "ObjectBase/OrvResult.h"
#include "Utilities/Graphics/Font.h"
#include "Utilities/Graphics/Geometry.h"
#include "Utilities/Storage/StringT.h"

namespace Orv {

// The family for a face name with the generic fallback; null only when GDI+ has no font at all.
// The caller deletes it. A face name that the machine lacks is said once on the debug channel,
// with the family that stands in for it.
Gdiplus::GpFontFamily* CreateGdiFontFamily(const WideString& name);

// Line height, ascent (negative, above the baseline) and descent in pixels of a font of the
// font's size in pixel units, by the back end's rounding rules. E_FAIL, with a line height of -1,
// when no family can be had.
ORVRESULT GetGdiFontMetrics(const LFont& font, int& lineHeight, int& ascent, int& descent);

class LGDITextMeasurer
{
public:
    // Reads the screen's horizontal resolution and makes the 1 x 1 bitmap measured on.
    LGDITextMeasurer();
    ~LGDITextMeasurer();
    LGDITextMeasurer(const LGDITextMeasurer&) = delete;
    LGDITextMeasurer& operator=(const LGDITextMeasurer&) = delete;

    // The whole-pixel width of the text in a font of the font's size in points: the right edge
    // of its measured characters (trailing spaces included) scaled to the screen's resolution,
    // rounded up, plus 3 when not 0.
    int MeasureWidth(const WideString& text, const LFont& font) const;

    int GetScreenResolution() const { return screenResolution; }

private:
    Gdiplus::GpBitmap* measuringBitmap = nullptr;
    int screenResolution = 96;
};

}  // namespace Orv
