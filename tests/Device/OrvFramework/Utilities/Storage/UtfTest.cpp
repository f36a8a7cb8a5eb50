// The UTF-16 <-> UTF-8 converters, strict and lenient, with their cursors and results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Utilities/Storage/Utf.h"

namespace {

struct Utf16To8Row
{
    const char* name;
    std::u16string source;
    bool lenient;
    std::vector<unsigned char> bytes;  // what was written
    Orv::ConversionResult result;
    std::size_t consumed;  // source units behind the cursor
};

TEST(ConvertUtf16ToUtf8, Vectors)
{
    const Utf16To8Row rows[] = {
        {"ascii", u"A", false, {0x41}, Orv::ConversionOK, 1},
        {"two bytes", u"\u00E9", false, {0xC3, 0xA9}, Orv::ConversionOK, 1},
        {"three bytes", u"\u20AC", false, {0xE2, 0x82, 0xAC}, Orv::ConversionOK, 1},
        {"pair", u"\xD83D\xDE00", false, {0xF0, 0x9F, 0x98, 0x80}, Orv::ConversionOK, 2},
        {"lone high, lenient",
         u"\xD800\x0041",
         true,
         {0xED, 0xA0, 0x80, 0x41},
         Orv::ConversionOK,
         2},
        {"lone high, strict", u"\xD800\x0041", false, {}, Orv::SourceIllegal, 0},
        {"lone low, strict", u"a\xDC00", false, {0x61}, Orv::SourceIllegal, 1},
        {"lone low, lenient", u"\xDC00", true, {0xED, 0xB0, 0x80}, Orv::ConversionOK, 1},
        {"high at the end, lenient", u"a\xD800", true, {0x61}, Orv::SourceExhausted, 1},
        {"high at the end, strict", u"\xDBFF", false, {}, Orv::SourceExhausted, 0},
        {"empty", u"", false, {}, Orv::ConversionOK, 0},
    };
    for (const Utf16To8Row& row : rows) {
        SCOPED_TRACE(row.name);
        char target[32] = {};
        const char16_t* source = row.source.data();
        char* out = target;
        const auto result = Orv::ConvertUtf16ToUtf8(&source, row.source.data() + row.source.size(),
                                                    &out, target + sizeof target, row.lenient);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(static_cast<std::size_t>(source - row.source.data()), row.consumed);
        EXPECT_EQ(std::vector<unsigned char>(target, out), row.bytes);
    }
}

TEST(ConvertUtf16ToUtf8, AFullTargetStopsBeforeTheCharacter)
{
    const std::u16string text = u"a\xD83D\xDE00";
    char target[4];
    const char16_t* source = text.data();
    char* out = target;
    EXPECT_EQ(Orv::ConvertUtf16ToUtf8(&source, text.data() + text.size(), &out, target + 4, false),
              Orv::TargetExhausted);
    EXPECT_EQ(source, text.data() + 1) << "back on the high surrogate of the pair";
    EXPECT_EQ(out, target + 1);
}

struct Utf8To16Row
{
    const char* name;
    std::vector<unsigned char> source;
    bool lenient;
    std::u16string units;
    Orv::ConversionResult result;
    std::size_t consumed;
};

TEST(ConvertUtf8ToUtf16, Vectors)
{
    const Utf8To16Row rows[] = {
        {"mixed",
         {0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80},
         false,
         u"A\u00E9\u20AC\xD83D\xDE00",
         Orv::ConversionOK,
         10},
        {"highest code point",
         {0xF4, 0x8F, 0xBF, 0xBF},
         false,
         u"\xDBFF\xDFFF",
         Orv::ConversionOK,
         4},
        {"overlong NUL", {0xC0, 0x80}, false, u"", Orv::SourceIllegal, 0},
        {"overlong NUL, lenient", {0xC0, 0x80}, true, u"", Orv::SourceIllegal, 0},
        {"overlong three bytes", {0xE0, 0x80, 0x80}, false, u"", Orv::SourceIllegal, 0},
        {"encoded surrogate", {0x61, 0xED, 0xA0, 0x80}, true, u"a", Orv::SourceIllegal, 1},
        {"above 10FFFF", {0xF4, 0x90, 0x80, 0x80}, true, u"", Orv::SourceIllegal, 0},
        {"five bytes", {0xF8, 0x88, 0x80, 0x80, 0x80}, true, u"", Orv::SourceIllegal, 0},
        {"six bytes", {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, false, u"", Orv::SourceIllegal, 0},
        {"lone trailing byte", {0x80}, true, u"", Orv::SourceIllegal, 0},
        {"bad trailing byte", {0xC3, 0x41}, false, u"", Orv::SourceIllegal, 0},
        {"lead at the end", {0x41, 0xC3}, false, u"A", Orv::SourceExhausted, 1},
        {"cut pair", {0xF0, 0x9F, 0x98}, false, u"", Orv::SourceExhausted, 0},
        // A byte below 0x80 never continues a character, after ED and F4 either.
        {"ED with an ASCII second byte", {0xED, 0x01, 0x8C}, true, u"", Orv::SourceIllegal, 0},
        {"F4 with an ASCII second byte",
         {0xF4, 0x01, 0x80, 0x80},
         true,
         u"",
         Orv::SourceIllegal,
         0},
    };
    for (const Utf8To16Row& row : rows) {
        SCOPED_TRACE(row.name);
        char16_t target[16] = {};
        const char* begin = reinterpret_cast<const char*>(row.source.data());
        const char* source = begin;
        char16_t* out = target;
        const auto result = Orv::ConvertUtf8ToUtf16(&source, begin + row.source.size(), &out,
                                                    target + 16, row.lenient);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(static_cast<std::size_t>(source - begin), row.consumed);
        EXPECT_EQ(std::u16string(target, out), row.units);
    }
}

TEST(ConvertUtf8ToUtf16, APairNeedsTwoUnitsOfRoom)
{
    const char text[] = "\xF0\x9F\x98\x80";
    char16_t target[1];
    const char* source = text;
    char16_t* out = target;
    EXPECT_EQ(Orv::ConvertUtf8ToUtf16(&source, text + 4, &out, target + 1, false),
              Orv::TargetExhausted);
    EXPECT_EQ(source, text);
    EXPECT_EQ(out, target);
}

TEST(IsLegalUtf8, LeadBytesAndLengths)
{
    const auto legal = [](std::vector<unsigned char> bytes) {
        return Orv::IsLegalUtf8(bytes.data(), static_cast<int>(bytes.size()));
    };
    EXPECT_TRUE(legal({0x7F}));
    EXPECT_FALSE(legal({0x80}));
    EXPECT_FALSE(legal({0xC1, 0xBF}));
    EXPECT_TRUE(legal({0xC2, 0x80}));
    EXPECT_TRUE(legal({0xED, 0x9F, 0xBF}));
    EXPECT_FALSE(legal({0xED, 0xA0, 0x80}));
    EXPECT_FALSE(legal({0xF0, 0x8F, 0xBF, 0xBF}));
    EXPECT_TRUE(legal({0xF0, 0x90, 0x80, 0x80}));
    EXPECT_FALSE(legal({0xF5, 0x80, 0x80, 0x80}));
    EXPECT_FALSE(legal({0xE2, 0x82, 0x2C}));
    EXPECT_FALSE(Orv::IsLegalUtf8(nullptr, 0));
    const unsigned char five[] = {0xF8, 0x88, 0x80, 0x80, 0x80};
    EXPECT_FALSE(Orv::IsLegalUtf8(five, 5));
}

}  // namespace
