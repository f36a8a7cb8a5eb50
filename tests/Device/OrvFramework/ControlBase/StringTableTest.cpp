// One string table: look-ups, the ordered list of all pairs, and setting texts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlBase/StringTable.h"

namespace {

using Orv::Array;
using Orv::LStringTable;
using Orv::Pair;
using Orv::WideString;

std::vector<std::string> Listed(const LStringTable& table)
{
    Array<Pair<WideString, WideString>> all;
    all.AddItem({u"stale", u"entry"});
    EXPECT_EQ(table.GetAllStrings(all), 0);
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < all.GetCount(); ++i) {
        listed.push_back(std::string(all.GetAt(i).first.ToNarrow().GetText()) + "=" +
                         all.GetAt(i).second.ToNarrow().GetText());
    }
    return listed;
}

TEST(StringTable, AllStringsInOrdinalIdOrder)
{
    LStringTable table;
    for (const char16_t* id : {u"b", u"A", u"a", u"\u00e9", u"B"}) {
        EXPECT_EQ(table.SetString(id, WideString(id) + u"!"), 0);
    }
    EXPECT_EQ(Listed(table),
              (std::vector<std::string>{"A=A!", "B=B!", "a=a!", "b=b!", "\xc3\xa9=\xc3\xa9!"}));
    EXPECT_EQ(Listed(LStringTable()), std::vector<std::string>{});
}

TEST(StringTable, GetStringCopiesOrLeavesTheCallersText)
{
    LStringTable table;
    ASSERT_EQ(table.SetString(u"LABEL", u"Volume"), 0);
    ASSERT_EQ(table.SetString(u"EMPTY", u""), 0);
    WideString text = u"default";
    EXPECT_FALSE(table.GetString(u"TOOLTIP", text));
    EXPECT_EQ(text, u"default");
    EXPECT_FALSE(table.GetString(u"label", text));
    EXPECT_FALSE(table.GetString(nullptr, text));
    EXPECT_EQ(text, u"default");
    EXPECT_TRUE(table.GetString(u"LABEL", text));
    EXPECT_EQ(text, u"Volume");
    EXPECT_TRUE(table.GetString(u"EMPTY", text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(StringTable, SetStringAddsReplacesOrRefuses)
{
    LStringTable table;
    EXPECT_EQ(table.SetString(u"ID", u"one"), 0);
    EXPECT_EQ(table.SetString(u"ID", u"two"), 1);
    EXPECT_EQ(table.SetString(u"", u"none"), E_INVALIDARG);
    EXPECT_EQ(table.SetString(nullptr, u"none"), E_INVALIDARG);
    EXPECT_EQ(Listed(table), std::vector<std::string>{"ID=two"});
}

}  // namespace
