#include "Renderer/Gdi/GDITextMeasurer.h"

#include <windows.h>

#include <mutex>
#include <ostream>
#include <set>
#include <string>

#include "System/DebugOutput.h"

namespace Orv {
namespace {

using namespace Gdiplus;

// Measuring lays text out in a box larger than any line.
constexpr REAL kMeasureBoxSide = 9999.0f;

// Face names compare as GDI+ compares them: ignoring the case of ASCII letters.
std::u16string FaceKey(std::u16string_view name)
{
    std::u16string key(name);
    for (char16_t& c : key) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return key;
}

// UTF-16 as the debug channel's wide text; a lone surrogate becomes U+FFFD.
void AppendWide(std::wstring& out, std::u16string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        out += static_cast<wchar_t>(c);
    }
}

// Says once per face name, on the debug channel, that a face is not on this machine and which
// face draws and measures its text instead: the panel's layout was made for the face it names,
// and a stand-in with other metrics moves every label. Measuring may run on the splash screen's
// thread, so the names said and the channel's wide stream, which nothing else writes, are
// guarded here.
void ReportStandIn(std::u16string_view requested, GpFontFamily* family)
{
    WCHAR found[32] = {};
    if (family != nullptr && GdipGetFamilyName(family, found, 0) != Ok) {
        return;
    }
    const std::u16string_view standIn(found);
    // Family names hold 31 characters at most.
    if (family != nullptr && FaceKey(standIn) == FaceKey(requested.substr(0, 31))) {
        return;
    }
    static std::mutex lock;
    static std::set<std::u16string> said;
    const std::lock_guard guard(lock);
    if (!said.insert(FaceKey(requested)).second) {
        return;
    }
    std::wstring line = L"Fonts: \"";
    AppendWide(line, requested);
    if (family != nullptr) {
        line += L"\" is not on this machine; \"";
        AppendWide(line, standIn);
        line += L"\" draws it instead\n";
    } else {
        line += L"\" is not on this machine, and no font stands in for it\n";
    }
    *GetDebugLogTarget().wideOutput << line << std::flush;
}

}  // namespace

GpFontFamily* CreateGdiFontFamily(const WideString& name)
{
    const std::u16string_view requested(name.GetText(), static_cast<size_t>(name.GetLength()));
    GpFontFamily* family = nullptr;
    if (GdipCreateFontFamilyFromName(name.GetText(), nullptr, &family) != Ok &&
        GdipGetGenericFontFamilySansSerif(&family) != Ok) {
        family = nullptr;
    }
    ReportStandIn(requested, family);
    return family;
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
