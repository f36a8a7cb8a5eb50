// Buttons and a tool tip painted by GDI+ on a headless window: each look's face colour, the tip
// 20 pixels below the pointer, and the program's own buttons in their normal look. The PNGs stay
// beside the test program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlBase/ControlDescriptor.h"
#include "PixelRig.h"

namespace {

using namespace ControlLibraryTest;
using Orv::LButton;
using Orv::LToolTip;

// The fixture skin's face colour of button look i (tests/fixtures/skins/controllib-skin.xml).
uint32_t FaceColour(uint32_t look)
{
    return ((0x10 + look * 0x10) << 16) | ((0x40 + look * 4) << 8) | (0xC0 - look * 8);
}

constexpr uint32_t kTipColour = 0xE0E020;
constexpr uint32_t kBackColour = 0x202020;

class Pixels : public PixelRig
{
};

TEST_F(Pixels, EachButtonLookPaintsItsFaceColour)
{
    OpenPainted(u"controls", PointL{400, 300});
    const RCPtr<LButton> push = Find<LButton>("push");
    push->externalLook = true;  // the look stays as selected whatever the pointer does
    const PointL centre = CentreOf(RCPtr<LControl>(push));
    const PointL outside{push->GetWindowOrigin().x > 2 ? 5 : 395, centre.y};
    for (uint32_t look = 0; look < 14; ++look) {
        ASSERT_EQ(push->SelectLook(look), 0);
        Paint();
        EXPECT_EQ(Probe(centre), FaceColour(look)) << look;
        EXPECT_EQ(Probe(outside), kBackColour) << look;
        if (look == 0 || look == 9) {
            WritePng("controllib-button-look-" + std::to_string(look) + ".png");
        }
    }
}

TEST_F(Pixels, ShownTipLiesTwentyPixelsBelowThePointer)
{
    OpenPainted(u"controls", PointL{400, 300});
    services.pointer = PointL{150, 150};
    const RCPtr<Orv::LControlDescriptor>& descriptor =
        factory->FindSubControlDescriptor(u"toolTip");
    const RCPtr<LToolTip> tip =
        Orv::DynamicRCPtrCast<LToolTip>(factory->CreateControl(descriptor, root));
    ASSERT_TRUE(tip);
    tip->Arm();
    PumpFor(510, 5);
    ASSERT_EQ(tip->GetState(), LToolTip::kShown);
    Paint();
    WritePng("controllib-tooltip.png");
    // The tip is 120 x 20 from (150, 170).
    EXPECT_EQ(Probe(PointL{150, 170}), kTipColour);
    EXPECT_EQ(Probe(PointL{269, 189}), kTipColour);
    EXPECT_EQ(Probe(PointL{150, 169}), kBackColour);
    EXPECT_EQ(Probe(PointL{149, 170}), kBackColour);
    EXPECT_EQ(Probe(PointL{270, 170}), kBackColour);
    EXPECT_EQ(Probe(PointL{150, 190}), kBackColour);
    tip->Hide();
    Pump();
    Paint();
    EXPECT_EQ(Probe(PointL{150, 170}), kBackColour) << "hidden and closed";
}

}  // namespace
