#include <string>
#include <vector>

#include "PraxenFixture.h"

namespace {

using PraxenValues = PraxenFixture;

TEST_F(PraxenValues, AbsentNodesGiveTheDefault)
{
    EXPECT_EQ(GetInt(handle, "RendererType", 7), 7);
    EXPECT_EQ(lastResult, PRAXEN_DEFAULT_USED);
    EXPECT_EQ(GetText(handle, "Skin", "Dark"), "Dark");
    EXPECT_EQ(lastResult, PRAXEN_DEFAULT_USED);
    EXPECT_EQ(GetText(handle, "Skin", nullptr), "");
    EXPECT_FALSE(DoesNodeExist(handle, "RendererType"));
}

TEST_F(PraxenValues, IntegersRoundTripThroughTheDisk)
{
    for (const int value : {0, 1, -1, 2147483647, -2147483647 - 1}) {
        ASSERT_EQ(SetIniValueInt(handle, "RendererType", value), PRAXEN_OK);
        const int other = Reopen();
        EXPECT_EQ(GetInt(other, "RendererType"), value);
        EXPECT_EQ(lastResult, PRAXEN_OK);
        CloseIniFile(other, 0);
    }
    EXPECT_TRUE(DoesNodeExist(handle, "RendererType"));
}

TEST_F(PraxenValues, TextThatIsNotAnIntegerGivesTheDefaultAndAnError)
{
    for (const char* text : {"", "12x", " 12", "0x10", "2147483648", "1.5", "+"}) {
        SCOPED_TRACE(text);
        ASSERT_EQ(SetIniValueStr(handle, "Number", text), PRAXEN_OK);
        EXPECT_EQ(GetInt(handle, "Number", 5), 5);
        EXPECT_EQ(lastResult, PRAXEN_E_NOT_AN_INTEGER);
    }
}

TEST_F(PraxenValues, TextsRoundTripExactlyThroughTheDisk)
{
    const std::vector<std::string> texts = {
        "",
        " padded ",
        "a=b=c",
        "line one\nline two\r\n",
        "back\\slash\\n",
        "[not a section]",
        ";not a comment",
        "\xE2\x82\xAC uro",
        std::string(3000, 'x'),
    };
    for (const std::string& text : texts) {
        ASSERT_EQ(SetIniValueStr(handle, "Text", text.c_str()), PRAXEN_OK);
        const int other = Reopen();
        std::string buffer(4000, '?');
        int needed = 0;
        EXPECT_EQ(GetIniValueStr(other, "Text", "default", buffer.data(), 4000, &needed),
                  PRAXEN_OK);
        EXPECT_EQ(needed, static_cast<int>(text.size()) + 1);
        EXPECT_EQ(std::string(buffer.c_str()), text);
        CloseIniFile(other, 0);
    }
}

TEST_F(PraxenValues, TooSmallBufferAsksForTheSizeNeeded)
{
    const std::string text(3000, 'q');
    ASSERT_EQ(SetIniValueStr(handle, "Long", text.c_str()), PRAXEN_OK);
    std::vector<char> buffer(1024, '?');
    int needed = 0;
    EXPECT_EQ(GetIniValueStr(handle, "Long", "", buffer.data(), 1024, &needed),
              PRAXEN_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 3001);
    EXPECT_EQ(buffer[0], '\0');
    // Exactly the size asked for is enough.
    buffer.assign(3001, '?');
    EXPECT_EQ(GetIniValueStr(handle, "Long", "", buffer.data(), 3001, &needed), PRAXEN_OK);
    EXPECT_EQ(std::string(buffer.data()), text);
    // One byte less is not, and no buffer at all only asks.
    EXPECT_EQ(GetIniValueStr(handle, "Long", "", buffer.data(), 3000, &needed),
              PRAXEN_E_BUFFER_TOO_SMALL);
    needed = 0;
    EXPECT_EQ(GetIniValueStr(handle, "Long", "", nullptr, 0, &needed), PRAXEN_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 3001);
    // A default that does not fit follows the same protocol.
    char small[4] = {};
    EXPECT_EQ(GetIniValueStr(handle, "Absent", "default", small, 4, &needed),
              PRAXEN_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 8);
}

TEST_F(PraxenValues, NestedNodesAreKeysOfTheirParentSection)
{
    ASSERT_EQ(SetIniValueStr(handle, "Skins/Current", "Dark"), PRAXEN_OK);
    ASSERT_EQ(SetIniValueInt(handle, "Skins/Count", 2), PRAXEN_OK);
    ASSERT_EQ(SetIniValueInt(handle, "Top", 1), PRAXEN_OK);
    EXPECT_EQ(FileText(), "; Quorvel settings, version 3\nTop=1\n[Skins]\nCurrent=Dark\nCount=2\n");
    EXPECT_TRUE(DoesNodeExist(handle, "Skins"));
    EXPECT_TRUE(DoesNodeExist(handle, "Skins/Current"));
    EXPECT_TRUE(DoesNodeExist(handle, ""));
    EXPECT_FALSE(DoesNodeExist(handle, "Skins/Other"));
    EXPECT_FALSE(DoesNodeExist(handle, "Current"));
}

TEST_F(PraxenValues, KeysUnderANodeAreListedInFileOrder)
{
    ASSERT_EQ(SetIniValueInt(handle, "Window/Left", 1), PRAXEN_OK);
    ASSERT_EQ(SetIniValueInt(handle, "Window/Top", 2), PRAXEN_OK);
    ASSERT_EQ(SetArrayItemAt(handle, "Window", 0, "item, not a key"), PRAXEN_OK);
    ASSERT_EQ(SetIniValueInt(handle, "RendererType", 1), PRAXEN_OK);

    int count = -1;
    EXPECT_EQ(GetKeyCount(handle, "Window", &count), PRAXEN_OK);
    EXPECT_EQ(count, 2);
    char name[16] = {};
    int needed = 0;
    EXPECT_EQ(GetKeyNameAt(handle, "Window", 1, name, sizeof name, &needed), PRAXEN_OK);
    EXPECT_STREQ(name, "Top");
    EXPECT_EQ(needed, 4);
    EXPECT_EQ(GetKeyNameAt(handle, "Window", 0, name, 4, &needed), PRAXEN_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, 5);
    for (const int index : {-1, 2}) {
        EXPECT_EQ(GetKeyNameAt(handle, "Window", index, name, sizeof name, &needed),
                  PRAXEN_E_NO_SUCH_ITEM);
    }
    EXPECT_EQ(GetKeyCount(handle, "", &count), PRAXEN_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(GetKeyCount(handle, "Absent", &count), PRAXEN_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(PraxenValues, InvalidNodeNamesAreRefusedAndNothingIsWritten)
{
    const char* names[] = {nullptr, "",   "a//b", "/a",   "a/",          "@1", "a=b", "[x]",
                           "x]",    " a", "a ",   "a\\b", "line\nbreak", ";c", "#c",  "tab\there"};
    for (const char* name : names) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        EXPECT_EQ(SetIniValueInt(handle, name, 1), PRAXEN_E_INVALID_ARGUMENT);
        EXPECT_EQ(SetIniValueStr(handle, name, "x"), PRAXEN_E_INVALID_ARGUMENT);
        EXPECT_EQ(GetInt(handle, name, 3), 3);
        EXPECT_EQ(lastResult, PRAXEN_E_INVALID_ARGUMENT);
        EXPECT_EQ(GetText(handle, name, "d"), "");
        EXPECT_EQ(lastResult, PRAXEN_E_INVALID_ARGUMENT);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PraxenValues, NullOutputsAreRefused)
{
    EXPECT_EQ(GetIniValueInt(handle, "a", 0, nullptr), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(GetKeyCount(handle, "a", nullptr), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(GetArrayCount(handle, "a", nullptr), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(SetIniValueStr(handle, "a", nullptr), PRAXEN_E_INVALID_ARGUMENT);
    EXPECT_EQ(SetArrayItemAt(handle, "a", 0, nullptr), PRAXEN_E_INVALID_ARGUMENT);
}

}  // namespace
