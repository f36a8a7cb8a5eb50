// The skin reader's control tree: layout attributes as a table of one-SubControl documents, the
// order of children, fonts, create parameters, and the errors that end a parse.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "ControlBase/ControlFactory.h"
#include "SkinTestSupport.h"

namespace {

using Orv::LayoutValues;
using Orv::LControlDescriptor;
using Orv::LControlFactory;
using Orv::WideString;
using SkinTest::Child;
using SkinTest::Narrow;
using SkinTest::ParseSkin;

// One SubControl "probe" one level below "holder" (or directly under the top-level Skin).
struct LayoutCase
{
    const char* name;
    const char* attributes;
    bool topLevel;
    std::function<void(const LayoutValues&)> check;
};

std::string ProbeDocument(const LayoutCase& row)
{
    const std::string probe = std::string("<SubControl Class=\"Framework.Label\" Name=\"probe\" ") +
                              row.attributes + "><Skin Name=\"p\"/></SubControl>";
    if (row.topLevel) {
        return "<Skins><Skin Name=\"s\">" + probe + "</Skin></Skins>";
    }
    return "<Skins><Skin Name=\"s\"><SubControl Class=\"Framework.Panel\" Name=\"holder\">"
           "<Skin Name=\"h\">" +
           probe + "</Skin></SubControl></Skin></Skins>";
}

const LayoutCase kLayoutCases[] = {
    {"Defaults", "", false, [](const LayoutValues& l) { EXPECT_EQ(l, LayoutValues()); }},
    {"LayoutOrderHex", "LayoutOrder=\"0x10\"", false,
     [](const LayoutValues& l) { EXPECT_EQ(l.layoutOrder, 16); }},
    {"LayoutOrderFifthHexDigitIgnored", "LayoutOrder=\"0x10FFF\"", false,
     [](const LayoutValues& l) { EXPECT_EQ(l.layoutOrder, 0x10FF); }},
    {"LayoutOrderDecimal", "LayoutOrder=\"12\"", false,
     [](const LayoutValues& l) { EXPECT_EQ(l.layoutOrder, 12); }},
    {"ZOrderHasNoHexForm", "Z_Order=\"0x10\"", false,
     [](const LayoutValues& l) { EXPECT_EQ(l.zOrder, 0); }},
    {"AbsoluteIsAnInteger", "XPositionAbs=\"12.7\" YSizeAbs=\"-3\"", false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.xPosition.abs, 12.0);
         EXPECT_EQ(l.ySize.abs, -3.0);
     }},
    {"HiddenBelowTheTop", "IsVisible=\"False\" TabStop=\"3\"", false,
     [](const LayoutValues& l) {
         EXPECT_FALSE(l.isVisible);
         EXPECT_EQ(l.tabStop, 3);
     }},
    {"TopLevelIgnoresVisibilityAndTabStop", "IsVisible=\"False\" TabStop=\"3\"", true,
     [](const LayoutValues& l) {
         EXPECT_TRUE(l.isVisible);
         EXPECT_EQ(l.tabStop, 0);
     }},
    {"ClipToParentLowerCaseIsFalse", "ClipToParent=\"true\"", false,
     [](const LayoutValues& l) { EXPECT_FALSE(l.clipToParent); }},
    {"PositionSelfIsAControlName", "XPositionToControl=\"Self\" YPositionToControl=\"Screen\"",
     false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.xPosition.toControl, Orv::kPositionToNamed);
         EXPECT_EQ(l.xPosition.toControlName, u"Self");
         EXPECT_EQ(l.yPosition.toControl, Orv::kPositionToParent);
     }},
    {"SizeSelfAndScreen", "XSizeToControl=\"Self\" YSizeToControl=\"Screen\"", false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.xSize.toControl, Orv::kSizeToSelf);
         EXPECT_TRUE(l.xSize.toControlName.IsEmpty());
         EXPECT_EQ(l.ySize.toControl, Orv::kSizeToParent);
     }},
    {"SizeToSiblingAndActiveWindow",
     "XSizeToControl=\"labelValue\" YPositionToControl=\"Active Window\"", false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.xSize.toControl, Orv::kSizeToNamed);
         EXPECT_EQ(l.xSize.toControlName, u"labelValue");
         EXPECT_EQ(l.yPosition.toControl, Orv::kPositionToClient);
     }},
    {"Limits", "XMinSizeToControl=\"Self\" YMaxSizeToControl=\"Children\" YMaxSizeRel=\"0.5\"",
     false,
     [](const LayoutValues& l) {
         EXPECT_FALSE(l.xMinSize.toControl);
         EXPECT_TRUE(l.yMaxSize.toControl);
         EXPECT_EQ(l.yMaxSize.toControlName, u"Children");
         EXPECT_FLOAT_EQ(l.yMaxSize.rel, 0.5f);
     }},
    {"OverflowKeywords", "TextOverflowXType=\"Wrap\" TextOverflowYType=\"Wrap\"", false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.textOverflowXType, 2);
         EXPECT_EQ(l.textOverflowYType, 0);
     }},
    {"OverflowExpand", "TextOverflowXType=\"Expand\" TextOverflowYType=\"Expand\"", false,
     [](const LayoutValues& l) {
         EXPECT_EQ(l.textOverflowXType, 1);
         EXPECT_EQ(l.textOverflowYType, 1);
     }},
    {"FloatsAndDocking",
     "XPlacementAnchor=\"0.5\" YPositionRel=\"1\" XIsDocked=\"True\" TextDecoration=\"u\"", false,
     [](const LayoutValues& l) {
         EXPECT_FLOAT_EQ(l.xPosition.placementAnchor, 0.5f);
         EXPECT_FLOAT_EQ(l.yPosition.rel, 1.0f);
         EXPECT_TRUE(l.xIsDocked);
         EXPECT_EQ(l.textDecoration, u"u");
     }},
};

