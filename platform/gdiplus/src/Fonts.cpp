#include <algorithm>
#include <cmath>
#include <new>

#include "GdiplusObjects.h"
#include "TextObjects.h"

namespace Gdiplus {
namespace {

GpStatus NewFamily(std::shared_ptr<const ResolvedFamily> resolved, GpFontFamily** family)
{
    *family = new (std::nothrow) GpFontFamily{std::move(resolved)};
    return *family != nullptr ? Ok : OutOfMemory;
}

// The family's design metric for a style, through the chosen field.
template <UINT16 FaceMetrics::*Field>
GpStatus GetDesignMetric(const GpFontFamily* family, INT style, UINT16* value)
{
    GDIP_REQUIRE_STARTED();
    if (family == nullptr || value == nullptr) {
        return InvalidParameter;
    }
    *value = family->family->faces[style & 3]->Metrics().*Field;
    return Ok;
}

}  // namespace

double GpFont::EmPixels(double dpi) const
{
    switch (unit) {
        case UnitPoint:
            return size * dpi / 72.0;
        case UnitInch:
            return size * dpi;
        case UnitDocument:
            return size * dpi / 300.0;
        case UnitMillimeter:
            return size * dpi / 25.4;
        default:
            return size;
    }
}

GpStatus GdipCreateFontFamilyFromName(const WCHAR* name, GpFontCollection* collection,
                                      GpFontFamily** family)
{
    GDIP_REQUIRE_STARTED();
    if (name == nullptr || family == nullptr) {
        return InvalidParameter;
    }
    *family = nullptr;
    if (collection != nullptr) {
        return NotImplemented;
    }
    auto resolved = ResolveFamily(std::u16string(name));
    if (!resolved) {
        return FontFamilyNotFound;
    }
    return NewFamily(std::move(resolved), family);
}

GpStatus GdipGetGenericFontFamilySansSerif(GpFontFamily** family)
{
    GDIP_REQUIRE_STARTED();
    if (family == nullptr) {
        return InvalidParameter;
    }
    *family = nullptr;
    auto resolved = GenericSansSerif();
    if (!resolved) {
        return FontFamilyNotFound;
    }
    return NewFamily(std::move(resolved), family);
}

GpStatus GdipCloneFontFamily(GpFontFamily* family, GpFontFamily** clone)
{
    GDIP_REQUIRE_STARTED();
    if (family == nullptr || clone == nullptr) {
        return InvalidParameter;
    }
    return NewFamily(family->family, clone);
}

GpStatus GdipDeleteFontFamily(GpFontFamily* family)
{
    return DeleteObject(family);
}

GpStatus GdipGetFamilyName(const GpFontFamily* family, WCHAR name[32], LANGID /*language*/)
{
    GDIP_REQUIRE_STARTED();
    if (family == nullptr || name == nullptr) {
        return InvalidParameter;
    }
    const std::u16string& found = family->family->name;
    const size_t count = std::min<size_t>(found.size(), 31);
    std::copy_n(found.begin(), count, name);
    name[count] = 0;
    return Ok;
}

GpStatus GdipGetEmHeight(const GpFontFamily* family, INT style, UINT16* emHeight)
{
    return GetDesignMetric<&FaceMetrics::emHeight>(family, style, emHeight);
}

GpStatus GdipGetCellAscent(const GpFontFamily* family, INT style, UINT16* cellAscent)
{
    return GetDesignMetric<&FaceMetrics::cellAscent>(family, style, cellAscent);
}

GpStatus GdipGetCellDescent(const GpFontFamily* family, INT style, UINT16* cellDescent)
{
    return GetDesignMetric<&FaceMetrics::cellDescent>(family, style, cellDescent);
}

GpStatus GdipGetLineSpacing(const GpFontFamily* family, INT style, UINT16* lineSpacing)
{
    return GetDesignMetric<&FaceMetrics::lineSpacing>(family, style, lineSpacing);
}

GpStatus GdipCreateFont(const GpFontFamily* family, REAL emSize, INT style, INT unit, GpFont** font)
{
    GDIP_REQUIRE_STARTED();
    if (family == nullptr || font == nullptr) {
        return InvalidParameter;
    }
    *font = nullptr;
    if (!(emSize > 0.0f) || !std::isfinite(emSize) || unit < UnitWorld || unit > UnitMillimeter ||
        unit == UnitDisplay || (style & ~0xF) != 0) {
        return InvalidParameter;
    }
    *font = new (std::nothrow) GpFont{family->family, emSize, style, static_cast<Unit>(unit)};
    return *font != nullptr ? Ok : OutOfMemory;
}

GpStatus GdipDeleteFont(GpFont* font)
{
    return DeleteObject(font);
}

GpStatus GdipGetFontSize(GpFont* font, REAL* size)
{
    GDIP_REQUIRE_STARTED();
    if (font == nullptr || size == nullptr) {
        return InvalidParameter;
    }
    *size = font->size;
    return Ok;
}

GpStatus GdipGetFontUnit(GpFont* font, Unit* unit)
{
    GDIP_REQUIRE_STARTED();
    if (font == nullptr || unit == nullptr) {
        return InvalidParameter;
    }
    *unit = font->unit;
    return Ok;
}

GpStatus GdipGetFontStyle(GpFont* font, INT* style)
{
    GDIP_REQUIRE_STARTED();
    if (font == nullptr || style == nullptr) {
        return InvalidParameter;
    }
    *style = font->style;
    return Ok;
}

GpStatus GdipGetFontHeightGivenDPI(const GpFont* font, REAL dpi, REAL* height)
{
    GDIP_REQUIRE_STARTED();
    if (font == nullptr || height == nullptr) {
        return InvalidParameter;
    }
    const FaceMetrics& metrics = font->Face().Metrics();
    *height = static_cast<REAL>(metrics.lineSpacing * font->EmPixels(dpi) / metrics.emHeight);
    return Ok;
}

GpStatus GdipGetFontHeight(const GpFont* font, const GpGraphics* graphics, REAL* height)
{
    if (graphics == nullptr) {
        return InvalidParameter;
    }
    return GdipGetFontHeightGivenDPI(font, static_cast<REAL>(kGraphicsDpi), height);
}

}  // namespace Gdiplus
