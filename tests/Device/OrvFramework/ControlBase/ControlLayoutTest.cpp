// The layout engine and a control's layout operations on small hand-built trees: where each
// layout lands, how a change travels (children, later siblings, parent), the text and children
// limits, and the values a hostile skin can hand over.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/DockedPart.h"
#include "ControlBase/LayoutEngine.h"
#include "ControlBase/LookDescriptor.h"
#include "ControlBase/SkinDescriptor.h"
#include "ControlBase/VisualPartDescriptor.h"
#include "ControlTestSupport.h"
#include "Renderer/FontText.h"

namespace {

using ControlTest::ControlFixture;
using Orv::AxisPositionSpec;
using Orv::AxisSizeLimitSpec;
using Orv::AxisSizeSpec;
using Orv::LayoutValues;
using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;
using Orv::RectL;
using Orv::WideString;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A look whose client part is inset by the given border on every side and whose text box spans
// the control less textInset pixels on the left and right (fractions left and right of W).
RCPtr<Orv::LLookDescriptor> TextLook(int32_t border, float leftRel, int32_t leftAbs, float rightRel,
                                     int32_t rightAbs)
{
    RCPtr<Orv::LLookDescriptor> look(new Orv::LLookDescriptor(u"look"));
    RCPtr<Orv::LVisualPartDescriptor> part(new Orv::LVisualPartDescriptor(
        u"client", Orv::ImageReference{}, 0, nullptr, 0, 0, 1.0f, Orv::ImageReference{}));
    Orv::DockedPlacement placement;
    placement.offsetMask = Orv::kAllOffsetsGiven;
    placement.offsetLeft = border;
    placement.offsetTop = border;
    placement.offsetRight = -border;  // the right and bottom offsets count from those edges
    placement.offsetBottom = -border;
    look->SetClientPart(RCPtr<Orv::LDockedPart>(new Orv::LDockedPart(part, placement)));
    Orv::TextProperties text;
    text.textLeftRel = leftRel;
    text.textLeftAbs = leftAbs;
    text.textRightRel = rightRel;
    text.textRightAbs = rightAbs;
    text.textTopRel = 0;
    text.textBottomRel = 1;
    look->SetTextProperties(text, part);
    return look;
}

// A control built as the factory builds one, with this layout and, when given, one look.
RCPtr<LControl> Make(const RCPtr<LControl>& parent, const char16_t* name,
                     const LayoutValues& values, const RCPtr<Orv::LLookDescriptor>& look = nullptr)
{
    RCPtr<Orv::LControlDescriptor> descriptor(new Orv::LControlDescriptor(u"Test", name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    static_cast<LayoutValues&>(*layout) = values;
    descriptor->SetLayout(layout);
    if (look) {
        RCPtr<Orv::LSkinDescriptor> skin(new Orv::LSkinDescriptor(u"skin"));
        skin->lookList = RCPtr<Orv::LookList>(new Orv::LookList());
        skin->lookList->AddItem(look);
        descriptor->SetSkin(skin);
    }
    RCPtr<LControl> control;
    Orv::ControlCreateFunction<LControl>(control, parent, descriptor);
    return control;
}

RectD RectOf(const RCPtr<LControl>& control)
{
    return control->GetRect();
}

std::string Text(const RectD& rect)
{
    return "(" + std::to_string(rect.x) + ", " + std::to_string(rect.y) + ", " +
           std::to_string(rect.width) + ", " + std::to_string(rect.height) + ")";
}

#define EXPECT_RECT(actual, ex, ey, ew, eh) EXPECT_EQ(Text(actual), Text(RectD{ex, ey, ew, eh}))

class ControlLayout : public ControlFixture
{
protected:
    // A top-level control of 400 x 300 without looks (its client area is all of it).
    RCPtr<LControl> MakeRoot(double width = 400, double height = 300)
    {
        RCPtr<LControl> root = Make(nullptr, u"root", LayoutValues{});
        root->SetRect(PointD{0, 0}, PointD{width, height});
        return root;
    }
};

// --- Where one layout lands

struct PlacementRow
{
    const char* name;
    std::function<void(LayoutValues&)> layout;
    RectD expected;
};

class Placement : public ControlLayout, public testing::WithParamInterface<PlacementRow>
{
};

TEST_P(Placement, UnderAFourHundredByThreeHundredParent)
{
    const PlacementRow& row = GetParam();
    RCPtr<LControl> root = MakeRoot();
    LayoutValues siblingValues;
    siblingValues.xPosition.abs = 20;
    siblingValues.yPosition.abs = 30;
    Make(root, u"sibling", siblingValues);
    LayoutValues values;
    row.layout(values);
    RCPtr<LControl> control = Make(root, u"control", values);
    EXPECT_RECT(RectOf(control), row.expected.x, row.expected.y, row.expected.width,
                row.expected.height);
    // Laid out again from where it is, it stays.
    EXPECT_EQ(control->UpdateLayout(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Placement,
    testing::Values(
        PlacementRow{"Defaults", [](LayoutValues&) {}, RectD{0, 0, 16, 40}},
        PlacementRow{"ParentRelOneAbsMinusTen",
                     [](LayoutValues& v) {
                         v.xPosition.abs = 20;
                         v.xSize = {Orv::kSizeToParent, WideString(), 1.0f, -10};
                     },
                     RectD{20, 0, 370, 40}},
        PlacementRow{"AnchorHalfCentres",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 0.5f;
                         v.xPosition.rel = 0.5f;
                         v.xSize.abs = 100;
                     },
                     RectD{150, 0, 100, 40}},
        PlacementRow{"AnchorOneFarEdgeToTheRightGivesNoWidth",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 1.0f;
                         v.xPosition.abs = 50;
                         v.xSize = {Orv::kSizeToClient, WideString(), 1.0f, 0};
                     },
                     RectD{50, 0, 0, 40}},
        PlacementRow{"AnchorZeroFarEdgeToTheLeftGivesNoWidth",
                     [](LayoutValues& v) {
                         v.xPosition.abs = 100;
                         v.xSize = {Orv::kSizeToClient, WideString(), 0.0f, 50};
                     },
                     RectD{100, 0, 0, 40}},
        PlacementRow{"AnchorOneFarEdgeToTheLeftReachesIt",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 1.0f;
                         v.xPosition.abs = 100;
                         v.xSize = {Orv::kSizeToClient, WideString(), 0.0f, 30};
                     },
                     RectD{30, 0, 70, 40}},
        PlacementRow{"NegativeSelfGivesNoWidth", [](LayoutValues& v) { v.xSize.abs = -5; },
                     RectD{0, 0, 0, 40}},
        PlacementRow{"HalfPixelsRoundAwayByEdges",
                     [](LayoutValues& v) {
                         v.xPosition.abs = 10.5;
                         v.xSize.abs = 20.2;
                     },
                     RectD{11, 0, 20, 40}},
        PlacementRow{"MaximumZeroNeverLimits",
                     [](LayoutValues& v) {
                         v.xSize.abs = 500;
                         v.xMaxSize.abs = 0;
                     },
                     RectD{0, 0, 500, 40}},
        PlacementRow{"MaximumBelowMinimumWins",
                     [](LayoutValues& v) {
                         v.xSize.abs = 10;
                         v.xMinSize.abs = 100;
                         v.xMaxSize.abs = 50;
                     },
                     RectD{0, 0, 50, 40}},
        PlacementRow{"SelfMaximumKeepsTheAnchor",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 1.0f;
                         v.xPosition.abs = 200;
                         v.xSize.abs = 100;
                         v.xMaxSize.abs = 60;
                     },
                     RectD{140, 0, 60, 40}},
        PlacementRow{"AgainstASiblingItsFarEdge",
                     [](LayoutValues& v) {
                         v.xPosition = {0, Orv::kPositionToNamed, WideString(u"sibling"), 1.0f, 5};
                         v.yPosition = {0, Orv::kPositionToNamed, WideString(u"sibling"), 0.0f, 0};
                     },
                     RectD{41, 30, 16, 40}},
        PlacementRow{"SizedToASiblingsFarEdge",
                     [](LayoutValues& v) {
                         v.xSize = {Orv::kSizeToNamed, WideString(u"sibling"), 1.0f, 0};
                     },
                     RectD{0, 0, 36, 40}},
        PlacementRow{"AMissingSiblingIsAZeroBox",
                     [](LayoutValues& v) {
                         v.xPosition = {0, Orv::kPositionToNamed, WideString(u"nobody"), 1.0f, 7};
                     },
                     RectD{7, 0, 16, 40}},
        // Anchors from a skin outside 0..1, endless or not a number: no width, no overflow.
        PlacementRow{"AnchorFarAboveOne",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 1e30f;
                         v.xPosition.abs = 10;
                         v.xSize = {Orv::kSizeToClient, WideString(), 1.0f, 0};
                     },
                     RectD{10, 0, 0, 40}},
        PlacementRow{"AnchorNegative",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = -3.0f;
                         v.xPosition.abs = 10;
                         v.xSize = {Orv::kSizeToClient, WideString(), 0.0f, 5};
                     },
                     RectD{10, 0, 0, 40}},
        // The largest float below 1: the control reaches far to the left, its right edge still on
        // the far edge.
        PlacementRow{"AnchorJustBelowOneKeepsTheFarEdge",
                     [](LayoutValues& v) {
                         v.xPosition.placementAnchor = 0.99999994f;
                         v.xSize = {Orv::kSizeToClient, WideString(), 1.0f, 0};
                     },
                     RectD{-6710886000.0, 0, 6710886400.0, 40}},
        PlacementRow{"EndlessAndNaNValuesSaturate",
                     [](LayoutValues& v) {
                         v.xPosition.abs = kNaN;
                         v.yPosition.abs = 1e300;
                         v.xSize = {Orv::kSizeToClient, WideString(), 1.0f, kNaN};
                     },
                     RectD{0, 9223372036854775808.0, 0, 0}}),
    [](const testing::TestParamInfo<PlacementRow>& info) { return info.param.name; });