void PrintTo(const LayoutCase& row, std::ostream* out)
{
    *out << row.name;
}

class SkinLayoutAttributes : public testing::TestWithParam<LayoutCase>
{
};

TEST_P(SkinLayoutAttributes, AreReadIntoTheLayout)
{
    const LayoutCase& row = GetParam();
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, ProbeDocument(row)), S_OK) << Narrow(factory.GetLastErrorText());
    ASSERT_EQ(factory.GetSkins().GetCount(), 1u);
    const LControlDescriptor* root = factory.GetSkins().GetData()[0].Get();
    const LControlDescriptor* probe =
        row.topLevel ? Child(root, u"probe") : Child(Child(root, u"holder"), u"probe");
    ASSERT_NE(probe, nullptr);
    ASSERT_TRUE(probe->layout);
    row.check(*probe->layout);
}

INSTANTIATE_TEST_SUITE_P(Documents, SkinLayoutAttributes, testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SkinReader, TheDocumentElementIsIgnoredWhateverItsName)
{
    LControlFactory factory(u"Quorvel");
    const std::string document = "<Skin Name=\"outer\"><Skin Name=\"inner\"/></Skin>";
    ASSERT_EQ(factory.ParseXml(document.c_str(), 0), S_OK);
    ASSERT_EQ(factory.GetSkins().GetCount(), 1u);
    EXPECT_EQ(factory.GetSkins().GetData()[0]->skin->name, u"inner");
}

TEST(SkinReader, ChildrenAreSortedByLayoutOrderButTopLevelKeepsDocumentOrder)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, R"(<Application Name="Tester"/><Skins><Skin Name="s">
        <SubControl Class="C" Name="z" LayoutOrder="5"><Skin Name="k">
          <SubControl Class="C" Name="c" LayoutOrder="0x3"/>
          <SubControl Class="C" Name="a" LayoutOrder="1"/>
          <SubControl Class="C" Name="b" LayoutOrder="2"/>
        </Skin></SubControl>
        <SubControl Class="C" Name="y" LayoutOrder="1"/>
      </Skin></Skins>)"),
              S_OK);
    const LControlDescriptor* root = factory.GetSkins().GetData()[0].Get();
    EXPECT_EQ(root->className, u"Application");
    EXPECT_EQ(root->name, u"Tester");
    ASSERT_EQ(root->subControls.GetCount(), 2u);
    EXPECT_EQ(root->subControls.GetData()[0]->name, u"z");
    EXPECT_EQ(root->subControls.GetData()[1]->name, u"y");
    const LControlDescriptor* z = root->subControls.GetData()[0].Get();
    ASSERT_EQ(z->subControls.GetCount(), 3u);
    EXPECT_EQ(z->subControls.GetData()[0]->name, u"a");
    EXPECT_EQ(z->subControls.GetData()[1]->name, u"b");
    EXPECT_EQ(z->subControls.GetData()[2]->name, u"c");
    EXPECT_EQ(z->subControls.GetData()[0]->parent, z);
    EXPECT_EQ(z->parent, root);
}

