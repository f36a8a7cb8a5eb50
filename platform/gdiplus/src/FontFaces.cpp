#include "FontFaces.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H
#include FT_DRIVER_H
#include FT_MODULE_H

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <utility>

#include "Utf16Text.h"

namespace Gdiplus {
namespace {

// One lock for fontconfig, the FreeType library and the caches below: FreeType objects are not
// thread-safe, and the splash screen measures text on a thread of its own.
std::mutex& FontLock()
{
    static std::mutex lock;
    return lock;
}

FT_Library Library()
{
    static FT_Library library = [] {
        FT_Library created = nullptr;
        if (FT_Init_FreeType(&created) != 0) {
            return static_cast<FT_Library>(nullptr);
        }
        // The TrueType interpreter that ignores the fonts' horizontal instructions, whatever the
        // environment asks for: hinting may only move outlines up and down.
        FT_UInt version = TT_INTERPRETER_VERSION_40;
        FT_Property_Set(created, "truetype", "interpreter-version", &version);
        return created;
    }();
    return library;
}

// Cairo's key for the FreeType face a Cairo face draws with; the face is closed when Cairo lets
// go of its last reference, which may be after this layer's face object is gone.
const cairo_user_data_key_t kDrawingFaceKey{};

void CloseDrawingFace(void* face)
{
    std::lock_guard<std::mutex> guard(FontLock());
    FT_Done_Face(static_cast<FT_Face>(face));
}

UINT16 ClampDesign(long value)
{
    return static_cast<UINT16>(std::clamp<long>(value, 0, 0xFFFF));
}

class FreeTypeFace final : public FontFace
{
public:
    // Called with the lock held. drawingFace is a second face on the same file, given to Cairo:
    // Cairo loads glyphs under locks of its own, while MapText reads the first under this
    // layer's lock, and a FreeType face must not be used by two threads at once.
    FreeTypeFace(FT_Face face, FT_Face drawingFace) : face(face)
    {
        ReadMetrics();
        // Cairo gets the face itself rather than a fontconfig pattern, so no option of the
        // machine's fontconfig set-up reaches the glyphs. The font's own hinting instructions
        // serve the slight hinting that drawing asks for; the auto-hinter leaves thin bars
        // (an "H"'s crossbar at 9 pt) between two rows.
        // Should Cairo fail to take the closing call (no memory), the drawing face stays open
        // for good rather than closing under a Cairo face that still uses it.
        cairoFace = cairo_ft_font_face_create_for_ft_face(drawingFace, FT_LOAD_NO_AUTOHINT);
        cairo_font_face_set_user_data(cairoFace, &kDrawingFaceKey, drawingFace, CloseDrawingFace);
    }
    // Never destroyed with the lock held: Cairo may close the drawing face right here.
    ~FreeTypeFace() override
    {
        cairo_font_face_destroy(cairoFace);
        std::lock_guard<std::mutex> guard(FontLock());
        FT_Done_Face(face);
    }
    FreeTypeFace(const FreeTypeFace&) = delete;
    FreeTypeFace& operator=(const FreeTypeFace&) = delete;

    const FaceMetrics& Metrics() const override { return metrics; }
    cairo_font_face_t* CairoFace() const override { return cairoFace; }

