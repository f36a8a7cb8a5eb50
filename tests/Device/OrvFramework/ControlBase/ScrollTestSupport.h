#pragma once
// Scroll views, panels and scroll bars built through the factory's create functions from
// descriptors made by hand, under a root window on recording services.

#include <string>
#include <vector>

#include "Application/ControlCreateFunction.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/LayoutDescriptor.h"
#include "Controls/Panel.h"
#include "Controls/ScrollView.h"
#include "ControlBase/StringTable.h"
#include "ControlFocusTestSupport.h"
#include "Controls/Scrollbar.h"

namespace ScrollTest {

using Orv::LControlDescriptor;
using Orv::RCPtr;

struct Place
{
    double x = 0, y = 0, width = 10, height = 10;
    int32_t tabStop = 0;
    bool dockX = false, dockY = false;
};

inline RCPtr<LControlDescriptor> Describe(const char16_t* className, const char16_t* name,
                                          const Place& place)
{
    RCPtr<LControlDescriptor> descriptor(new LControlDescriptor(className, name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    layout->xPosition.abs = place.x;
    layout->yPosition.abs = place.y;
    layout->xSize.abs = place.width;
    layout->ySize.abs = place.height;
    layout->tabStop = place.tabStop;
    layout->xIsDocked = place.dockX;
    layout->yIsDocked = place.dockY;
    descriptor->SetLayout(layout);
    return descriptor;
}

// A panel that takes the string table of its name from the focus tests' list.
class TablePanel : public Orv::LPanel
{
public:
    TablePanel(const RCPtr<Orv::LControl>& parent, const Orv::WideString& name)
        : LPanel(parent, name)
    {
        const auto found = FocusTest::TablesByName().find(std::u16string(name.GetText()));
        if (found != FocusTest::TablesByName().end()) {
            table = found->second;
        }
    }
    const RCPtr<Orv::LStringTable>& GetStringTable() const override
    {
        return table ? table : LPanel::GetStringTable();
    }

private:
    RCPtr<Orv::LStringTable> table;
};

// A scroll view that counts the bar notifications it is handed and its own hooks.
class CountingView : public Orv::LScrollView
{
public:
    using LScrollView::LScrollView;
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>& sender,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        if (notification && std::u16string(notification->id) == u"NID_VALUE_CHANGE") {
            ++valueChanges;
        }
        return LScrollView::OnNotification(sender, notification);
    }
    void OnViewportChanged() override { ++viewportChanges; }
    void OnScrollBarShownChanged(bool vertical) override { shownChanges.push_back(vertical); }

    int valueChanges = 0;
    int viewportChanges = 0;
    std::vector<bool> shownChanges;
};

inline void RegisterScrollClasses(Orv::LControlFactory& factory)
{
    factory.RegisterControlCreateFunction(u"Test.Control",
                                          &Orv::ControlCreateFunction<Orv::LControl>);
    factory.RegisterControlCreateFunction(u"Framework.Panel",
                                          &Orv::ControlCreateFunction<TablePanel>);
    factory.RegisterControlCreateFunction(u"Framework.ScrollChannel",
                                          &Orv::ControlCreateFunction<Orv::LPanel>);
    factory.RegisterControlCreateFunction(u"Framework.ScrollBar",
                                          &Orv::ControlCreateFunction<Orv::LScrollbar>);
    factory.RegisterControlCreateFunction(u"Test.CountingView",
                                          &Orv::ControlCreateFunction<CountingView>);
    factory.RegisterControlCreateFunction(u"Framework.ScrollView",
                                          &Orv::ControlCreateFunction<Orv::LScrollView>);
}

}  // namespace ScrollTest
