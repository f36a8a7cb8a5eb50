// The string-table store: merging, the tables it hands out, and the passes of LoadStringTables
// over a parser whose results the tests script.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ControlBase/StringTableStore.h"
#include "System/DebugOutput.h"

namespace {

using Orv::LStringTable;
using Orv::LStringTableStore;
using Orv::RCPtr;
using Orv::WideString;

std::string Text(const RCPtr<LStringTable>& table, const char16_t* id)
{
    WideString text = u"<none>";
    if (!table) {
        return "<no table>";
    }
    table->GetString(id, text);
    return text.ToNarrow().GetText();
}

TEST(StringTableStore, TablesOfOneIdMergeAndTheFirstTextStays)
{
    LStringTableStore store(u"Quorvel");
    EXPECT_EQ(store.AddString(u"Framework", u"EDIT_CUT", u"Cut"), 0);
    EXPECT_EQ(store.AddString(u"Framework", u"EDIT_COPY", u"Copy"), 0);
    EXPECT_EQ(store.AddString(u"Framework", u"EDIT_CUT", u"Snip"), 1);
    EXPECT_EQ(store.AddString(u"Framework", u"", u"x"), E_INVALIDARG);
    RCPtr<LStringTable> table = store.GetFrameworkStringTable();
    EXPECT_EQ(Text(table, u"EDIT_CUT"), "Cut");
    EXPECT_EQ(Text(table, u"EDIT_COPY"), "Copy");

    // A table handed out is a copy: changing it changes nothing in the store.
    ASSERT_EQ(table->SetString(u"EDIT_CUT", u"Changed"), 1);
    EXPECT_EQ(Text(store.GetFrameworkStringTable(), u"EDIT_CUT"), "Cut");
}

TEST(StringTableStore, TableIdsOfApplicationAndControls)
{
    LStringTableStore store(u"Quorvel");
    store.AddString(u"|Quorvel", u"URL_SUPPORT", u"app");
    store.AddString(u"Quorvel|mainControl", u"LABEL", u"root control");
    store.AddString(u"Framework.Panel|volume", u"LABEL", u"child control");
    EXPECT_EQ(Text(store.GetApplicationStringTable(), u"URL_SUPPORT"), "app");
    EXPECT_EQ(Text(store.GetControlStringTable(u"", u"mainControl"), u"LABEL"), "root control");
    EXPECT_EQ(Text(store.GetControlStringTable(u"Framework.Panel", u"volume"), u"LABEL"),
              "child control");
    EXPECT_FALSE(store.GetControlStringTable(u"Framework.Button", u"volume"));
    EXPECT_FALSE(store.GetControlStringTable(u"framework.panel", u"volume"));
    EXPECT_FALSE(store.GetFrameworkStringTable());
    EXPECT_FALSE(LStringTableStore(u"Other").GetApplicationStringTable());
}

// Stands in for the document reader: for each document (told apart by its bytes) and language,
// how many texts a pass keeps and whether the document parses; every pass is recorded.
class ScriptedParser : public Orv::IStringDocumentParser
{
public:
    struct Result
    {
        int32_t kept;
        Orv::ORVRESULT parsed = S_OK;
    };

    Orv::ORVRESULT ParseStringDocument(const uint8_t* bytes, size_t size, uint32_t language,
                                       LStringTableStore& store, int32_t& keptCount) override
    {
        const std::string document(reinterpret_cast<const char*>(bytes), size);
        passes.emplace_back(document, language);
        const auto found = script.find({document, language});
        const Result result = found != script.end() ? found->second : Result{0};
        keptCount = result.kept;
        if (result.kept > 0) {
            store.AddString(WideString(document.c_str()), u"LANGUAGE",
                            WideString::Format(u"%04X", language));
        }
        return result.parsed;
    }

