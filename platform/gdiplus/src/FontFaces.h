#pragma once
// Font files as the text calls use them: families resolved through fontconfig, and one opened
// face per font file with its design metrics, its glyph lookup and the Cairo face that draws it.
// Internal to the layer. Faces are shared by every family and font object that uses them and
// live until the process ends; the lookups are safe from any thread.

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gdiplus/GdiplusText.h"
#include "gdiplus/GdiplusTypes.h"

namespace Gdiplus {

// Design metrics of one face, in its design units.
struct FaceMetrics
{
    UINT16 emHeight = 0;
    UINT16 cellAscent = 0;         // above the baseline
    UINT16 cellDescent = 0;        // below the baseline
    UINT16 lineSpacing = 0;        // cell height plus the external leading
    double underlinePosition = 0;  // centre of the stroke, above the baseline (negative: below)
    double underlineThickness = 0;
    double strikeoutPosition = 0;  // top of the stroke, above the baseline
    double strikeoutThickness = 0;
};

class FontFace
{
public:
    virtual ~FontFace() = default;
    virtual const FaceMetrics& Metrics() const = 0;
    // For each UTF-16 unit of text: the glyph to draw (none for the second unit of a surrogate
    // pair) and its advance in design units. Units without a glyph in the font draw glyph 0.
    struct Glyph
    {
        uint32_t index;
        int32_t advance;
        bool drawn;
    };
    virtual void MapText(const WCHAR* text, size_t length, std::vector<Glyph>& glyphs) const = 0;
    // Cairo's face for this file, owned by this object.
    virtual cairo_font_face_t* CairoFace() const = 0;
};

// A family: the name fontconfig found, and the face of each of the four bold/italic styles.
struct ResolvedFamily
{
    std::u16string name;
    std::shared_ptr<const FontFace> faces[4];  // indexed by style & 3
};

// The family for a requested name: found when fontconfig's best match is the name itself or one
// of the families it substitutes with a strong binding (the metric-compatible aliases); null
// otherwise. Results are cached per name.
std::shared_ptr<const ResolvedFamily> ResolveFamily(const std::u16string& name);
// The generic sans-serif family; null only when the machine has no font at all.
std::shared_ptr<const ResolvedFamily> GenericSansSerif();

}  // namespace Gdiplus
