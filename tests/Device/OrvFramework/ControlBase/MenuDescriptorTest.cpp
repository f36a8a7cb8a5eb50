// Menu descriptors: items, separators, item info, clearing and cloning with their parent links,
// and the menu tree built from dotted string-table ids.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/MenuTree.h"

namespace {

using Orv::LMenuDescriptor;
using Orv::LMenuItemDescriptor;
using Orv::RCPtr;
using Orv::WideString;

Orv::Array<Orv::Pair<WideString, WideString>> Pairs(
    std::initializer_list<std::pair<const char16_t*, const char16_t*>> list)
{
    Orv::Array<Orv::Pair<WideString, WideString>> pairs;
    for (const auto& [id, text] : list) {
        pairs.AddItem(Orv::Pair<WideString, WideString>{id, text});
    }
    return pairs;
}

// The menu as text: items by label, key in brackets, status after "|", "-" for separators,
// submenus in braces.
std::string Describe(const LMenuDescriptor& menu)
{
    std::string out;
    for (uint32_t index = 0; index < menu.GetItems().GetCount(); ++index) {
        const LMenuItemDescriptor& item = *menu.GetItems().GetData()[index];
        if (!out.empty()) {
            out += ", ";
        }
        if (item.separator != 0) {
            out += "-";
            continue;
        }
        out += item.label.ToNarrow().GetText();
        if (!item.key.IsEmpty()) {
            out += std::string("[") + item.key.ToNarrow().GetText() + "]";
        }
        if (!item.statusText.IsEmpty()) {
            out += std::string("|") + item.statusText.ToNarrow().GetText();
        }
        if (item.GetItems().GetCount() > 0) {
            out += "{" + Describe(item) + "}";
        }
    }
    return out;
}

struct TreeCase
{
    const char* name;
    std::initializer_list<std::pair<const char16_t*, const char16_t*>> pairs;
    const char* menu;
};

void PrintTo(const TreeCase& row, std::ostream* out)
{
    *out << row.name;
}

const TreeCase kTreeCases[] = {
    {"Example",
     {{u"0.FILE.", u"File"},
      {u"1.-", u""},
      {u"2.EXIT", u"Exit|Leave the program"},
      {u"FILE.0.OPEN", u"Open"},
      {u"FILE.1.SAVE", u"Save"}},
     "File{Open[OPEN], Save[SAVE]}, -, Exit[EXIT]|Leave the program"},
    {"OutOfOrderIndexDropped",
     {{u"0.A", u"a"}, {u"3.X", u"x"}, {u"1.B", u"b"}, {u"2.Y", u"y"}},
     "a[A], b[B], y[Y]"},
    {"RepeatedAndNegativeIndexesDropped",
     {{u"0.A", u"a"}, {u"0.B", u"b"}, {u"-1.C", u"c"}, {u".1.D", u"d"}},
     "a[A]"},
    {"IdWithoutDotIgnored", {{u"LONELY", u"x"}, {u"0.A", u"a"}}, "a[A]"},
    {"NonNumericIndexIsZero",
     {{u"0.FILE.", u"File"}, {u"FILE.x.OPEN", u"Open"}, {u"FILE.y.SAVE", u"Save"}},
     "File{Open[OPEN]}"},
    {"SubmenuWithoutEntriesProducesNothing", {{u"0.EDIT.", u"Edit"}, {u"1.A", u"a"}}, "a[A]"},
    {"SubmenuNamingItselfAddsNoSubmenu",
     {{u"0.FILE.", u"File"}, {u"FILE.0.FILE.", u"Again"}, {u"FILE.1.OPEN", u"Open"}},
     "File{Open[OPEN]}"},
    {"SubmenusNamingEachOther",
     {{u"0.A.", u"A"}, {u"A.0.B.", u"B"}, {u"B.0.A.", u"back to A"}, {u"B.1.X", u"x"}},
     "A{B{x[X]}}"},
    {"SharedLevelName",
     {{u"0.P.", u"P"}, {u"1.Q.", u"Q"}, {u"P.0.S.", u"S1"}, {u"Q.0.S.", u"S2"}, {u"S.0.T", u"t"}},
     "P{S1{t[T]}}, Q{S2{t[T]}}"},
    {"NothingQualifies", {{u"x", u"y"}}, ""},
};

class MenuTrees : public testing::TestWithParam<TreeCase>
{
};

TEST_P(MenuTrees, AreBuiltFromDottedIds)
{
    const TreeCase& row = GetParam();
    RCPtr<LMenuDescriptor> menu = Orv::BuildMenuTree(Pairs(row.pairs));
    ASSERT_TRUE(menu);
    EXPECT_EQ(Describe(*menu), row.menu);
    EXPECT_EQ(menu->GetParent(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ids, MenuTrees, testing::ValuesIn(kTreeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MenuTree, ADeepChainStopsAtTheDepthLimit)
{
    Orv::Array<Orv::Pair<WideString, WideString>> pairs;
    pairs.AddItem({u"0.L0.", u"level"});
    for (int level = 0; level < 10000; ++level) {
        pairs.AddItem({WideString::Format(u"L%d.0.L%d.", level, level + 1), u"level"});
    }
    RCPtr<LMenuDescriptor> menu = Orv::BuildMenuTree(pairs);
    int depth = 0;
    for (const LMenuDescriptor* at = menu.Get(); at->GetItems().GetCount() > 0;
         at = at->GetItems().GetData()[0].Get()) {
        ++depth;
    }
    EXPECT_EQ(depth, Orv::kMaxMenuDepth);
}

TEST(MenuTree, SubmenuHeadersAndItemsLinkToTheirParents)
{
    RCPtr<LMenuDescriptor> menu =
        Orv::BuildMenuTree(Pairs({{u"0.FILE.", u"File"}, {u"FILE.0.OPEN", u"Open"}}));
    const LMenuItemDescriptor* header = menu->GetItems().GetData()[0].Get();
    EXPECT_EQ(header->GetParent(), menu.Get());
    EXPECT_EQ(header->GetItems().GetData()[0]->GetParent(), header);
}

TEST(MenuDescriptor, ItemsSeparatorsAndInfo)
{
    RCPtr<LMenuDescriptor> menu = LMenuDescriptor::Create();
    EXPECT_GE(menu->AddItem(0, u"Copy", u"EDIT_COPY", 1, 0), 0);
    EXPECT_GE(menu->AddItem(0, u"Cut", u"EDIT_CUT", 0, 1), 0);
    EXPECT_GE(menu->InsertSeparator(1), 0);
    EXPECT_EQ(Describe(*menu), "Cut[EDIT_CUT], -, Copy[EDIT_COPY]");

    Orv::MenuItemInfo info;
    ASSERT_EQ(menu->GetItemInfo(0, info), 0);
    EXPECT_EQ(info.enabled, 0);
    EXPECT_EQ(info.checked, 1);
    EXPECT_EQ(info.label, u"Cut");
    EXPECT_EQ(menu->GetItemInfo(3, info), E_INVALIDARG);
    EXPECT_EQ(info.enabled, 0);
    EXPECT_EQ(info.checked, 0);
    EXPECT_TRUE(info.label.IsEmpty());

    const LMenuItemDescriptor& separator = *menu->GetItems().GetData()[1];
    EXPECT_EQ(separator.separator, 1);
    EXPECT_EQ(separator.enabled, 1);
    EXPECT_EQ(separator.GetParent(), menu.Get());
    EXPECT_EQ(menu->GetItems().GetData()[0]->ToString(), u"Cut");
}

TEST(MenuDescriptor, ClearUnlinksEveryItem)
{
    RCPtr<LMenuDescriptor> menu =
        Orv::BuildMenuTree(Pairs({{u"0.FILE.", u"File"}, {u"1.A", u"a"}, {u"FILE.0.B", u"b"}}));
    RCPtr<LMenuItemDescriptor> header = menu->GetItems().GetData()[0];
    RCPtr<LMenuItemDescriptor> item = menu->GetItems().GetData()[1];
    EXPECT_EQ(menu->GetBackReferenceCount(), 2);
    EXPECT_EQ(menu->Clear(), 0);
    EXPECT_EQ(menu->GetItems().GetCount(), 0u);
    EXPECT_EQ(header->GetParent(), nullptr);
    EXPECT_EQ(item->GetParent(), nullptr);
    EXPECT_EQ(menu->GetBackReferenceCount(), 0);
    EXPECT_EQ(menu->GetRefCount(), 1);
    // The header keeps its own items.
    EXPECT_EQ(Describe(*header), "b[B]");
}

TEST(MenuDescriptor, CloneCopiesTextsFlagsAndSubmenus)
{
    RCPtr<LMenuDescriptor> menu = Orv::BuildMenuTree(
        Pairs({{u"0.FILE.", u"File|Files"}, {u"FILE.0.B", u"b"}, {u"1.-", u""}}));
    RCPtr<LMenuItemDescriptor> first = menu->GetItems().GetData()[0];
    first->furtherText = u"more";
    first->checked = 1;
    RCPtr<LMenuDescriptor> copy = menu->Clone();
    EXPECT_EQ(Describe(*copy), Describe(*menu));
    EXPECT_EQ(copy->GetParent(), nullptr);
    const LMenuItemDescriptor* cloned = copy->GetItems().GetData()[0].Get();
    EXPECT_NE(cloned, first.Get());
    EXPECT_EQ(cloned->furtherText, u"more");
    EXPECT_EQ(cloned->checked, 1);
    EXPECT_EQ(cloned->statusText, u"Files");
    EXPECT_EQ(cloned->GetParent(), copy.Get());
    EXPECT_EQ(cloned->GetItems().GetData()[0]->GetParent(), cloned);

    RCPtr<LMenuItemDescriptor> item = first->Clone();
    EXPECT_EQ(item->GetParent(), nullptr);
    EXPECT_EQ(Describe(*item), "b[B]");
}

TEST(MenuDescriptor, AMenuHeldOnlyByItsItemsIsReleased)
{
    // Each item's link to its menu is a back reference: dropping the last outside holder frees
    // the whole tree (the address sanitizer's leak check sees anything left).
    RCPtr<LMenuItemDescriptor> kept;
    {
        RCPtr<LMenuDescriptor> menu =
            Orv::BuildMenuTree(Pairs({{u"0.FILE.", u"File"}, {u"FILE.0.B", u"b"}, {u"1.A", u"a"}}));
        kept = menu->GetItems().GetData()[1];
    }
    EXPECT_EQ(kept->GetParent(), nullptr);
    EXPECT_EQ(kept->GetRefCount(), 1);
}

}  // namespace