// A top-level control: "Parent"/"Screen" (code 0) is the screen in client coordinates, "Client"
// / "Active Window" (code 1) the window's client area, any other name the pointer.
TEST(ResolveLayoutTopLevel, ScreenClientAndPointer)
{
    const RectD screen{-100, -50, 1920, 1080};
    const PointD client{1024, 768};
    const PointD pointer{300, 200};
    Orv::LLayoutDescriptor layout;
    RectD out;

    layout.xPosition = {0, Orv::kPositionToParent, WideString(), 0.0f, 0};
    layout.xSize = {Orv::kSizeToParent, WideString(), 1.0f, 0};
    layout.yPosition = {0, Orv::kPositionToClient, WideString(), 0.5f, 0};
    layout.ySize = {Orv::kSizeToClient, WideString(), 1.0f, 0};
    ASSERT_EQ(Orv::ResolveLayout(&layout, nullptr, screen, client, pointer, out), S_OK);
    EXPECT_RECT(out, -100, 384, 1920, 384);

    layout.xPosition = {0, Orv::kPositionToNamed, WideString(u"Anything"), 1.0f, 10};
    layout.xSize = {Orv::kSizeToNamed, WideString(u"Anything"), 1.0f, 50};
    layout.yPosition = {0, Orv::kPositionToNamed, WideString(u"Anything"), 0.0f, -5};
    layout.ySize = {Orv::kSizeToSelf, WideString(), 0.0f, 20};
    ASSERT_EQ(Orv::ResolveLayout(&layout, nullptr, screen, client, pointer, out), S_OK);
    EXPECT_RECT(out, 310, 195, 40, 20);

    EXPECT_EQ(Orv::ResolveLayout(nullptr, nullptr, screen, client, pointer, out), E_INVALIDARG);
}