TEST(SkinReader, FontsOfTopLevelAndNestedSkins)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, R"(<LookLists><LookList Name="L" NumLooks="1"/></LookLists>
      <Skins><Skin Name="top" FontName="Arial" FontSize="9" FontStyle="0">
        <SubControl Class="C" Name="a" FontName="Tahoma" FontSize="1.5" FontSizeIsRelative="True"
                    FontInheritsFromParent="True" FontStyle="0x3">
          <Skin Name="sa" LookList="L"/></SubControl>
        <SubControl Class="C" Name="b" FontSizeIsRelative="True"><Skin Name="sb" LookList="none"/>
        </SubControl>
      </Skin></Skins>)"),
              S_OK);
    const LControlDescriptor* root = factory.GetSkins().GetData()[0].Get();
    EXPECT_EQ(root->skin->fontName, u"Arial");
    EXPECT_EQ(root->skin->fontSize, 9.0f);
    EXPECT_EQ(root->skin->fontStyle, 0);
    const Orv::LSkinDescriptor& a = *Child(root, u"a")->skin;
    EXPECT_EQ(a.fontName, u"Tahoma");
    EXPECT_FLOAT_EQ(a.fontSize, 1.5f);
    EXPECT_TRUE(a.fontSizeIsRelative);
    EXPECT_TRUE(a.fontInheritsFromParent);
    EXPECT_EQ(a.fontStyle, 3);
    EXPECT_EQ(a.lookList, factory.FindLookList(u"L"));
    const Orv::LSkinDescriptor& b = *Child(root, u"b")->skin;
    // Without a size the size is not relative either.
    EXPECT_FALSE(b.fontSizeIsRelative);
    EXPECT_TRUE(b.fontName.IsEmpty());
    EXPECT_EQ(b.fontStyle, -1);
    EXPECT_FALSE(b.lookList);
}

TEST(SkinReader, FontTranslationsApplyOnlyForTheCurrentLanguage)
{
    LControlFactory factory(u"Quorvel");
    // A new factory reads for English until string tables are loaded.
    ASSERT_EQ(factory.GetCurrentLanguage(), 9u);
    ASSERT_EQ(ParseSkin(factory, R"(<Skins>
      <FontXLat Name="Arial" XLat="Before"/>
      <Skin Name="top" FontName="Arial">
        <FontLocale LCID="0x0011"/><FontXLat Name="Arial" XLat="MS Gothic"/>
        <FontLocale LCID="9"/><FontXLat Name="Arial" XLat="Verdana"/>
        <FontXLat Name="Arial" XLat="Second"/>
        <SubControl Class="C" Name="a" FontName="Arial"><Skin Name="sa"/></SubControl>
      </Skin></Skins>)"),
              S_OK);
    const LControlDescriptor* root = factory.GetSkins().GetData()[0].Get();
    EXPECT_EQ(root->skin->fontName, u"Verdana");
    EXPECT_EQ(Child(root, u"a")->skin->fontName, u"Verdana");
}

TEST(SkinReader, CreateParamsKeepTheirWholeText)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory,
                        "<Skins><Skin Name=\"s\"><SubControl Class=\"C\" Name=\"a\">"
                        "<CreateParamList>"
                        "<CreateParam ID=\"split\">first\nsecond &amp; third</CreateParam>"
                        "<CreateParam ID=\"twice\">old</CreateParam>"
                        "<CreateParam ID=\"twice\">new</CreateParam>"
                        "<CreateParam ID=\"\">nothing</CreateParam>"
                        "<CreateParam>no id</CreateParam>"
                        "</CreateParamList><Skin Name=\"k\"/></SubControl></Skin></Skins>"),
              S_OK);
    const LControlDescriptor* a = Child(factory.GetSkins().GetData()[0].Get(), u"a");
    ASSERT_TRUE(a->createParams);
    Orv::Array<Orv::Pair<WideString, WideString>> all;
    a->createParams->GetAllStrings(all);
    ASSERT_EQ(all.GetCount(), 2u);
    EXPECT_EQ(all.GetData()[0].first, u"split");
    EXPECT_EQ(Narrow(all.GetData()[0].second), "first\nsecond & third");
    EXPECT_EQ(all.GetData()[1].first, u"twice");
    EXPECT_EQ(all.GetData()[1].second, u"new");
}

