// The program's two skins built into trees of base controls and laid out as the root window lays
// out its root control, at a client size of 1024 x 768. The expected rectangles are worked out
// by hand from the skin document below, not from the engine.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlBase/LayoutEngine.h"
#include "ControlTestSupport.h"

namespace {

using ControlTest::ControlFixture;
using ControlTest::ExpectNothingAlive;
using ControlTest::Narrow;
using Orv::LControl;
using Orv::PointD;
using Orv::RCPtr;
using Orv::RectD;

// The root window forces its root control to fill the client area, then runs the engine on it
// for the client size; the children follow from SetRect.
void LayOutAsRootWindow(LControl& root, double width, double height)
{
    Orv::AxisPositionSpec position;
    position.reference = Orv::kPositionToClient;
    Orv::AxisSizeSpec size;
    size.reference = Orv::kSizeToClient;
    size.rel = 1.0f;
    position.docked = root.GetLayout()->xIsDocked;
    Orv::AxisPositionSpec yPosition = position;
    yPosition.docked = root.GetLayout()->yIsDocked;
    root.SetLayoutPlacement(position, size, yPosition, size);

    RectD resolved;
    ASSERT_EQ(Orv::ResolveLayout(root.GetLayout().Get(), nullptr, RectD{0, 0, 1920, 1040},
                                 PointD{width, height}, PointD{}, resolved),
              S_OK);
    PointD at{resolved.x, resolved.y};
    PointD extent{resolved.width, resolved.height};
    Orv::ApplyLayoutMinSize(root, at, extent);
    Orv::ApplyLayoutMaxSize(root, at, extent);
    RectD snapped{at.x, at.y, extent.x, extent.y};
    snapped.SnapToPixels();
    root.SetRect(PointD{snapped.x, snapped.y}, PointD{snapped.width, snapped.height});
}

const LControl* FindByPath(const LControl& root, const std::vector<const char16_t*>& path)
{
    const LControl* at = &root;
    for (const char16_t* name : path) {
        const RCPtr<LControl> child = at->FindChild(name);
        if (!child) {
            return nullptr;
        }
        at = child.Get();
    }
    return at;
}

// Every control of that name in the tree.
void FindAll(const LControl& control, const std::string& name, std::vector<const LControl*>& into)
{
    if (Narrow(control.GetName()) == name) {
        into.push_back(&control);
    }
    for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
        FindAll(*control.GetChildren().GetAt(index, LControl::ChildControlList::kInsertionOrder),
                name, into);
    }
}

struct Expected
{
    std::vector<const char16_t*> path;
    RectD rect;
};

// Worked by hand from APP_SKINS (Device/Panel/Panel/Resources/ORVXML). Every control involved
// has anchor 0 on both axes, a "Client" position with Rel 0 (so p = Abs) and, except the view, a
// "Self" size (w = Abs); no minimum, maximum or text expansion applies (all "Self" 0, "Clip").
// The looks involved (MainControl, View.Device, View.Device.Large, Panel, the combo boxes) have
// client parts with all offsets 0, so every client rectangle is the whole control and a child's
// rectangle is in its parent's local coordinates.
//   mainControl: the root window makes it "Client" Rel 0 + 0 and size "Client" Rel 1:
//     (0, 0, 1024, 768).
//   viewDevice: position 0, 0; size "Parent" Rel 1 Abs 0: far edge = R(1 x 1024) + parent
//     origin 0 + 0 = 1024, d = 1024 - 0, w = d / (1 - 0) = 1024; likewise 768.
//   skin 0 ("Default"): labels at x 16, y 72 / 96 / 116 / 136, 300 x 18; buttonSupport
//     (364, 132, 100, 22); panelDriverStandardProperties (16, 170, 448, 220); in it
//     comboBoxClockSource (140, 0, 160, 22); comboBoxBuffer in panelBufferSize and
//     comboBoxSampleRate in panelSampleRate (140, 0, 120, 22).
//   skin 1 ("HighDpi"): labels at x 27, y 120 / 160 / 193 / 227, 500 x 30; buttonSupport
//     (607, 220, 167, 37); panelDriverStandardProperties (27, 283, 747, 367); comboBoxClockSource
//     (233, 0, 267, 37); comboBoxBuffer and comboBoxSampleRate (233, 0, 200, 37).
const std::vector<std::vector<Expected>>& ExpectedRectangles()
{
    static const std::vector<std::vector<Expected>> rows{
        {
            {{}, {0, 0, 1024, 768}},
            {{u"viewDevice"}, {0, 0, 1024, 768}},
            {{u"viewDevice", u"labelProductName"}, {16, 72, 300, 18}},
            {{u"viewDevice", u"labelAttachedState"}, {16, 96, 300, 18}},
            {{u"viewDevice", u"labelStreamingStatus"}, {16, 116, 300, 18}},
            {{u"viewDevice", u"labelVersionNumber"}, {16, 136, 300, 18}},
            {{u"viewDevice", u"buttonSupport"}, {364, 132, 100, 22}},
            {{u"viewDevice", u"panelDriverStandardProperties"}, {16, 170, 448, 220}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"comboBoxClockSource"},
             {140, 0, 160, 22}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"panelBufferSize",
              u"comboBoxBuffer"},
             {140, 0, 120, 22}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"panelSampleRate",
              u"comboBoxSampleRate"},
             {140, 0, 120, 22}},
        },
        {
            {{}, {0, 0, 1024, 768}},
            {{u"viewDevice"}, {0, 0, 1024, 768}},
            {{u"viewDevice", u"labelProductName"}, {27, 120, 500, 30}},
            {{u"viewDevice", u"labelAttachedState"}, {27, 160, 500, 30}},
            {{u"viewDevice", u"labelStreamingStatus"}, {27, 193, 500, 30}},
            {{u"viewDevice", u"labelVersionNumber"}, {27, 227, 500, 30}},
            {{u"viewDevice", u"buttonSupport"}, {607, 220, 167, 37}},
            {{u"viewDevice", u"panelDriverStandardProperties"}, {27, 283, 747, 367}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"comboBoxClockSource"},
             {233, 0, 267, 37}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"panelBufferSize",
              u"comboBoxBuffer"},
             {233, 0, 200, 37}},
            {{u"viewDevice", u"panelDriverStandardProperties", u"panelSampleRate",
              u"comboBoxSampleRate"},
             {233, 0, 200, 37}},
        }};
    return rows;
}