// The skin's keywords: "Screen" is "Parent", "Active Window" is "Client", read from a document.
TEST_F(ControlLayout, ScreenAndActiveWindowAreParentAndClientInASkin)
{
    RegisterBase(u"Test.Base");
    const auto child = [](const std::string& name, const std::string& reference) {
        return "<SubControl Class=\"Test.Base\" Name=\"" + name + "\" XPositionToControl=\"" +
               reference + "\" XPositionRel=\"0.5\" XPositionAbs=\"3\" XSizeToControl=\"" +
               reference + "\" XSizeRel=\"0.75\" XSizeAbs=\"0\"/>";
    };
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Document><Skins><Skin Name=\"Default\">"
        "<SubControl Class=\"Test.Base\" Name=\"top\" XSizeAbs=\"400\" YSizeAbs=\"300\">"
        "<Skin Name=\"top\">" +
        child("parent", "Parent") + child("screen", "Screen") + child("client", "Client") +
        child("window", "Active Window") + "</Skin></SubControl></Skin></Skins></Document>";
    ASSERT_EQ(factory->ParseXml(document.data(), document.size()), 0);
    RCPtr<LControl> top = factory->CreateControlByName(u"top", nullptr);
    ASSERT_TRUE(top);
    top->SetRect(PointD{0, 0}, PointD{400, 300});
    // p = R(0.5 x 400) + 3 = 203; far edge R(0.75 x 400) = 300: width 97.
    for (const char16_t* name : {u"parent", u"screen", u"client", u"window"}) {
        const RCPtr<LControl> control = top->FindChild(name);
        ASSERT_TRUE(control);
        EXPECT_RECT(RectOf(control), 203, 0, 97, 40);
    }
    EXPECT_EQ(top->FindChild(u"screen")->GetLayout()->xPosition.toControl, Orv::kPositionToParent);
    EXPECT_EQ(top->FindChild(u"window")->GetLayout()->xSize.toControl, Orv::kSizeToClient);
}

