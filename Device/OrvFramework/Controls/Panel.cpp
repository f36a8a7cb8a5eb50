// The panel: focus and key routing kept inside, sibling keys heard.

#include "Controls/Panel.h"

#include <algorithm>

#include "Application/FrameworkApp.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/SiblingKeyParam.h"
#include "Notification/NotificationForwarder.h"
#include "ObjectBase/Exception.h"
#include "System/GlobalHotKeyManager.h"
#include "System/KeyCode.h"

namespace Orv {

LPanel::LPanel(const RCPtr<LControl>& parent, const WideString& name) : LScrollView(parent, name) {}

LPanel::~LPanel()
{
    panelHandler = nullptr;
}

ORVRESULT LPanel::Initialize()
{
    const ORVRESULT result = LScrollView::Initialize();
    if (ORV_FAILED(result) || !GetParent()) {
        return result;
    }
    panelHandler = RCPtr<LNotificationHandler<LPanel>>(new LNotificationHandler<LPanel>(this));
    try {
        const ORVRESULT added = panelHandler->AddHandler(
            &LPanel::OnPanelSiblingKey, RCPtr<LNotificationDistributor>(GetParent()),
            u"NID_SIBLING_KEY");
        if (ORV_FAILED(added)) {
            ThrowFailedResult(added, ThrowSite{"Orv::LPanel::Initialize", "Controls\\Panel", 37});
        }
    } catch (const FailedResultException&) {
        return E_FAIL;
    }
    return S_OK;
}

int LPanel::OnPanelSiblingKey(const RCPtr<LNotificationDistributor>& sender,
                              const RCPtr<LNotification>& notification)
{
    auto* offer =
        notification ? dynamic_cast<LSiblingKeyParam*>(notification->parameter.Get()) : nullptr;
    if (offer == nullptr) {
        return 1;
    }
    const RCPtr<LControl> self = HoldSelf();
    const RCPtr<LKeyParam> key(new LKeyParam(offer->key, 1));
    offer->result = HandleHotKeys(key);
    if (offer->result == 1) {
        // This binding hides the control level's: the panel's own local hot keys are offered
        // here, or they would never work while a sibling has the focus.
        OnSiblingKey(sender, notification);
    }
    return 1;
}

RCPtr<LControl> LPanel::FindNextFocusable(const RCPtr<LControl>& from, bool backwards)
{
    RCPtr<LControl> found = LScrollView::FindNextFocusable(from, backwards);
    if (!GetParent() || !found || !from) {
        return found;
    }
    const int32_t fromAt = IndexOfChild(from, ChildControlList::kTabOrder);
    const int32_t foundAt = IndexOfChild(found, ChildControlList::kTabOrder);
    // A search that came round again leaves the panel: the parent moves on from here.
    if (backwards ? foundAt >= fromAt : foundAt <= fromAt) {
        return RCPtr<LControl>();
    }
    return found;
}

void LPanel::MoveFocus(const RCPtr<LKeyParam>& key)
{
    if (!key) {
        return;
    }
    const RCPtr<LControl> self = HoldSelf();
    if ((key->key.code & KeyCode::kCtrlBit) == 0) {
        const uint32_t routed = key->visited.GetCount();
        RCPtr<LControl> from = routed == 0 ? RCPtr<LControl>() : key->visited.GetData()[routed - 1];
        const bool backwards = (key->key.code & KeyCode::kShiftBit) != 0;
        RCPtr<LControl> candidate = FindNextFocusable(from, backwards);
        // Each child is a candidate at most once: a search that keeps answering controls that
        // cannot take the focus (hidden anchors, overriding searches) would otherwise never end.
        RCPtrArray<LControl> tried;
        while (candidate && candidate != from) {
            const RCPtr<LControl>* seen = tried.GetData();
            if (std::find(seen, seen + tried.GetCount(), candidate) != seen + tried.GetCount()) {
                break;
            }
            tried.AddItem(candidate);
            if (candidate->IsFocusTarget() || candidate->CanTakeFocus()) {
                candidate->SetFocus(!backwards);
                return;
            }
            if (from && (!from->IsVisible(true) || !from->IsEnabled(true))) {
                from = candidate;
            }
            candidate = FindNextFocusable(candidate, backwards);
        }
    }
    key->visited.AddItem(self);
    if (const RCPtr<LControl> up = GetParent()) {
        up->MoveFocus(key);
    } else if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        window->CycleFocusToNextWindow(key);
    }
}

void LPanel::RouteUnhandledKey(const RCPtr<LKeyParam>& key)
{
    if (!key) {
        return;
    }
    const RCPtr<LControl> self = HoldSelf();
    if (HandleHotKeys(key) != 1) {
        return;
    }
    if (const RCPtr<LControl> up = GetParent()) {
        key->visited.AddItem(self);
        up->RouteUnhandledKey(key);
        return;
    }
    OfferToApplicationHotKeys(key);
}

void LPanel::OfferToApplicationHotKeys(const RCPtr<LKeyParam>& key)
{
    // The window's own hot keys come first, as for any other top of the tree.
    if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        if (const RCPtr<LGlobalHotKeyManager>& hotKeys = window->GetHotKeys();
            hotKeys && hotKeys->HandleKey(key->key) != 1) {
            return;
        }
    }
    if (LFrameworkApp* application = GetFrameworkApp()) {
        if (const RCPtr<LGlobalHotKeyManager> hotKeys = application->GetHotKeyManager()) {
            hotKeys->HandleKey(key->key);
        }
    }
}

int LPanel::OnNotification(const RCPtr<LNotificationDistributor>& sender,
                           const RCPtr<LNotification>& notification)
{
    return NotificationForwarder(IsCreated(), sender, notification, panelHandler,
                                 GetScrollViewHandler(), GetNotificationHandler());
}

ORVRESULT LPanel::Unregister(const RCPtr<LNotificationDistributor>& source, const char16_t* idText)
{
    return UnregisterForwarder(*this, source, idText, panelHandler, GetScrollViewHandler(),
                               GetNotificationHandler());
}

}  // namespace Orv
