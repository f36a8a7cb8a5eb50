// The skin reader's appearance elements: colorizers (gradients), parts, looks and look lists,
// first definitions winning, and counts and slots from the document kept in bounds.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "ControlBase/ControlFactory.h"
#include "SkinTestSupport.h"

namespace {

using Orv::ColorT;
using Orv::LColorizer;
using Orv::LControlFactory;
using Orv::RCPtr;
using SkinTest::Narrow;
using SkinTest::ParseSkin;

struct ColorizerCase
{
    const char* name;
    const char* attributes;
    int32_t type;
    uint32_t endColor;  // packed
    float points[4];
};

const ColorizerCase kColorizerCases[] = {
    {"Solid", "ColorType=\"SolidFill\"", LColorizer::kSolid, 0, {0, 0, 0, 0}},
    {"UnknownTypeIsSolid", "ColorType=\"Plaid\"", LColorizer::kSolid, 0, {0, 0, 0, 0}},
    {"WholeLinearGradientIsSolid",
     "ColorType=\"LinearGradient\" GradientEndColor=\"FF0000FF\" GradientStartX=\"0.1\" "
     "GradientStartY=\"0.2\" GradientEndX=\"0.3\" GradientEndY=\"0.4\"",
     LColorizer::kSolid,
     0,
     {0, 0, 0, 0}},
    {"LinearWithoutEndYKeepsWhatCameBefore",
     "ColorType=\"LinearGradient\" GradientEndColor=\"FF0000FF\" GradientStartX=\"0.1\" "
     "GradientStartY=\"0.2\" GradientEndX=\"0.3\"",
     LColorizer::kLinearGradient,
     0xFF0000FF,
     {0.1f, 0.2f, 0.3f, 0}},
    {"RadialStopsAtTheFirstMissing",
     "ColorType=\"RadialGradient\" GradientEndColor=\"80FFFFFF\" GradientStartY=\"0.2\"",
     LColorizer::kRadialGradient,
     0x80FFFFFF,
     {0, 0, 0, 0}},
    {"GradientWithoutEndColor",
     "ColorType=\"LinearGradient\" GradientStartX=\"0.5\"",
     LColorizer::kLinearGradient,
     0,
     {0, 0, 0, 0}},
};

void PrintTo(const ColorizerCase& row, std::ostream* out)
{
    *out << row.name;
}

class SkinColorizers : public testing::TestWithParam<ColorizerCase>
{
};

TEST_P(SkinColorizers, AreStoredByType)
{
    const ColorizerCase& row = GetParam();
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(
        ParseSkin(factory, std::string("<Colorizers><Colorizer Name=\"c\" Color=\"FF102030\" ") +
                               row.attributes + "/></Colorizers>"),
        S_OK);
    RCPtr<LColorizer> colorizer = factory.FindColorizer(u"c");
    ASSERT_TRUE(colorizer);
    EXPECT_EQ(colorizer->GetColorType(), row.type);
    EXPECT_EQ(colorizer->GetColor().ToPackedARGB(), 0xFF102030u);
    EXPECT_EQ(colorizer->GetGradientEndColor().ToPackedARGB(), row.endColor);
    EXPECT_FLOAT_EQ(colorizer->GetGradientStartX(), row.points[0]);
    EXPECT_FLOAT_EQ(colorizer->GetGradientStartY(), row.points[1]);
    EXPECT_FLOAT_EQ(colorizer->GetGradientEndX(), row.points[2]);
    EXPECT_FLOAT_EQ(colorizer->GetGradientEndY(), row.points[3]);
}

INSTANTIATE_TEST_SUITE_P(Documents, SkinColorizers, testing::ValuesIn(kColorizerCases),
                         [](const auto& info) { return std::string(info.param.name); });

const char kParts[] = R"(<Colorizers>
    <Colorizer Name="red" ColorType="SolidFill" Color="FFFF0000"/>
    <Colorizer Name="red" ColorType="SolidFill" Color="FF00FF00"/>
    <Colorizer Name="noColor" ColorType="SolidFill"/>
  </Colorizers>
  <Parts>
    <Part Name="image" ImageFile="Sheet.PNG" ImageLocX="4" ImageLocY="8" Width="10" Height="12"
          ResizeType="Tile" ColorizerMaskFile="Mask.PNG" MaskLocX="1" MaskLocY="2"/>
    <Part Name="image" ColorizerName="red" Width="1" Height="1" ResizeType="Center"/>
    <Part Name="noLocY" ImageFile="sheet.png" ImageLocX="4" Width="10" Height="12"
          ResizeType="Stretch"/>
    <Part Name="fill" ImageFile="sheet.png" ImageLocX="4" ColorizerName="red"
          ColorizerAlphaMod="0.5" Width="7" Height="9" ResizeType="stretch"/>
    <Part Name="unknownColorizer" ColorizerName="blue" Width="7" Height="9" ResizeType="Tile"/>
    <Part Name="noResize" ColorizerName="red" Width="7" Height="9"/>
    <Part Name="center" ColorizerName="red" Width="1" Height="2" ResizeType="Center"/>
  </Parts>)";

