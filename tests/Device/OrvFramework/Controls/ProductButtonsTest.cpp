// The program's own skin with the library's buttons: every button comes up in its normal look
// and paints itself over what lies beneath. The PNG stays beside the test program.

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/SkinDescriptor.h"
#include "PixelRig.h"

namespace {

using namespace ControlLibraryTest;
using Orv::LButton;

// Every class the skins name.
void CollectClasses(const Orv::LControlDescriptor& descriptor, std::set<Orv::WideString>& names)
{
    names.insert(descriptor.className);
    for (uint32_t index = 0; index < descriptor.subControls.GetCount(); ++index) {
        CollectClasses(*descriptor.subControls.GetData()[index], names);
    }
}

void CollectButtons(const RCPtr<LControl>& control, std::vector<RCPtr<LButton>>& buttons)
{
    if (const RCPtr<LButton> button = Orv::DynamicRCPtrCast<LButton>(control)) {
        buttons.push_back(button);
    }
    for (uint32_t index = 0; index < control->GetChildren().GetCount(); ++index) {
        CollectButtons(
            control->GetChildren().GetAt(index, LControl::ChildControlList::kInsertionOrder),
            buttons);
    }
}

class ProductButtons : public PixelRig
{
protected:
    void SetUp() override
    {
        PixelRig::SetUp();
        factory = RCPtr<Orv::LControlFactory>(new Orv::LControlFactory(u"Quorvel"));
        application->SetControlFactory(factory);
        factory->RegisterControlCreateFunction(u"Framework.Button",
                                               &Orv::ControlCreateFunction<Orv::LButton>);
        factory->RegisterControlCreateFunction(u"Framework.ToolTip",
                                               &Orv::ControlCreateFunction<Orv::LToolTip>);
        ASSERT_EQ(factory->LoadSkinsAndStrings(u"::", 0x0409), 0);
        std::set<Orv::WideString> names;
        for (uint32_t index = 0; index < factory->GetSkins().GetCount(); ++index) {
            CollectClasses(*factory->GetSkins().GetData()[index], names);
        }
        for (const Orv::WideString& name : names) {
            RegisterBase(name.GetText());  // the first registration stays
        }
    }
};

TEST_F(ProductButtons, EveryButtonShowsItsNormalLookAndPaintsIt)
{
    OpenPainted(u"mainControl", PointL{1024, 768});
    services.pointer = PointL{-100, -100};
    std::vector<RCPtr<LButton>> buttons;
    CollectButtons(root, buttons);
    ASSERT_FALSE(buttons.empty());
    Paint();
    WritePng("controllib-product-buttons.png");
    int painted = 0;
    int visible = 0;
    for (const RCPtr<LButton>& button : buttons) {
        const std::string name = Narrow(button->GetName());
        if (!button->IsVisible(true)) {
            continue;
        }
        ++visible;
        const bool checked = button->GetValuePosition() >= 0.5;
        const int32_t normal = (button->IsEnabled(true) ? 0 : 6) + (checked ? 7 : 0);
        EXPECT_EQ(button->FirstVisibleLookIndex(), normal) << name;
        // Its pixels against the same window without it.
        const Orv::PointD origin = button->GetWindowOrigin();
        const Orv::RectD& box = button->GetRect();
        std::vector<uint32_t> with;
        for (int y = 0; y < static_cast<int>(box.height); ++y) {
            for (int x = 0; x < static_cast<int>(box.width); ++x) {
                with.push_back(Probe(PointL{static_cast<int32_t>(origin.x) + x,
                                            static_cast<int32_t>(origin.y) + y}));
            }
        }
        button->SetVisible(false);
        Paint();
        std::vector<uint32_t> without;
        for (int y = 0; y < static_cast<int>(box.height); ++y) {
            for (int x = 0; x < static_cast<int>(box.width); ++x) {
                without.push_back(Probe(PointL{static_cast<int32_t>(origin.x) + x,
                                               static_cast<int32_t>(origin.y) + y}));
            }
        }
        button->SetVisible(true);
        Paint();
        EXPECT_NE(with, without) << name << " paints nothing";
        painted += with != without ? 1 : 0;
    }
    EXPECT_GT(visible, 0);
    std::cout << painted << " of " << visible << " visible buttons painted (" << buttons.size()
              << " in the tree)\n";
}

}  // namespace