    void MapText(const WCHAR* text, size_t length, std::vector<Glyph>& glyphs) const override
    {
        glyphs.clear();
        glyphs.reserve(length);
        std::lock_guard<std::mutex> guard(FontLock());
        for (size_t i = 0; i < length;) {
            size_t units = 0;
            const char32_t c = DecodeUtf16(text, length, i, &units);
            const FT_UInt index = FT_Get_Char_Index(face, c);
            FT_Fixed advance = 0;
            if (FT_Get_Advance(face, index, FT_LOAD_NO_SCALE, &advance) != 0) {
                advance = 0;
            }
            glyphs.push_back({index, static_cast<int32_t>(advance), true});
            if (units == 2) {
                glyphs.push_back({0, 0, false});
            }
            i += units;
        }
    }

private:
    // Cell ascent and descent are the Windows ascent and descent of the OS/2 table; the line
    // spacing adds the external leading that the horizontal header asks for beyond that cell.
    void ReadMetrics()
    {
        metrics.emHeight = face->units_per_EM;
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
        long ascent = face->ascender;
        long descent = -static_cast<long>(face->descender);
        long leading = std::max<long>(0, face->height - (ascent + descent));
        if (os2 != nullptr && os2->version != 0xFFFF &&
            (os2->usWinAscent != 0 || os2->usWinDescent != 0)) {
            ascent = os2->usWinAscent;
            descent = os2->usWinDescent;
            leading = 0;
            if (hhea != nullptr) {
                const long hheaCell = hhea->Ascender - hhea->Descender;
                leading = std::max<long>(0, hhea->Line_Gap - ((ascent + descent) - hheaCell));
            }
            metrics.strikeoutPosition = os2->yStrikeoutPosition;
            metrics.strikeoutThickness = os2->yStrikeoutSize;
        }
        metrics.cellAscent = ClampDesign(ascent);
        metrics.cellDescent = ClampDesign(descent);
        metrics.lineSpacing = ClampDesign(ascent + descent + leading);
        metrics.underlinePosition = face->underline_position;
        metrics.underlineThickness = face->underline_thickness;
        if (metrics.strikeoutThickness <= 0) {
            metrics.strikeoutThickness = metrics.underlineThickness;
            metrics.strikeoutPosition = ascent / 3.0;
        }
    }

    FT_Face face;
    FaceMetrics metrics;
    cairo_font_face_t* cairoFace = nullptr;
};

// Faces by (file, index), opened once.
std::map<std::pair<std::string, int>, std::shared_ptr<const FontFace>>& Faces()
{
    static auto* faces = new std::map<std::pair<std::string, int>, std::shared_ptr<const FontFace>>;
    return *faces;
}

std::map<std::u16string, std::shared_ptr<const ResolvedFamily>>& Families()
{
    static auto* families = new std::map<std::u16string, std::shared_ptr<const ResolvedFamily>>;
    return *families;
}

std::shared_ptr<const FontFace> OpenFace(const std::string& file, int index)
{
    auto& faces = Faces();
    const auto key = std::make_pair(file, index);
    if (const auto found = faces.find(key); found != faces.end()) {
        return found->second;
    }
    FT_Face face = nullptr;
    if (Library() == nullptr || FT_New_Face(Library(), file.c_str(), index, &face) != 0) {
        return nullptr;
    }
    FT_Face drawingFace = nullptr;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 ||
        FT_New_Face(Library(), file.c_str(), index, &drawingFace) != 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    auto opened = std::make_shared<const FreeTypeFace>(face, drawingFace);
    faces.emplace(key, opened);
    return opened;
}

// Fontconfig's configured pattern for a family name, optionally with a style.
FcPattern* ConfiguredPattern(const std::string& family, int style)
{
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, (style & 1) != 0 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, (style & 2) != 0 ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    return pattern;
}

bool SameName(const char* a, const char* b)
{
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// Whether the family is one the request asked for: the requested name or a strong substitute.
bool IsStrongFamily(FcPattern* configured, const char* family)
{
    FcValue value;
    FcValueBinding binding;
    for (int i = 0;
         FcPatternGetWithBinding(configured, FC_FAMILY, i, &value, &binding) == FcResultMatch;
         ++i) {
        if (value.type == FcTypeString && binding != FcValueBindingWeak &&
            SameName(reinterpret_cast<const char*>(value.u.s), family)) {
            return true;
        }
    }
    return false;
}

// The best match's file, index and family, or false when it is not a font the request named
// (unless any match will do).
bool Match(const std::string& family, int style, bool anyMatch, std::string& file, int& index,
           std::string& matchedFamily)
{
    FcPattern* configured = ConfiguredPattern(family, style);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, configured, &result);
    bool found = false;
    FcChar8* matchedFile = nullptr;
    FcChar8* name = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &matchedFile) == FcResultMatch &&
        FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) {
        found = anyMatch;
        for (int i = 0; !found && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch;
             ++i) {
            found = IsStrongFamily(configured, reinterpret_cast<const char*>(name));
        }
        if (found) {
            FcPatternGetString(match, FC_FAMILY, 0, &name);
            file = reinterpret_cast<const char*>(matchedFile);
            matchedFamily = reinterpret_cast<const char*>(name);
            if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) {
                index = 0;
            }
        }
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(configured);
    return found;
}