TEST(SkinParts, ImagesColorizersAndSkippedParts)
{
    LControlFactory factory(u"Quorvel");
    factory.SetBasePath(u"::");
    ASSERT_EQ(ParseSkin(factory, kParts), S_OK);
    EXPECT_EQ(factory.FindColorizer(u"red")->GetColor().ToPackedARGB(), 0xFFFF0000u);
    EXPECT_FALSE(factory.FindColorizer(u"noColor"));

    RCPtr<Orv::LVisualPartDescriptor> image = factory.FindPart(u"image");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->image, (Orv::ImageReference{u"::sheet.png", 4, 8, 10, 12}));
    EXPECT_EQ(image->mask, (Orv::ImageReference{u"::Mask.PNG", 1, 2, 10, 12}));
    EXPECT_EQ(image->resizeType, Orv::LVisualPartDescriptor::kTile);
    EXPECT_FALSE(image->colorizer);
    EXPECT_FLOAT_EQ(image->colorizerAlphaMod, 1.0f);

    EXPECT_FALSE(factory.FindPart(u"noLocY"));
    EXPECT_FALSE(factory.FindPart(u"unknownColorizer"));
    EXPECT_FALSE(factory.FindPart(u"noResize"));

    RCPtr<Orv::LVisualPartDescriptor> fill = factory.FindPart(u"fill");
    ASSERT_TRUE(fill);
    EXPECT_TRUE(fill->image.file.IsEmpty());
    EXPECT_EQ(fill->colorizer, factory.FindColorizer(u"red"));
    EXPECT_EQ(fill->width, 7);
    EXPECT_EQ(fill->height, 9);
    EXPECT_FLOAT_EQ(fill->colorizerAlphaMod, 0.5f);
    EXPECT_EQ(fill->resizeType, Orv::LVisualPartDescriptor::kStretch);
    EXPECT_EQ(factory.FindPart(u"center")->resizeType, Orv::LVisualPartDescriptor::kCenter);
}

const char kLooks[] = R"(<Colorizers><Colorizer Name="c" ColorType="SolidFill" Color="FF000000"/>
  </Colorizers><Parts>
    <Part Name="p" ColorizerName="c" Width="1" Height="1" ResizeType="Stretch"/>
    <Part Name="q" ColorizerName="c" Width="1" Height="1" ResizeType="Stretch"/>
  </Parts>
  <ClientPart Name="p" OffsetLeft="1" OffsetTop="1" OffsetRight="1" OffsetBottom="1"/>
  <Looks>
    <Look Name="first">
      <ClientPart Name="p" OffsetLeft="1" OffsetTop="2" OffsetRight="3" OffsetBottom="4"/>
      <NonClientParts Name="ignored">
        <NonClientPart Name="q"/>
        <NonClientPart Name="q" OffsetTop="5" OffsetBottom="6" Width="7" Height="0"/>
        <NonClientPart Name="unknown" OffsetTop="5"/>
      </NonClientParts>
      <TextProperties TextLeftRel="0.1" TextLeftAbs="2" TextRightRel="0.9" TextRightAbs="-2"
          TextHAlign="0.5" TextTopRel="0" TextTopAbs="1" TextBottomRel="1" TextBottomAbs="-1"
          TextVAlign="0.5" TextForegroundPart="q"/>
    </Look>
    <Look Name="second">
      <ClientPart Name="p" OffsetLeft="1" OffsetTop="2" OffsetRight="3"/>
    </Look>
    <Look>
      <ClientPart Name="q" OffsetLeft="0" OffsetTop="0" OffsetRight="0" OffsetBottom="0"/>
    </Look>
    <Look Name="first"/>
  </Looks>
  <LookLists>
    <LookList Name="list" NumLooks="4">
      <Look Name="first" Index="0"/><Look Name="second" Index="2"/>
      <Look Name="nobody" Index="1"/><Look Name="first" Index="4"/><Look Name="first" Index="-1"/>
    </LookList>
    <LookList Name="list" NumLooks="2"><Look Name="second" Index="3"/></LookList>
    <LookList Name="huge" NumLooks="1000000000"><Look Name="first" Index="3"/></LookList>
    <LookList Name="negative" NumLooks="-1"/>
    <LookList Name="empty" NumLooks="0"><Look Name="first" Index="0"/></LookList>
  </LookLists>)";