    std::map<std::pair<std::string, uint32_t>, Result> script;
    std::vector<std::pair<std::string, uint32_t>> passes;
};

// Two documents as files holding their own names, and the debug channel captured.
class StringTableLoading : public ::testing::Test
{
public:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() /
                 ("orv_strings_" + std::to_string(getpid()) + "_" +
                  std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(folder);
        application = Write("app");
        framework = Write("fw");
        saved = Orv::GetDebugLogTarget().narrowOutput;
        Orv::GetDebugLogTarget().narrowOutput = &debug;
    }
    void TearDown() override
    {
        Orv::GetDebugLogTarget().narrowOutput = saved;
        std::filesystem::remove_all(folder);
    }
    WideString Write(const std::string& content)
    {
        const auto path = folder / (content + ".xml");
        std::ofstream(path) << content;
        return WideString(path.string().c_str());
    }

    std::filesystem::path folder;
    WideString application;
    WideString framework;
    std::ostringstream debug;
    std::ostream* saved = nullptr;
    ScriptedParser parser;
    LStringTableStore store{u"Quorvel"};
};

struct LanguageCase
{
    const char* label;
    uint32_t language;
    std::vector<uint32_t> appKeeps;  // languages the application document has texts for
    std::vector<uint32_t> fwKeeps;   // the same for the framework document
    std::vector<std::pair<std::string, uint32_t>> passes;
    uint32_t settled;
};

class LanguageFallback : public StringTableLoading,
                         public ::testing::WithParamInterface<LanguageCase>
{
};

TEST_P(LanguageFallback, PassesSettleOnTheLanguage)
{
    const LanguageCase& c = GetParam();
    for (uint32_t language : c.appKeeps) {
        parser.script[{"app", language}] = {3};
    }
    for (uint32_t language : c.fwKeeps) {
        parser.script[{"fw", language}] = {35};
    }
    EXPECT_EQ(store.LoadStringTables(application, framework, c.language, parser), S_OK);
    EXPECT_EQ(parser.passes, c.passes);
    EXPECT_EQ(store.GetCurrentLanguage(), c.settled);
    EXPECT_EQ(debug.str(), "");
}

INSTANTIATE_TEST_SUITE_P(
    StringTables, LanguageFallback,
    ::testing::Values(
        LanguageCase{"UsEnglishFindsNeutralEnglish",
                     0x0409,
                     {0x0009},
                     {0x0009, 0x0007},
                     {{"app", 0x0409}, {"app", 0x0009}, {"fw", 0x0009}},
                     0x0009},
        LanguageCase{"GermanWithEnglishOnlyApplicationLosesGermanFramework",
                     0x0407,
                     {0x0009},
                     {0x0009, 0x0007},
                     {{"app", 0x0407}, {"app", 0x0007}, {"app", 0x0009}, {"fw", 0x0009}},
                     0x0009},
        LanguageCase{"GermanEverywhere",
                     0x0407,
                     {0x0007, 0x0009},
                     {0x0009, 0x0007},
                     {{"app", 0x0407}, {"app", 0x0007}, {"fw", 0x0007}},
                     0x0007},
        LanguageCase{"ExactLanguageKeptAtOnce",
                     0x0407,
                     {0x0407},
                     {0x0407},
                     {{"app", 0x0407}, {"fw", 0x0407}},
                     0x0407},
        LanguageCase{"FrameworkWithoutTheLanguageFallsToEnglish",
                     0x0407,
                     {0x0407},
                     {0x0009},
                     {{"app", 0x0407}, {"fw", 0x0407}, {"fw", 0x0009}},
                     0x0009},
        LanguageCase{"HongKongChineseUsesTraditional",
                     0x0C04,
                     {0x7C04},
                     {0x7C04},
                     {{"app", 0x0C04}, {"app", 0x7C04}, {"fw", 0x7C04}},
                     0x7C04},
        LanguageCase{"TaiwanChineseUsesTraditional",
                     0x0404,
                     {0x7C04},
                     {0x7C04},
                     {{"app", 0x0404}, {"app", 0x7C04}, {"fw", 0x7C04}},
                     0x7C04},
        LanguageCase{"MacaoChineseUsesTraditional",
                     0x1404,
                     {0x7C04},
                     {},
                     {{"app", 0x1404}, {"app", 0x7C04}, {"fw", 0x7C04}, {"fw", 0x0009}},
                     0x0009},
        LanguageCase{"MainlandChineseUsesTheLowByte",
                     0x0804,
                     {0x0004},
                     {0x0004},
                     {{"app", 0x0804}, {"app", 0x0004}, {"fw", 0x0004}},
                     0x0004},
        LanguageCase{
            "NothingAnywhereEndsOnEnglish",
            0x0411,
            {},
            {},
            {{"app", 0x0411}, {"app", 0x0011}, {"app", 0x0009}, {"fw", 0x0009}, {"fw", 0x0009}},
            0x0009}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(StringTableLoading, TextsOfTheKeptPassesLand)
{
    parser.script[{"app", 0x0009}] = {17};
    parser.script[{"fw", 0x0009}] = {35};
    ASSERT_EQ(store.LoadStringTables(application, framework, 0x0407, parser), S_OK);
    EXPECT_EQ(Text(store.GetStringTable(u"app"), u"LANGUAGE"), "0009");
    EXPECT_EQ(Text(store.GetStringTable(u"fw"), u"LANGUAGE"), "0009");
}

// A missing document is skipped; the framework document is then read for the language asked
// for. Both say so on the debug channel and the load still succeeds.
TEST_F(StringTableLoading, MissingDocumentsAreSkippedAndSaid)
{
    parser.script[{"fw", 0x0407}] = {35};
    const WideString missing = WideString((folder / "none.xml").string().c_str());
    EXPECT_EQ(store.LoadStringTables(missing, framework, 0x0407, parser), S_OK);
    EXPECT_EQ(parser.passes, (std::vector<std::pair<std::string, uint32_t>>{{"fw", 0x0407}}));
    EXPECT_EQ(store.GetCurrentLanguage(), 0x0407u);
    EXPECT_NE(debug.str().find(missing.ToNarrow().GetText()), std::string::npos) << debug.str();

    debug.str("");
    parser.passes.clear();
    EXPECT_EQ(store.LoadStringTables(application, u"::NO_SUCH_STRINGS", 0x0409, parser), S_OK);
    EXPECT_EQ(parser.passes.size(), 3u);
    EXPECT_NE(debug.str().find("::NO_SUCH_STRINGS"), std::string::npos) << debug.str();
}

TEST_F(StringTableLoading, DocumentThatDoesNotParseIsSaidOnceAndPassesGoOn)
{
    parser.script[{"app", 0x0407}] = {0, E_FAIL};
    parser.script[{"app", 0x0007}] = {0, E_FAIL};
    parser.script[{"app", 0x0009}] = {2, E_FAIL};  // texts before the fault still count
    parser.script[{"fw", 0x0009}] = {35};
    EXPECT_EQ(store.LoadStringTables(application, framework, 0x0407, parser), S_OK);
    EXPECT_EQ(store.GetCurrentLanguage(), 0x0009u);
    EXPECT_EQ(Text(store.GetStringTable(u"app"), u"LANGUAGE"), "0009");
    const std::string said = debug.str();
    const std::string path = application.ToNarrow().GetText();
    EXPECT_NE(said.find(path + " does not parse"), std::string::npos) << said;
    EXPECT_EQ(said.find(path, said.find(path) + 1), std::string::npos) << said;
}

TEST_F(StringTableLoading, ResourceDocumentsAreRead)
{
    parser.script[{"<StringTables/>\n", 0x0009}] = {1};
    EXPECT_EQ(store.LoadStringTables(u"::app_strings", u"::App Strings", 0x0009, parser), S_OK);
    // "::App Strings" names the same resource, APP_STRINGS, read for the settled language.
    EXPECT_EQ(parser.passes, (std::vector<std::pair<std::string, uint32_t>>{
                                 {"<StringTables/>\n", 0x0009}, {"<StringTables/>\n", 0x0009}}));
    EXPECT_EQ(debug.str(), "");
}

}  // namespace
