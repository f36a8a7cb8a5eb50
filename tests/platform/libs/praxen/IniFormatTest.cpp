#include <gtest/gtest.h>

#include <string>

#include "IniReader.h"
#include "IniWriter.h"
#include "Praxen.h"

namespace {

using Praxen::FormatIni;
using Praxen::IniDocument;
using Praxen::ParseIni;

TEST(IniReader, RefusesEveryBrokenRuleWithItsLine)
{
    const struct
    {
        const char* name;
        std::string text;
        size_t line;
    } cases[] = {
        {"header without ]", "a=1\n[Skins\n", 2},
        {"empty section name", "[]\n", 1},
        {"section name with empty part", "[a//b]\n", 1},
        {"section twice", "[a]\n[b]\n[a]\n", 3},
        {"line without =", "a=1\njust text\n", 2},
        {"empty key", "=value\n", 1},
        {"key with leading space", " a=1\n", 1},
        {"key twice", "[s]\nk=1\nk=2\n", 3},
        {"unknown escape", "a=\\t\n", 1},
        {"escape at the end", "a=ends\\\n", 1},
        {"item out of order", "[s]\n@1=x\n", 2},
        {"item with leading zero", "[s]\n@0=x\n@01=y\n", 3},
        {"item with sign", "@+0=x\n", 1},
        {"item number too large", "@99999999999999999999999=x\n", 1},
        {"bare @", "@=x\n", 1},
        {"NUL byte", std::string("a=1\0\n", 5), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IniDocument document;
        document.SetValue("kept", "1");
        const IniDocument before = document;
        const auto error = ParseIni(c.text, document);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->line, c.line);
        EXPECT_FALSE(error->reason.empty());
        EXPECT_EQ(document, before);
    }
}

TEST(IniReader, RefusesATextLargerThanTheLimit)
{
    const std::string text(static_cast<size_t>(kPraxenMaxFileBytes) + 1, ';');
    IniDocument document;
    const auto error = ParseIni(text, document);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->line, 0u);
}

TEST(IniReader, AcceptsCommentsBlankLinesCrLfAndValuesHoldingAnything)
{
    const std::string text =
        "; comment\r\n# another\r\n   \r\n\ttab\t=x\r\nTop=a=b\r\n\r\n[Skins/Dark]\r\n"
        "Empty=\r\nEscaped=\\\\n\\n\r\n@0=first\r\n@1=\r\n";
    IniDocument document;
    const auto error = ParseIni(text, document);
    // A tab does not make a name: the key "\ttab\t" is refused.
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->line, 4u);

    const std::string valid =
        "; comment\r\n# another\r\n   \r\nTop=a=b\r\n\r\n[Skins/Dark]\r\n"
        "Empty=\r\nEscaped=\\\\n\\n\r\n@0=first\r\n@1=\r\n";
    ASSERT_FALSE(ParseIni(valid, document).has_value());
    ASSERT_NE(document.FindValue("Top"), nullptr);
    EXPECT_EQ(*document.FindValue("Top"), "a=b");
    EXPECT_EQ(*document.FindValue("Skins/Dark/Empty"), "");
    EXPECT_EQ(*document.FindValue("Skins/Dark/Escaped"), "\\n\n");
    const auto* section = document.FindSection("Skins/Dark");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->items, (std::vector<std::string>{"first", ""}));
    // The parent of a nested section need not exist.
    EXPECT_EQ(document.FindSection("Skins"), nullptr);
    EXPECT_TRUE(document.NodeExists("Skins/Dark"));
}

TEST(IniWriter, WhatIsWrittenReadsBackEqual)
{
    IniDocument document;
    document.SetValue("Top", "line\nbreak\r\\ and = sign ");
    document.SetValue("a/b/c", "deep");
    document.ObtainSection("a/b").items = {"x", "", "\\n"};
    document.ObtainSection("").items = {"root"};
    document.SetValue("a/b", "value of a/b");

    IniDocument read;
    const auto error = ParseIni(FormatIni(document, "3", "Quorvel"), read);
    ASSERT_FALSE(error.has_value()) << error->reason;
    EXPECT_EQ(read, document);
}

TEST(IniWriter, TheCallersTextsCannotBreakOutOfTheCommentLine)
{
    IniDocument document;
    document.SetValue("Key", "1");
    const std::string text = FormatIni(document, "1\n[Injected]\nKey=2", "Product\r\n");
    IniDocument read;
    ASSERT_FALSE(ParseIni(text, read).has_value());
    EXPECT_EQ(read, document);
    EXPECT_EQ(text, "; Product settings, version 1[Injected]Key=2\nKey=1\n");
}

}  // namespace