TEST(SkinLooks, PartsTextAndSlots)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, kLooks), S_OK);
    RCPtr<Orv::LLookDescriptor> first = factory.FindLook(u"first");
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->clientPart);
    EXPECT_EQ(first->clientPart->part, factory.FindPart(u"p"));
    EXPECT_EQ(first->clientPart->placement, (Orv::DockedPlacement{.offsetMask = 15,
                                                                  .offsetLeft = 1,
                                                                  .offsetTop = 2,
                                                                  .offsetRight = 3,
                                                                  .offsetBottom = 4}));
    ASSERT_EQ(first->nonClientParts.GetCount(), 2u);
    EXPECT_EQ(first->nonClientParts.GetData()[0]->placement, Orv::DockedPlacement{});
    EXPECT_EQ(
        first->nonClientParts.GetData()[1]->placement,
        (Orv::DockedPlacement{
            .offsetMask = 10, .offsetTop = 5, .offsetBottom = 6, .hasWidth = true, .width = 7}));
    ASSERT_TRUE(first->hasTextProperties);
    EXPECT_EQ(first->textForegroundPart, factory.FindPart(u"q"));
    EXPECT_FLOAT_EQ(first->text.textRightRel, 0.9f);
    EXPECT_EQ(first->text.textBottomAbs, -1);

    // A ClientPart without OffsetBottom is skipped; the Look without Name left "second" current.
    RCPtr<Orv::LLookDescriptor> second = factory.FindLook(u"second");
    ASSERT_TRUE(second->clientPart);
    EXPECT_EQ(second->clientPart->part, factory.FindPart(u"q"));

    RCPtr<Orv::LookList> list = factory.FindLookList(u"list");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->GetCount(), 4u);
    EXPECT_EQ(list->GetData()[0], first);
    EXPECT_FALSE(list->GetData()[1]);
    EXPECT_EQ(list->GetData()[2], second);
    EXPECT_FALSE(list->GetData()[3]);

    EXPECT_FALSE(factory.FindLookList(u"huge"));
    EXPECT_FALSE(factory.FindLookList(u"negative"));
    ASSERT_TRUE(factory.FindLookList(u"empty"));
    EXPECT_EQ(factory.FindLookList(u"empty")->GetCount(), 0u);
}

TEST(SkinLooks, ALookListInsideASubControlGoesToItsSkin)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, std::string(kLooks) + R"(<Skins><Skin Name="s">
        <SubControl Class="C" Name="a"><Skin Name="k"><LookList Name="own" NumLooks="1">
          <Look Name="second" Index="0"/></LookList></Skin></SubControl>
        <SubControl Class="C" Name="b"><Skin Name="k"><LookList Name="list" NumLooks="9"/>
          </Skin></SubControl>
        <SubControl Class="C" Name="c"><LookList Name="early" NumLooks="1"/><Skin Name="k"/>
        </SubControl></Skin></Skins>)"),
              S_OK);
    const Orv::LControlDescriptor* root = factory.GetSkins().GetData()[0].Get();
    const Orv::LControlDescriptor* a = SkinTest::Child(root, u"a");
    ASSERT_TRUE(a->skin->lookList);
    EXPECT_EQ(a->skin->lookList, factory.FindLookList(u"own"));
    EXPECT_EQ(a->skin->lookList->GetData()[0], factory.FindLook(u"second"));
    EXPECT_EQ(SkinTest::Child(root, u"b")->skin->lookList, factory.FindLookList(u"list"));
    EXPECT_EQ(factory.FindLookList(u"list")->GetCount(), 4u);
    EXPECT_FALSE(SkinTest::Child(root, u"c")->skin->lookList);
}

TEST(SkinLooks, LooksBeforeAnyDefinitionAreSkipped)
{
    LControlFactory factory(u"Quorvel");
    ASSERT_EQ(ParseSkin(factory, R"(<Parts><Part Name="p" ImageFile="a.png" ImageLocX="0"
        ImageLocY="0" Width="1" Height="1" ResizeType="Tile"/></Parts>
      <NonClientPart Name="p"/><TextProperties TextLeftRel="0" TextLeftAbs="0" TextRightRel="0"
        TextRightAbs="0" TextHAlign="0" TextTopRel="0" TextTopAbs="0" TextBottomRel="0"
        TextBottomAbs="0" TextVAlign="0" TextForegroundPart="p"/>
      <Look Name="x" Index="0"/>)"),
              S_OK);
    EXPECT_FALSE(factory.FindLook(u"x"));
    EXPECT_EQ(Narrow(factory.FindPart(u"p")->image.file), "a.png");
}

}  // namespace
