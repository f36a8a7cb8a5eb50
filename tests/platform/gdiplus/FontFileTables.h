#pragma once
// Design metrics read straight from a TrueType file's tables, so that tests compare the layer's
// answers with the font's own numbers rather than with the layer's arithmetic.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace GdiplusTest {

inline constexpr const char* kLiberationSansRegular =
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
inline constexpr const char* kLiberationSansBold =
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";

class FontFileTables
{
public:
    explicit FontFileTables(const char* file)
    {
        if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, file, 0, &face) != 0) {
            throw std::runtime_error(std::string("cannot open ") + file);
        }
        head = Table(TTAG_head);
        hhea = Table(TTAG_hhea);
        os2 = Table(TTAG_OS2);
        hmtx = Table(TTAG_hmtx);
    }
    ~FontFileTables()
    {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
    FontFileTables(const FontFileTables&) = delete;
    FontFileTables& operator=(const FontFileTables&) = delete;

    int UnitsPerEm() const { return U16(head, 18); }
    int WinAscent() const { return U16(os2, 74); }
    int WinDescent() const { return U16(os2, 76); }
    int HheaAscender() const { return S16(hhea, 4); }
    int HheaDescender() const { return S16(hhea, 6); }
    int HheaLineGap() const { return S16(hhea, 8); }
    // The advance of a character: its glyph through the font's character map, its width from
    // the horizontal metrics table (the last long metric repeats past the metric count).
    int Advance(char32_t c) const
    {
        const unsigned glyph = FT_Get_Char_Index(face, c);
        const unsigned longMetrics = U16(hhea, 34);
        const unsigned entry = glyph < longMetrics ? glyph : longMetrics - 1;
        return U16(hmtx, entry * 4);
    }
    int Advances(const std::u16string& text) const
    {
        int sum = 0;
        for (char16_t c : text) {
            sum += Advance(c);
        }
        return sum;
    }
    FT_Face Face() const { return face; }

private:
    std::vector<uint8_t> Table(FT_ULong tag) const
    {
        FT_ULong length = 0;
        if (FT_Load_Sfnt_Table(face, tag, 0, nullptr, &length) != 0) {
            throw std::runtime_error("table missing");
        }
        std::vector<uint8_t> bytes(length);
        FT_Load_Sfnt_Table(face, tag, 0, bytes.data(), &length);
        return bytes;
    }
    static int U16(const std::vector<uint8_t>& t, size_t at)
    {
        return (t.at(at) << 8) | t.at(at + 1);
    }
    static int S16(const std::vector<uint8_t>& t, size_t at)
    {
        return static_cast<int16_t>(U16(t, at));
    }

    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::vector<uint8_t> head, hhea, os2, hmtx;
};

}  // namespace GdiplusTest