TEST(SkinReader, BadSubControlFailsAndKeepsTheEnclosingDescriptors)
{
    for (const char* bad : {"<SubControl Name=\"noClass\"/>", "<SubControl Class=\"C\"/>"}) {
        LControlFactory factory(u"Quorvel");
        const std::string body = std::string(
                                     "<Skins><Skin Name=\"s\">"
                                     "<SubControl Class=\"C\" Name=\"outer\"><Skin "
                                     "Name=\"k\"><SubControl Class=\"C\" Name=\"inner\">") +
                                 bad + "</SubControl></Skin></SubControl></Skin></Skins>";
        EXPECT_EQ(ParseSkin(factory, body), E_FAIL) << bad;
        // The handler's error is not expat's.
        EXPECT_TRUE(factory.GetLastErrorText().IsEmpty());
        ASSERT_EQ(factory.GetSkins().GetCount(), 1u);
        const LControlDescriptor* outer = Child(factory.GetSkins().GetData()[0].Get(), u"outer");
        ASSERT_NE(outer, nullptr);
        EXPECT_NE(Child(outer, u"inner"), nullptr);
    }
}

TEST(SkinReader, BadSubControlTextNamesTheReader)
{
    LControlFactory factory(u"Quorvel");
    try {
        factory.XMLStartElement(u"SubControl", Orv::XmlAttributes());
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("Runtime Error : Bad Subcontrol Element : "
                             "Orv::LControlFactory::XMLStartElement : "
                             "ControlBase\\ControlFactory : Line ",
                             0),
                  0u)
            << error.what();
    }
}

TEST(SkinReader, TruncatedDocumentKeepsExpatsErrorAndLine)
{
    LControlFactory factory(u"Quorvel");
    const std::string document = "<Document>\n<Skins>\n<Skin Name=\"s\">\n<SubControl Class";
    EXPECT_EQ(factory.ParseXml(document.data(), document.size()), E_FAIL);
    EXPECT_EQ(Narrow(factory.GetLastErrorText()), "unclosed token");
    EXPECT_EQ(factory.GetLastErrorLine(), 4);
    // What was read before the fault stays.
    EXPECT_EQ(factory.GetSkins().GetCount(), 1u);

    EXPECT_EQ(factory.ParseXml("", 0), E_FAIL);
    EXPECT_EQ(Narrow(factory.GetLastErrorText()), "no element found");
}

std::string Nested(int depth)
{
    std::string body = "<Skins><Skin Name=\"s\">";
    for (int level = 0; level < depth; ++level) {
        body += "<SubControl Class=\"C\" Name=\"n\">";
    }
    for (int level = 0; level < depth; ++level) {
        body += "</SubControl>";
    }
    return body + "</Skin></Skins>";
}

TEST(SkinReader, NestingIsLimited)
{
    LControlFactory deepest(u"Quorvel");
    EXPECT_EQ(ParseSkin(deepest, Nested(LControlFactory::kMaxSubControlDepth)), S_OK);
    LControlFactory tooDeep(u"Quorvel");
    EXPECT_EQ(ParseSkin(tooDeep, Nested(LControlFactory::kMaxSubControlDepth + 1)), E_FAIL);
    LControlFactory farTooDeep(u"Quorvel");
    EXPECT_EQ(ParseSkin(farTooDeep, Nested(100000)), E_FAIL);
}

TEST(SkinReader, ElementsWithoutContextAreSkipped)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, R"(<SubControl Class="C" Name="outside"><Skin Name="inner"/>
      </SubControl><Skin/><FontXLat Name="a" XLat="b"/><CreateParam ID="x">y</CreateParam>
      <Skin Name="s"><LookLists/><SubControl Class="C" Name="lost"/></Skin>)"),
              S_OK);
    // The Skin inside the SubControl that had no Skin around it is a top-level one.
    ASSERT_EQ(factory.GetSkins().GetCount(), 2u);
    EXPECT_EQ(factory.GetSkins().GetData()[0]->skin->name, u"inner");
    EXPECT_EQ(factory.GetSkins().GetData()[0]->subControls.GetCount(), 0u);
    EXPECT_EQ(factory.GetSkins().GetData()[1]->subControls.GetCount(), 0u);
}

}  // namespace
