// The .reg reader and writer: every value type survives a round trip; bad files give errors that
// name the line.
#include "Registry/RegFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace Platform::Registry;

std::vector<uint8_t> Utf8(std::string_view text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

Value Make(uint32_t type, std::vector<uint8_t> data)
{
    return Value{type, std::move(data)};
}

std::vector<uint8_t> Wide(std::u16string_view text, bool terminated = true)
{
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminated) {
        data.insert(data.end(), {0, 0});
    }
    return data;
}

TEST(RegFile, EveryValueTypeSurvivesARoundTrip)
{
    std::vector<uint8_t> longBinary(300);
    for (size_t i = 0; i < longBinary.size(); ++i) {
        longBinary[i] = static_cast<uint8_t>(i * 7);
    }
    const std::vector<RegFileKey> keys = {
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Tervolt",
         {
             {u"", Make(kRegSz, Wide(u"default"))},
             {u"Quote \"and\" back\\slash", Make(kRegSz, Wide(u"C:\\Path\\ \"x\" \u00e9\u4e2d"))},
             {u"Dword", Make(kRegDword, {0x0a, 0x00, 0x00, 0x80})},
             {u"Binary", Make(kRegBinary, longBinary)},
             {u"Empty binary", Make(kRegBinary, {})},
             {u"Multi", Make(kRegMultiSz, Wide(std::u16string_view(u"a\0bc\0", 5)))},
             {u"Expand", Make(kRegExpandSz, Wide(u"%SystemRoot%"))},
             {u"Qword", Make(kRegQword, {1, 2, 3, 4, 5, 6, 7, 8})},
             {u"None", Make(kRegNone, {})},
             {u"Odd type", Make(0x12345678, {9})},
             {u"Unterminated string", Make(kRegSz, Wide(u"abc", false))},
             {u"String with a line break", Make(kRegSz, Wide(u"a\r\nb"))},
             {u"Short dword", Make(kRegDword, {1, 2})},
         }},
        {u"HKEY_CURRENT_USER\\Software\\Empty key", {}},
    };
    const std::vector<uint8_t> bytes = WriteRegFile(keys);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    RegFileError error;
    const auto read = ReadRegFile(bytes, &error);
    ASSERT_TRUE(read.has_value()) << error.Describe();
    ASSERT_EQ(read->size(), keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ((*read)[k].path, keys[k].path);
        ASSERT_EQ((*read)[k].values.size(), keys[k].values.size());
        for (size_t v = 0; v < keys[k].values.size(); ++v) {
            EXPECT_EQ((*read)[k].values[v].first, keys[k].values[v].first) << "value " << v;
            EXPECT_EQ((*read)[k].values[v].second, keys[k].values[v].second) << "value " << v;
        }
    }
}

TEST(RegFile, ReadsTheFormsRegeditWrites)
{
    std::ifstream in(ORV_FIXTURES_DIR "/registry/regedit-sample.reg", std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    RegFileError error;
    const auto keys = ReadRegFile(bytes, &error);
    ASSERT_TRUE(keys.has_value()) << error.Describe();
    ASSERT_EQ(keys->size(), 2u);
    const auto& values = (*keys)[0].values;
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].second, Make(kRegSz, Wide(u"Corvane Quorvel")));
    EXPECT_EQ(values[1].second, Make(kRegDword, {3, 0, 0, 0}));
    EXPECT_EQ(values[2].second.type, kRegBinary);
    EXPECT_EQ(values[2].second.data.size(), 40u);  // continued over three lines
    EXPECT_EQ(values[3].second, Make(kRegMultiSz, Wide(std::u16string_view(u"A\0B\0", 4))));
    EXPECT_EQ((*keys)[1].path, u"HKEY_CURRENT_USER\\Software\\Corvane");
}

struct BadFile
{
    const char* name;
    const char* text;
    size_t line;
    const char* message;
};

void PrintTo(const BadFile& c, std::ostream* out)
{
    *out << c.name;
}

const BadFile kBadFiles[] = {
    {"Empty", "", 0, "lacks the"},
    {"WrongHeader", "REGEDIT4\r\n", 1, "first line"},
    {"ValueBeforeKey", "Windows Registry Editor Version 5.00\r\n\"a\"=\"b\"\r\n", 2,
     "before any key"},
    {"UnclosedKey", "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X\r\n", 2,
     "end with ']'"},
    {"UnknownHive", "Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\X]\r\n", 2,
     "unknown hive"},
    {"EmptyKeyName", "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\\\X]\r\n", 2,
     "empty key name"},
    {"KeyDeletion", "Windows Registry Editor Version 5.00\r\n[-HKEY_LOCAL_MACHINE\\X]\r\n", 2,
     "not supported"},
    {"MissingEquals",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\" \"b\"\r\n", 3,
     "expected '='"},
    {"UnclosedString",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"b\r\n", 3,
     "no closing quote"},
    {"BadEscape",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"\\n\"\r\n", 3,
     "backslash"},
    {"LongDword",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=dword:123456789\r\n",
     3, "1 to 8 hex digits"},
    {"BadHexByte",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex:01,zz\r\n", 3,
     "hex digit"},
    {"ThreeDigitByte",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex:100\r\n", 3,
     "one or two hex digits"},
    {"BadHexType",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex(q):00\r\n", 3,
     "hex(N)"},
    {"ContinuationAtEnd",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex:00,\\", 3,
     "ends inside"},
    {"ContinuationIntoEmptyLine",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex:00,\\\r\n", 4,
     "followed by an empty line"},
    {"ValueDeletion",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=-\r\n", 3,
     "not supported"},
    {"TextAfterString",
     "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"b\" c\r\n", 3,
     "follows the closing quote"},
    {"StrayText", "Windows Registry Editor Version 5.00\r\nhello\r\n", 2, "a line must be"},
    {"InvalidUtf8", "Windows Registry Editor Version 5.00\r\n\xC3\x28\r\n", 0, "valid UTF-8"},
};

class RegFileBad : public testing::TestWithParam<BadFile>
{
};

TEST_P(RegFileBad, GivesAnErrorNamingTheLine)
{
    RegFileError error;
    EXPECT_FALSE(ReadRegFile(Utf8(GetParam().text), &error).has_value());
    EXPECT_EQ(error.line, GetParam().line) << error.Describe();
    EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(Cases, RegFileBad, testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegFile, AnOddLengthUtf16FileIsRefused)
{
    RegFileError error;
    EXPECT_FALSE(ReadRegFile({0xFF, 0xFE, 0x57}, &error).has_value());
    EXPECT_NE(error.message.find("odd number of bytes"), std::string::npos);
}

}  // namespace