// --- Text and children limits

class TextExpansion : public ControlLayout
{
protected:
    RCPtr<LControl> MakeLabel(const RCPtr<LControl>& root, const RCPtr<Orv::LLookDescriptor>& look,
                              double maximum = 0)
    {
        LayoutValues values;
        values.textOverflowXType = 1;
        values.xMaxSize.abs = maximum;
        return Make(root, u"label", values, look);
    }

    double Measured(const RCPtr<LControl>& label, const char16_t* text)
    {
        Orv::LFontText measure(WideString(text), label->GetFont());
        return measure.GetTextWidth();
    }

    static constexpr const char16_t* kText = u"A label wider than sixteen pixels";
};

TEST_F(TextExpansion, GrowsByTheOverflowOverTheBoxFraction)
{
    RCPtr<LControl> root = MakeRoot();
    // The box spans the control less 2 pixels on each side: the label grows pixel for pixel.
    RCPtr<LControl> label = MakeLabel(root, TextLook(0, 0.0f, 2, 1.0f, -2));
    EXPECT_EQ(label->SetText(kText), S_OK);
    const double text = Measured(label, kText);
    ASSERT_GT(text, 16);
    EXPECT_RECT(RectOf(label), 0, 0, text + 4, 40);
    // Stable: the grown label fits its text next time and stays grown.
    EXPECT_EQ(label->UpdateLayout(), 1);
    EXPECT_EQ(label->UpdateLayout(), 1);

    // A box half the control wide grows the control twice the overflow.
    RCPtr<LControl> half = Make(
        root, u"half",
        [] {
            LayoutValues values;
            values.textOverflowXType = 1;
            return values;
        }(),
        TextLook(0, 0.0f, 0, 0.5f, 0));
    half->SetText(kText);
    EXPECT_GE(RectOf(half).width * 0.5, text);
    EXPECT_LE(RectOf(half).width * 0.5, text + 1);
}

TEST_F(TextExpansion, ABoxGivenInPixelsOnlyGrowsPixelForPixel)
{
    RCPtr<LControl> root = MakeRoot();
    // TextLeftRel = TextRightRel = 0: a fixed 12-pixel box; the divisor is 0.
    RCPtr<LControl> label = MakeLabel(root, TextLook(0, 0.0f, 2, 0.0f, 14));
    label->SetText(kText);
    const double text = Measured(label, kText);
    EXPECT_RECT(RectOf(label), 0, 0, 16 + (text - 12), 40);
}