std::u16string FromLatin(const std::string& text)
{
    // Fontconfig's family names are UTF-8; decode them for GdipGetFamilyName.
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = byte;
        size_t extra = 0;
        if (byte >= 0xF0) {
            c = byte & 0x07;
            extra = 3;
        } else if (byte >= 0xE0) {
            c = byte & 0x0F;
            extra = 2;
        } else if (byte >= 0xC0) {
            c = byte & 0x1F;
            extra = 1;
        }
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i) {
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// Called with the lock held.
std::shared_ptr<const ResolvedFamily> Resolve(const std::string& name, bool anyMatch)
{
    if (FcInit() != FcTrue) {
        return nullptr;
    }
    std::string file;
    std::string family;
    int index = 0;
    if (!Match(name, 0, anyMatch, file, index, family)) {
        return nullptr;
    }
    auto resolved = std::make_shared<ResolvedFamily>();
    resolved->name = FromLatin(family);
    resolved->faces[0] = OpenFace(file, index);
    if (!resolved->faces[0]) {
        return nullptr;
    }
    // The styled faces of the family that was found; a family without one uses its regular face.
    for (int style = 1; style < 4; ++style) {
        std::string styledFile;
        std::string styledFamily;
        int styledIndex = 0;
        if (Match(family, style, false, styledFile, styledIndex, styledFamily) &&
            SameName(styledFamily.c_str(), family.c_str())) {
            resolved->faces[style] = OpenFace(styledFile, styledIndex);
        }
        if (!resolved->faces[style]) {
            resolved->faces[style] = resolved->faces[0];
        }
    }
    return resolved;
}

}  // namespace

std::shared_ptr<const ResolvedFamily> ResolveFamily(const std::u16string& name)
{
    if (name.empty()) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(FontLock());
    auto& families = Families();
    std::u16string key = name;
    for (char16_t& c : key) {
        if (c < 0x80) {
            c = static_cast<char16_t>(std::tolower(c));
        }
    }
    if (const auto found = families.find(key); found != families.end()) {
        return found->second;
    }
    auto resolved = Resolve(ToUtf8(name), false);
    families.emplace(key, resolved);
    return resolved;
}

std::shared_ptr<const ResolvedFamily> GenericSansSerif()
{
    // Arial's metric twin first, so that text drawn in the generic face measures the same on
    // every machine; fontconfig's own sans-serif choice only where that font is missing.
    if (auto arial = ResolveFamily(u"Arial")) {
        return arial;
    }
    std::lock_guard<std::mutex> guard(FontLock());
    static std::shared_ptr<const ResolvedFamily>* generic =
        new std::shared_ptr<const ResolvedFamily>(Resolve("sans-serif", true));
    return *generic;
}

}  // namespace Gdiplus

// Fontconfig 2.14 drops a few blocks while it parses its configuration, once per process. The
// sanitizer builds' fast unwinder sees no further than fontconfig's own frames there, so the leak
// checker is told to ignore blocks that fontconfig allocated; this layer frees every pattern it
// makes right where it makes it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GDIPLUS_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define GDIPLUS_LEAK_CHECKED 1
#endif
#if defined(GDIPLUS_LEAK_CHECKED)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif
