#include "Renderer/Gdi/GDITextMeasurer.h"

#include <windows.h>

namespace Orv {
namespace {

using namespace Gdiplus;

// Measuring lays text out in a box larger than any line.
constexpr REAL kMeasureBoxSide = 9999.0f;

}  // namespace

GpFontFamily* CreateGdiFontFamily(const WideString& name)
{
    GpFontFamily* family = nullptr;
    if (GdipCreateFontFamilyFromName(name.GetText(), nullptr, &family) == Ok) {
        return family;
    }
    if (GdipGetGenericFontFamilySansSerif(&family) == Ok) {
        return family;
    }
    return nullptr;
}

ORVRESULT GetGdiFontMetrics(const LFont& font, int& lineHeight, int& ascent, int& descent)
{
    GpFontFamily* family = CreateGdiFontFamily(font.GetName());
    GpFont* gdiFont = nullptr;
    if (family == nullptr ||
        GdipCreateFont(family, font.GetSize(), font.GetStyle(), UnitPixel, &gdiFont) != Ok) {
        if (family != nullptr) {
            GdipDeleteFontFamily(family);
        }
        lineHeight = -1;
        return E_FAIL;
    }
    REAL height = 0.0f;
    REAL size = 0.0f;
    UINT16 cellAscent = 0;
    UINT16 cellDescent = 0;
    UINT16 emHeight = 0;
    GdipGetFontHeightGivenDPI(gdiFont, 72.0f, &height);
    GdipGetFontSize(gdiFont, &size);
    GdipGetCellAscent(family, font.GetStyle(), &cellAscent);
    GdipGetCellDescent(family, font.GetStyle(), &cellDescent);
    GdipGetEmHeight(family, font.GetStyle(), &emHeight);
    const double em72 = static_cast<double>(emHeight) * 72.0;
    lineHeight = RoundToLong(height * 96.0 / 72.0 + 0.499);
    ascent = RoundToLong(cellAscent * static_cast<double>(size) * -96.0 / em72 - 0.499);
    descent = RoundToLong(cellDescent * static_cast<double>(size) * 96.0 / em72 + 0.499);
    GdipDeleteFont(gdiFont);
    GdipDeleteFontFamily(family);
    return S_OK;
}

LGDITextMeasurer::LGDITextMeasurer()
{
    if (HDC screen = GetDC(nullptr)) {
        screenResolution = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppARGB, nullptr, &measuringBitmap);
}

LGDITextMeasurer::~LGDITextMeasurer()
{
    if (measuringBitmap != nullptr) {
        GdipDisposeImage(measuringBitmap);
    }
}

int LGDITextMeasurer::MeasureWidth(const WideString& text, const LFont& font) const
{
    GpGraphics* graphics = nullptr;
    if (measuringBitmap == nullptr ||
        GdipGetImageGraphicsContext(measuringBitmap, &graphics) != Ok) {
        return 0;
    }
    GpFontFamily* family = CreateGdiFontFamily(font.GetName());
    GpFont* gdiFont = nullptr;
    GpStringFormat* format = nullptr;
    GpRegion* region = nullptr;
    GpRectF bounds{0, 0, 0, 0};
    if (family != nullptr &&
        GdipCreateFont(family, font.GetSize(), font.GetStyle(), UnitPoint, &gdiFont) == Ok) {
        const GpRectF box{0, 0, kMeasureBoxSide, kMeasureBoxSide};
        GpRectF measured{};
        GdipMeasureString(graphics, text.GetText(), -1, gdiFont, &box, nullptr, &measured, nullptr,
                          nullptr);
        const CharacterRange whole{0, text.GetLength()};
        if (GdipCreateStringFormat(0, 0, &format) == Ok && GdipCreateRegion(&region) == Ok) {
            GdipSetStringFormatMeasurableCharacterRanges(format, 1, &whole);
            GdipSetStringFormatTrimming(format, StringTrimmingNone);
            GdipSetStringFormatFlags(format, StringFormatFlagsMeasureTrailingSpaces);
            if (GdipMeasureCharacterRanges(graphics, text.GetText(), -1, gdiFont, box, format, 1,
                                           &region) == Ok) {
                GdipGetRegionBounds(region, graphics, &bounds);
            }
        }
    }
    if (region != nullptr) {
        GdipDeleteRegion(region);
    }
    if (format != nullptr) {
        GdipDeleteStringFormat(format);
    }
    if (gdiFont != nullptr) {
        GdipDeleteFont(gdiFont);
    }
    if (family != nullptr) {
        GdipDeleteFontFamily(family);
    }
    GdipDeleteGraphics(graphics);

    float right = bounds.X + bounds.Width;
    if (screenResolution != 96) {
        right = 9600.0f / static_cast<float>(screenResolution) * right / 100.0f;
    }
    int width = static_cast<int>(right + 0.9999f);
    if (width > 0) {
        width += 3;
    }
    return width;
}

}  // namespace Orv