TEST_F(TextExpansion, ASelfMaximumCapsTheGrowthAndWrapsTheText)
{
    RCPtr<LControl> root = MakeRoot();
    RCPtr<LControl> label = MakeLabel(root, TextLook(0, 0.0f, 2, 1.0f, -2), 60);
    label->SetText(kText);
    EXPECT_RECT(RectOf(label), 0, 0, 60, 40);
    EXPECT_TRUE(label->GetLooks().GetData()[0]->GetTextBlock()->GetWrap());
    // A short text is not capped: the wrap is off again.
    label->SetText(u"A");
    EXPECT_RECT(RectOf(label), 0, 0, std::max(16.0, Measured(label, u"A") + 4), 40);
    EXPECT_FALSE(label->GetLooks().GetData()[0]->GetTextBlock()->GetWrap());
}

TEST_F(TextExpansion, ALargerFontGrowsTheLabel)
{
    RCPtr<LControl> root = MakeRoot();
    RCPtr<LControl> label = MakeLabel(root, TextLook(0, 0.0f, 2, 1.0f, -2));
    label->SetText(kText);
    const double before = RectOf(label).width;
    ASSERT_EQ(label->SetFont(WideString(), 2.0f, -1, true), S_OK);
    EXPECT_EQ(RectOf(label).width, Measured(label, kText) + 4);
    EXPECT_GT(RectOf(label).width, before);
}

TEST_F(TextExpansion, ChangeTextWithoutRelayoutLeavesTheSize)
{
    RCPtr<LControl> root = MakeRoot();
    RCPtr<LControl> label = MakeLabel(root, TextLook(0, 0.0f, 2, 1.0f, -2));
    EXPECT_TRUE(label->ChangeText(kText, false));
    EXPECT_RECT(RectOf(label), 0, 0, 16, 40);
}

TEST_F(TextExpansion, NaturalSizeFitsTheTextAndRestoresTheSizeSpec)
{
    RCPtr<LControl> root = MakeRoot();
    LayoutValues values;
    values.textOverflowXType = 1;
    values.xSize = {Orv::kSizeToClient, WideString(), 1.0f, 0};
    RCPtr<LControl> label = Make(root, u"label", values, TextLook(0, 0.0f, 2, 1.0f, -2));
    label->SetText(u"Natural");
    EXPECT_EQ(RectOf(label).width, 400);
    PointD natural;
    label->CalcNaturalSize(natural);
    EXPECT_EQ(natural.x, Measured(label, u"Natural") + 4);
    EXPECT_EQ(natural.y, 0);  // "Self" 0 with no text minimum on y
    AxisPositionSpec position;
    AxisSizeSpec size;
    label->GetLayout()->GetAxisPlacement(0, position, size);
    EXPECT_EQ(size.reference, Orv::kSizeToClient);
    EXPECT_EQ(size.rel, 1.0f);
    EXPECT_RECT(RectOf(label), 0, 0, 400, 40);
}

TEST_F(ControlLayout, ChildrenMinimumOnBothAxesAddsTheBorderOncePerAxis)
{
    RCPtr<LControl> root = MakeRoot();
    LayoutValues values;
    values.xSize.abs = 1;
    values.ySize.abs = 1;
    values.xMinSize = {true, WideString(u"Children"), 1.0f, 0};
    values.yMinSize = {true, WideString(u"Children"), 1.0f, 0};
    // A border of 5 on every side: 10 pixels per axis on top of the children's box.
    RCPtr<LControl> box = Make(root, u"box", values, TextLook(5, 0.0f, 0, 1.0f, 0));
    LayoutValues childValues;
    childValues.xPosition.abs = 3;
    Make(box, u"child", childValues);
    EXPECT_RECT(RectOf(box), 0, 0, 26, 50);
    EXPECT_EQ(box->UpdateLayout(), 1);
}

