// A click on the program's own skin, through the root window's input calls: the clicked control
// takes the focus and its clients hear the press, the release and the click.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PointerTestSupport.h"

namespace {

using namespace PointerTest;

class ProductSkinPointer : public PointerFixture
{
protected:
    void SetUp() override
    {
        PointerFixture::SetUp();
        LoadProductSkinAsBaseControls();
        factory->currentSkinIndex = 0;
        ASSERT_EQ(window->SetRootControlByName(Orv::WideString(u"mainControl")), S_OK);
        ASSERT_TRUE(window->GetRootControl());
    }

    // The first control without children, in tree order, that the window's hit test finds at its
    // own centre (a leaf: the focus stays where the click put it); the centre in window
    // coordinates.
    static LControl* FindClickable(Orv::LRootWindow& window, LControl& control, PointL& centre)
    {
        for (uint32_t index = 0; index < control.GetChildren().GetCount(); ++index) {
            LControl& child =
                *control.GetChildren().GetAt(index, LControl::ChildControlList::kInsertionOrder);
            const PointD origin = child.GetWindowOrigin();
            const PointL at{static_cast<int32_t>(origin.x + child.GetRect().width / 2),
                            static_cast<int32_t>(origin.y + child.GetRect().height / 2)};
            RCPtr<LControl> found;
            PointL local;
            window.HitTest(found, at, local, false);
            if (child.GetChildren().GetCount() == 0 && found.Get() == &child &&
                !child.IsNotFocusable()) {
                centre = at;
                return &child;
            }
            if (LControl* deeper = FindClickable(window, child, centre)) {
                return deeper;
            }
        }
        return nullptr;
    }
};

TEST_F(ProductSkinPointer, AClickFocusesAFocusableControlAndItsClientsHearAllThree)
{
    PointL centre;
    RCPtr<LControl> clicked(FindClickable(*window, *window->GetRootControl(), centre));
    ASSERT_TRUE(clicked);
    recorder = InputRecorder::Attach(clicked, log);
    Press(1, centre);
    Release(1, centre);
    EXPECT_EQ(log, (Names{"NID_MOUSE_DOWN", "NID_MOUSE_UP", "NID_LEFT_CLICK"}))
        << ControlTest::Narrow(clicked->GetName());
    EXPECT_EQ(window->GetFocusControl().Get(), clicked.Get())
        << ControlTest::Narrow(clicked->GetName());
    EXPECT_EQ(window->GetCaptureControl().Get(), nullptr);

    // Releasing the window frees every control of its tree.
    recorder->UnregisterAll();
    recorder = nullptr;
    clicked = nullptr;
    EXPECT_EQ(window->DropBackReferences(), S_OK);
    window = nullptr;
    EXPECT_EQ(LControl::GetLiveCount(), 0);
}

}  // namespace
