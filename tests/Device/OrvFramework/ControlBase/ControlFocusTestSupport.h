#pragma once
// A small tree of controls under a root window on a recording host, for focus and key tests:
// controls that record the notifications they receive, may carry a string table of their own
// (local hot keys, menus), may refuse to give up the focus and may run a step of a test inside
// their key handling.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/StringTable.h"
#include "Notification/NotificationClient.h"
#include "RootWindowSupport.h"
#include "System/KeyCode.h"

namespace FocusTest {

using Orv::LControl;
using Orv::RCPtr;
using Names = std::vector<std::string>;

// The string table each control of a name gets while it is built.
inline std::map<std::u16string, RCPtr<Orv::LStringTable>>& TablesByName()
{
    static std::map<std::u16string, RCPtr<Orv::LStringTable>> tables;
    return tables;
}

inline RCPtr<Orv::LStringTable> Table(
    std::initializer_list<std::pair<const char16_t*, const char16_t*>> rows)
{
    RCPtr<Orv::LStringTable> table(new Orv::LStringTable());
    for (const auto& [id, text] : rows) {
        table->SetString(id, Orv::WideString(text));
    }
    return table;
}

// Records "name:id" for every notification it is handed whose id begins with "NID_" and is not
// the idle one.
class Probe : public LControl
{
public:
    Probe(const RCPtr<LControl>& parent, const Orv::WideString& name) : LControl(parent, name)
    {
        const auto found = TablesByName().find(std::u16string(name.GetText()));
        if (found != TablesByName().end()) {
            table = found->second;
        }
    }

    const RCPtr<Orv::LStringTable>& GetStringTable() const override
    {
        return table ? table : LControl::GetStringTable();
    }
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>& sender,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        const std::u16string id = notification && notification->id ? notification->id : u"";
        if (log != nullptr && id.rfind(u"NID_", 0) == 0 && id != u"NID_IDLE") {
            log->push_back(ControlTest::Narrow(GetName()) + ":" +
                           ControlTest::Narrow(Orv::WideString(id.c_str())));
        }
        if (onNotification) {
            onNotification(*this, id);
        }
        return LControl::OnNotification(sender, notification);
    }
    Orv::ORVRESULT CanReleaseFocus() override { return canRelease ? 1 : 0; }
    Orv::ORVRESULT OnKeyHook(const RCPtr<Orv::LKeyParam>& key) override
    {
        return keyHook ? keyHook(*this) : LControl::OnKeyHook(key);
    }

    Names* log = nullptr;
    bool canRelease = true;
    std::function<Orv::ORVRESULT(Probe&)> keyHook;
    std::function<void(Probe&, const std::u16string&)> onNotification;

private:
    RCPtr<Orv::LStringTable> table;
};

// Built as the factory builds a control, at (x, y) with that size and tab stop.
inline RCPtr<Probe> MakeProbe(const RCPtr<LControl>& parent, const char16_t* name, double x,
                              double y, double width, double height, int32_t tabStop)
{
    RCPtr<Orv::LControlDescriptor> descriptor(new Orv::LControlDescriptor(u"Test", name, nullptr));
    RCPtr<Orv::LLayoutDescriptor> layout(new Orv::LLayoutDescriptor());
    layout->xPosition.abs = x;
    layout->yPosition.abs = y;
    layout->xSize.abs = width;
    layout->ySize.abs = height;
    layout->tabStop = tabStop;
    descriptor->SetLayout(layout);
    RCPtr<LControl> control;
    Orv::ControlCreateFunction<Probe>(control, parent, descriptor);
    return RCPtr<Probe>(static_cast<Probe*>(control.Get()));
}

// A key as the host window hands it over.
inline RCPtr<Orv::LKeyParam> KeyFromWindow(uint32_t virtualKey, Orv::KeyModifierFlags modifiers)
{
    return RCPtr<Orv::LKeyParam>(
        new Orv::LKeyParam(Orv::KeyCode(virtualKey, true, false, modifiers), 1));
}

// A client that records the ids it is sent.
class RecordingClient : public Orv::LNotificationClient
{
public:
    int OnNotification(const RCPtr<Orv::LNotificationDistributor>&,
                       const RCPtr<Orv::LNotification>& notification) override
    {
        received.push_back(ControlTest::Narrow(Orv::WideString(notification->id)));
        return 1;
    }
    Names received;
};

}  // namespace FocusTest