class ProductSkinLayout : public ControlFixture, public testing::WithParamInterface<int32_t>
{
protected:
    void SetUp() override
    {
        ControlFixture::SetUp();
        LoadProductSkinAsBaseControls();
    }

    RCPtr<LControl> Build(int32_t skin)
    {
        factory->currentSkinIndex = skin;
        return factory->CreateControlByName(u"mainControl", nullptr);
    }
};

TEST_P(ProductSkinLayout, RectanglesAtTenTwentyFourBySevenSixtyEightMatchTheDocument)
{
    const int32_t skin = GetParam();
    RCPtr<LControl> root = Build(skin);
    ASSERT_TRUE(root);
    LayOutAsRootWindow(*root, 1024, 768);
    for (const Expected& row : ExpectedRectangles().at(static_cast<size_t>(skin))) {
        std::string where = "mainControl";
        for (const char16_t* name : row.path) {
            where += "/" + Narrow(name);
        }
        SCOPED_TRACE(where);
        const LControl* control = FindByPath(*root, row.path);
        ASSERT_NE(control, nullptr);
        const RectD& rect = control->GetRect();
        EXPECT_EQ(rect.x, row.rect.x) << Narrow(control->GetName());
        EXPECT_EQ(rect.y, row.rect.y) << Narrow(control->GetName());
        EXPECT_EQ(rect.width, row.rect.width) << Narrow(control->GetName());
        EXPECT_EQ(rect.height, row.rect.height) << Narrow(control->GetName());
    }
    // The skin's own sizes of the root are replaced by the window's client area; back at the
    // same size nothing moves.
    LayOutAsRootWindow(*root, 1000, 750);
    EXPECT_EQ(FindByPath(*root, {u"viewDevice"})->GetRect().width, 1000);
    LayOutAsRootWindow(*root, 1024, 768);
    EXPECT_EQ(FindByPath(*root, {u"viewDevice"})->GetRect().height, 768);
    EXPECT_EQ(root->SetRect(PointD{0, 0}, PointD{1024, 768}), 1);

    for (const char* hidden :
         {"listBox", "labelBufferSizePow2", "buttonDec", "slider", "buttonInc", "labelValue",
          "labelInputLatencyLabel", "labelInputLatency", "labelOutputLatencyLabel",
          "labelOutputLatency", "labelRoundTripLatencyLabel", "labelRoundTripLatency"}) {
        std::vector<const LControl*> found;
        FindAll(*root, hidden, found);
        EXPECT_FALSE(found.empty()) << hidden;
        for (const LControl* control : found) {
            EXPECT_FALSE(control->GetLayout()->isVisible) << hidden;
        }
    }
    for (const char* shown : {"labelProductName", "buttonSupport", "comboBoxClockSource"}) {
        std::vector<const LControl*> found;
        FindAll(*root, shown, found);
        ASSERT_EQ(found.size(), 1u) << shown;
        EXPECT_TRUE(found[0]->GetLayout()->isVisible) << shown;
    }
    root = nullptr;
    ExpectNothingAlive();
}

INSTANTIATE_TEST_SUITE_P(Skins, ProductSkinLayout, testing::Values(0, 1));

}  // namespace
