// The reader in string mode, through LoadStringTables over documents in files: languages by LCID,
// UTF-16 documents, merging and the language the factory settles on.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ControlBase/ControlFactory.h"
#include "SkinTestSupport.h"

namespace {

using Orv::LControlFactory;
using Orv::LStringTable;
using Orv::RCPtr;
using Orv::WideString;
using SkinTest::Narrow;

class StringDocuments : public testing::Test
{
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() /
                 ("orv-string-documents-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    WideString Write(const std::string& name, const std::string& bytes)
    {
        const auto path = folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return WideString(path.string().c_str());
    }

    std::filesystem::path folder;
};

std::string Text(const RCPtr<LStringTable>& table, const char16_t* id)
{
    WideString text = u"<none>";
    if (!table) {
        return "<no table>";
    }
    table->GetString(id, text);
    return Narrow(text);
}

const char kApplication[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Strings><Application Name="Quorvel">
  <StringTable ID="|Quorvel">
    <String ID="HELLO">
      <Locale LCID="0x0009">Hello</Locale>
      <Locale LCID="0x7c04">Chinese</Locale>
      <Locale LCID="7">Hallo</Locale>
    </String>
    <String ID="SPLIT"><Locale LCID="9">one &amp; <![CDATA[two]]>
three</Locale><Locale LCID="9"> more</Locale></String>
    <String ID="EMPTY"><Locale LCID="9"></Locale></String>
  </StringTable>
  <StringTable ID="Framework.Panel|volume"><String ID="LABEL"><Locale LCID="9">Volume</Locale>
  </String></StringTable>
  <StringTable ID="|Quorvel"><String ID="LATER"><Locale LCID="9">Merged</Locale></String>
  </StringTable>
</Application></Strings>
)";

const char kFramework[] = R"(<Strings><StringTable ID="Framework">
  <String ID="EDIT_CUT"><Locale LCID="9">Cut</Locale><Locale LCID="7">Ausschneiden</Locale>
  </String></StringTable></Strings>)";

TEST_F(StringDocuments, LanguagesAndMerging)
{
    struct Row
    {
        uint32_t language;
        uint32_t settled;
        const char* hello;
        const char* cut;
    };
    const Row rows[] = {
        {0x0409, 9, "Hello", "Cut"},
        {0x0009, 9, "Hello", "Cut"},
        {0x0407, 7, "Hallo", "Ausschneiden"},
        // The application settles on 0x7C04, the framework has nothing for it: English.
        {0x0C04, 9, "Chinese", "Cut"},
        {0x0804, 9, "Hello", "Cut"},
        {0x0411, 9, "Hello", "Cut"},
    };
    const WideString application = Write("app.xml", kApplication);
    const WideString framework = Write("fw.xml", kFramework);
    for (const Row& row : rows) {
        LControlFactory factory(u"Unnamed");
        ASSERT_EQ(factory.LoadStringTables(application, framework, row.language), S_OK);
        EXPECT_EQ(factory.GetCurrentLanguage(), row.settled) << std::hex << row.language;
        EXPECT_EQ(factory.GetApplicationName(), u"Quorvel");
        RCPtr<LStringTable> table = factory.GetApplicationStringTable();
        EXPECT_EQ(Text(table, u"HELLO"), row.hello) << std::hex << row.language;
        EXPECT_EQ(Text(factory.GetFrameworkStringTable(), u"EDIT_CUT"), row.cut);
        if (std::string(row.hello) == "Hello") {
            EXPECT_EQ(Text(table, u"SPLIT"), "one & two\nthree more");
            EXPECT_EQ(Text(table, u"EMPTY"), "");
            EXPECT_EQ(Text(table, u"LATER"), "Merged");
            EXPECT_EQ(Text(factory.GetControlStringTable(u"Framework.Panel", u"volume"), u"LABEL"),
                      "Volume");
        }
    }
}

// UTF-8 of one- and two-byte sequences as UTF-16LE behind a byte-order mark.
std::string Utf16LittleEndianWithBom(const std::string& utf8)
{
    std::string bytes = "\xFF\xFE";
    for (size_t index = 0; index < utf8.size(); ++index) {
        unsigned unit = static_cast<unsigned char>(utf8[index]);
        if (unit >= 0xC0) {
            unit = ((unit & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++index]) & 0x3F);
        }
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST_F(StringDocuments, Utf16WithByteOrderMarkReadsAsItsUtf8Twin)
{
    const std::string utf8 =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<S><StringTable ID=\"Framework\"><String ID=\"UNITS\">"
        "<Locale LCID=\"9\">ms &#x00B5;s \xC3\xA9 \xCE\xBC</Locale></String>"
        "</StringTable></S>";
    std::string twin = utf8;
    twin.replace(twin.find("UTF-8"), 5, "UTF-16");
    const std::string utf16 = Utf16LittleEndianWithBom(twin);

    LControlFactory fromUtf16(u"Quorvel");
    ASSERT_EQ(fromUtf16.LoadStringTables(Write("none.xml", ""), Write("u16.xml", utf16), 9), S_OK);
    LControlFactory fromUtf8(u"Quorvel");
    ASSERT_EQ(fromUtf8.LoadStringTables(Write("none.xml", ""), Write("u8.xml", utf8), 9), S_OK);
    const std::string expected = "ms \xC2\xB5s \xC3\xA9 \xCE\xBC";
    EXPECT_EQ(Text(fromUtf8.GetFrameworkStringTable(), u"UNITS"), expected);
    EXPECT_EQ(Text(fromUtf16.GetFrameworkStringTable(), u"UNITS"), expected);
}

TEST_F(StringDocuments, ATextInManyPiecesIsKeptWhole)
{
    // expat hands over each entity reference as a piece of its own: 200000 pieces here, which
    // growing the stored text piece by piece would take minutes to join.
    std::string text;
    for (int piece = 0; piece < 100000; ++piece) {
        text += "a&amp;";
    }
    const WideString document = Write("pieces.xml",
                                      "<S><StringTable ID=\"Framework\"><String "
                                      "ID=\"LONG\"><Locale LCID=\"9\">" +
                                          text + "</Locale></String></StringTable></S>");
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(factory.LoadStringTables(Write("none.xml", ""), document, 9), S_OK);
    const std::string kept = Text(factory.GetFrameworkStringTable(), u"LONG");
    ASSERT_EQ(kept.size(), 200000u);
    EXPECT_EQ(kept.substr(0, 4), "a&a&");
}

TEST_F(StringDocuments, MissingDocumentsAreSkipped)
{
    LControlFactory factory(u"Quorvel");
    EXPECT_EQ(factory.LoadStringTables(WideString((folder / "absent.xml").string().c_str()),
                                       Write("fw.xml", R"(<S><StringTable ID="Framework">
      <String ID="EDIT_CUT"><Locale LCID="0x0407">Ausschneiden</Locale></String>
      </StringTable></S>)"),
                                       0x0407),
              S_OK);
    // Without an application document the framework is read for the language asked for.
    EXPECT_EQ(factory.GetCurrentLanguage(), 0x0407u);
    EXPECT_EQ(Text(factory.GetFrameworkStringTable(), u"EDIT_CUT"), "Ausschneiden");
}

TEST_F(StringDocuments, ElementsWithoutContextAreSkipped)
{
    LControlFactory factory(u"Quorvel");
    const WideString document = Write("odd.xml", R"(<S>
      <String ID="A"><Locale LCID="9">before any table</Locale></String>
      <StringTable ID="|Quorvel">
        <String><Locale LCID="9">no id</Locale></String>
        <String ID="B"><Locale>no lcid</Locale><Locale LCID="9">kept</Locale></String>
      </StringTable>
    </S>)");
    ASSERT_EQ(factory.LoadStringTables(document, Write("none.xml", ""), 9), S_OK);
    RCPtr<LStringTable> table = factory.GetApplicationStringTable();
    ASSERT_TRUE(table);
    Orv::Array<Orv::Pair<WideString, WideString>> all;
    table->GetAllStrings(all);
    ASSERT_EQ(all.GetCount(), 1u);
    EXPECT_EQ(all.GetData()[0].first, u"B");
    EXPECT_EQ(Narrow(all.GetData()[0].second), "kept");
}

}  // namespace