TEST_F(ControlLayout, NamedMaximumWithAnchorZeroMovesTheFarEdge)
{
    RCPtr<LControl> root = MakeRoot();
    LayoutValues values;
    values.xPosition.abs = -50;
    values.xSize.abs = 100;
    // The limit lies at the child's left edge + 30: e = -20, left of 0 but right of the control's
    // left edge, so the far edge moves onto it.
    values.xMaxSize = {true, WideString(u"c"), 0.0f, 30};
    RCPtr<LControl> control = Make(root, u"control", values);
    LayoutValues childValues;
    childValues.xSize.abs = 10;
    Make(control, u"c", childValues);
    EXPECT_RECT(RectOf(control), -50, 0, 30, 40);
}

TEST_F(ControlLayout, NamedMaximumWithTheAnchorPastTheEdgeMovesTheNearEdge)
{
    RCPtr<LControl> root = MakeRoot();
    LayoutValues values;
    values.xPosition.placementAnchor = 1.0f;
    values.xPosition.abs = 200;
    values.xSize.abs = 100;  // 100 .. 200
    values.xMaxSize = {true, WideString(u"c"), 0.0f, 50};
    RCPtr<LControl> control = Make(root, u"control", values);
    Make(control, u"c", LayoutValues{});
    // The child's box starts at the control's left edge (100): e = 150, the right edge stays.
    EXPECT_RECT(RectOf(control), 150, 0, 50, 40);
}

// --- How a change travels

// Counts the slots SetRect calls: CalcClientRect once per actual change, OnParentRectChanged
// once per child that changed.
class CountingControl : public LControl
{
public:
    using LControl::LControl;
    RectD CalcClientRect() override
    {
        ++changes;
        return LControl::CalcClientRect();
    }
    Orv::ORVRESULT OnParentRectChanged(const RCPtr<LControl>& child) override
    {
        changedChildren.push_back(Narrow(child->GetName()));
        return LControl::OnParentRectChanged(child);
    }
    static std::string Narrow(const WideString& text) { return ControlTest::Narrow(text); }

    int changes = 0;
    std::vector<std::string> changedChildren;
};

RCPtr<CountingControl> MakeCounting(const RCPtr<LControl>& parent, const char16_t* name,
                                    const LayoutValues& values)
{
    RCPtr<Orv::LControlDescriptor> descriptor(new Orv::LControlDescriptor(u"Test", name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    static_cast<LayoutValues&>(*layout) = values;
    descriptor->SetLayout(layout);
    RCPtr<LControl> control;
    Orv::ControlCreateFunction<CountingControl>(control, parent, descriptor);
    return RCPtr<CountingControl>(static_cast<CountingControl*>(control.Get()));
}

TEST_F(ControlLayout, SetRectCarriesTheChangeThroughLaterSiblingsOnce)
{
    RCPtr<CountingControl> root = MakeCounting(nullptr, u"root", LayoutValues{});
    root->SetRect(PointD{0, 0}, PointD{400, 300});
    LayoutValues againstA;
    againstA.xPosition = {0, Orv::kPositionToNamed, WideString(u"a"), 1.0f, 0};
    LayoutValues againstC = againstA;
    againstC.xPosition.toControlName = u"c";
    RCPtr<CountingControl> a = MakeCounting(root, u"a", LayoutValues{});
    RCPtr<CountingControl> b = MakeCounting(root, u"b", LayoutValues{});  // depends on nobody
    RCPtr<CountingControl> c = MakeCounting(root, u"c", againstA);
    RCPtr<CountingControl> d = MakeCounting(root, u"d", againstC);
    EXPECT_RECT(RectOf(d), 32, 0, 16, 40);
    for (CountingControl* each : {root.Get(), a.Get(), b.Get(), c.Get(), d.Get()}) {
        each->changes = 0;
        each->changedChildren.clear();
    }

    AxisPositionSpec position;
    AxisSizeSpec size;
    a->GetLayout()->GetAxisPlacement(0, position, size);
    size.abs = 26;
    EXPECT_EQ(a->SetAxisLayout(0, position, size), S_OK);

    // b did not move, so the chain went on to c; c's own SetRect carried it to d.
    EXPECT_RECT(RectOf(b), 0, 0, 16, 40);
    EXPECT_RECT(RectOf(c), 26, 0, 16, 40);
    EXPECT_RECT(RectOf(d), 42, 0, 16, 40);
    EXPECT_EQ(a->changes, 1);
    EXPECT_EQ(b->changes, 0);
    EXPECT_EQ(c->changes, 1);
    EXPECT_EQ(d->changes, 1);
    EXPECT_EQ(root->changedChildren, (std::vector<std::string>{"d", "c", "a"}));
    EXPECT_EQ(root->changes, 0);
}

TEST_F(ControlLayout, AParentsResizeLaysEachChildOutAndTheParentOnce)
{
    RCPtr<CountingControl> root = MakeCounting(nullptr, u"root", LayoutValues{});
    root->SetRect(PointD{0, 0}, PointD{400, 300});
    LayoutValues stretched;
    stretched.xSize = {Orv::kSizeToClient, WideString(), 1.0f, -10};
    RCPtr<CountingControl> first = MakeCounting(root, u"first", stretched);
    stretched.yPosition.abs = 50;
    RCPtr<CountingControl> second = MakeCounting(root, u"second", stretched);
    first->changes = second->changes = root->changes = 0;

    EXPECT_EQ(root->SetRect(PointD{0, 0}, PointD{200, 100}), S_OK);
    EXPECT_RECT(RectOf(first), 0, 0, 190, 40);
    EXPECT_RECT(RectOf(second), 0, 50, 190, 40);
    EXPECT_EQ(first->changes, 1);
    EXPECT_EQ(second->changes, 1);
    EXPECT_EQ(root->changes, 1);
    EXPECT_EQ(root->SetRect(PointD{0, 0}, PointD{200, 100}), 1);
}

TEST_F(ControlLayout, ACreatedTopLevelControlWithoutRootWindowKeepsItsRectangle)
{
    RCPtr<LControl> root = MakeRoot(123, 45);
    ASSERT_TRUE(root->IsCreated());
    EXPECT_EQ(root->UpdateLayout(), E_FAIL);
    EXPECT_RECT(RectOf(root), 0, 0, 123, 45);
}

TEST_F(ControlLayout, ChildrenBoundsCountsUndockedChildrenOnly)
{
    RCPtr<LControl> root = MakeRoot();
    RectL bounds{1, 2, 3, 4};
    root->ChildrenBounds(bounds);
    EXPECT_EQ(bounds, (RectL{0, 0, 0, 0}));

    LayoutValues docked;
    docked.xIsDocked = true;
    docked.xPosition.abs = 300;
    docked.yPosition.abs = 250;
    Make(root, u"docked", docked);
    root->ChildrenBounds(bounds);
    EXPECT_EQ(bounds, (RectL{0, 0, 0, 0}));

    LayoutValues one;
    one.xPosition.abs = 10;
    one.yPosition.abs = 20;
    Make(root, u"one", one);
    LayoutValues two;
    two.xPosition.abs = 100;
    two.yPosition.abs = 5;
    Make(root, u"two", two);
    root->ChildrenBounds(bounds);
    EXPECT_EQ(bounds, (RectL{10, 5, 106, 55}));
}

TEST_F(ControlLayout, AxisSettersReadBack)
{
    RCPtr<LControl> root = MakeRoot();
    RCPtr<LControl> control = Make(root, u"control", LayoutValues{});
    AxisPositionSpec position;
    position.abs = 7;
    AxisSizeSpec size;
    size.abs = 70;
    EXPECT_EQ(control->SetAxisLayout(1, position, size), S_OK);
    EXPECT_RECT(RectOf(control), 0, 7, 16, 70);
    EXPECT_EQ(control->SetAxisLayout(2, position, size), 1);

    // A NaN never reads back as itself.
    AxisSizeSpec notANumber = size;
    notANumber.rel = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(control->SetAxisLayout(0, position, notANumber), 1);
    EXPECT_RECT(RectOf(control), 7, 7, 70, 70);

    AxisSizeLimitSpec minimum;
    AxisSizeLimitSpec maximum;
    maximum.abs = 50;
    EXPECT_EQ(control->SetAxisSizeLimits(1, minimum, maximum), S_OK);
    EXPECT_RECT(RectOf(control), 7, 7, 70, 50);
    EXPECT_EQ(control->SetAxisSizeLimits(-1, minimum, maximum), 1);

    // Docking an axis makes the parent sort its paint order again.
    const int32_t before = root->GetChildren().GetChangeCount();
    position.docked = true;
    EXPECT_EQ(control->SetAxisLayout(1, position, size), S_OK);
    EXPECT_NE(root->GetChildren().GetChangeCount(), before);

    AxisPositionSpec x;
    AxisSizeSpec xSize;
    xSize.abs = 30;
    AxisPositionSpec y;
    y.abs = 3;
    AxisSizeSpec ySize;
    ySize.abs = 33;
    EXPECT_EQ(control->SetLayoutPlacement(x, xSize, y, ySize), S_OK);
    EXPECT_RECT(RectOf(control), 0, 3, 30, 33);
}

TEST_F(ControlLayout, RenameChildFollowsInLaterSiblingsOnly)
{
    RCPtr<LControl> root = MakeRoot();
    LayoutValues againstA;
    againstA.xPosition = {0, Orv::kPositionToNamed, WideString(u"a"), 1.0f, 0};
    againstA.xSize = {Orv::kSizeToNamed, WideString(u"a"), 1.0f, 0};
    againstA.xMinSize = {true, WideString(u"a"), 0.0f, 0};
    RCPtr<LControl> before = Make(root, u"before", againstA);
    RCPtr<LControl> a = Make(root, u"a", LayoutValues{});
    RCPtr<LControl> after = Make(root, u"after", againstA);
    LControl::ChildControlList& list = root->GetChildren();

    EXPECT_EQ(list.RenameChild(a, u"a"), 1);
    EXPECT_EQ(list.RenameChild(a, u"after"), E_FAIL);
    RCPtr<LControl> stranger = Make(nullptr, u"stranger", LayoutValues{});
    EXPECT_EQ(list.RenameChild(stranger, u"z"), E_INVALIDARG);
    EXPECT_EQ(list.RenameChild(RCPtr<LControl>(), u"z"), E_INVALIDARG);

    EXPECT_EQ(list.RenameChild(a, u"z"), S_OK);
    EXPECT_EQ(ControlTest::Narrow(a->GetName()), "z");
    EXPECT_EQ(root->FindChild(u"z").Get(), a.Get());
    EXPECT_EQ(ControlTest::Narrow(after->GetLayout()->xPosition.toControlName), "z");
    EXPECT_EQ(ControlTest::Narrow(after->GetLayout()->xSize.toControlName), "z");
    EXPECT_EQ(ControlTest::Narrow(after->GetLayout()->xMinSize.toControlName), "a");
    EXPECT_EQ(ControlTest::Narrow(before->GetLayout()->xPosition.toControlName), "a");
}

TEST_F(ControlLayout, ClientRectangleBoundsAndItsCache)
{
    RCPtr<LControl> root = MakeRoot();
    RCPtr<LControl> framed = Make(
        root, u"framed",
        [] {
            LayoutValues values;
            values.xSize.abs = 100;
            values.ySize.abs = 60;
            return values;
        }(),
        TextLook(5, 0.0f, 0, 1.0f, 0));
    RectD bounds;
    framed->GetClientBounds(bounds);
    EXPECT_RECT(bounds, 0, 0, 90, 50);
    framed->GetVisibleClientRect(bounds);
    EXPECT_RECT(bounds, 0, 0, 90, 50);
    EXPECT_RECT(framed->CalcClientRect(), 5, 5, 90, 50);
    // A child's change is the parent's business only while no cache is held.
    RCPtr<LControl> child = Make(framed, u"child", LayoutValues{});
    framed->CalcClientRect();
    EXPECT_FALSE(framed->OnChildRectChanged(child));
    framed->OnClientRectChanged();
    EXPECT_TRUE(framed->OnChildRectChanged(child));
    // A child inside the frame: its position is in the client area's coordinates.
    EXPECT_RECT(RectOf(child), 0, 0, 16, 40);
}

}  // namespace
