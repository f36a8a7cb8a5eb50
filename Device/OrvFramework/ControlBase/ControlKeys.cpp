// Keys: from the focused control through its own and its siblings' local hot keys, up to the
// root window's and the application's hot keys; Tab and Ctrl+Tab move the focus.
//
// The key payload records the controls the key passed through (the last is the one it came
// from), so that each step knows where to start and nothing is offered twice. A client may close
// or release any control during a send: each step holds what it works on and stops once the
// control it runs on has left its tree.

#include <algorithm>
#include <climits>
#include <vector>

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/SiblingKeyParam.h"
#include "System/GlobalHotKeyManager.h"

namespace Orv {

namespace {

constexpr uint32_t kTabKey = 9;

bool IsTabPress(const KeyCode& key)
{
    return ((key.code & KeyCode::kVirtualKeyMask) >> KeyCode::kVirtualKeyShift) == kTabKey &&
           (key.code & KeyCode::kKeyDownBit) != 0 && (key.code & KeyCode::kNoKeyBit) == 0;
}

RCPtr<LControl> LastVisited(const LKeyParam& key)
{
    const uint32_t count = key.visited.GetCount();
    return count == 0 ? RCPtr<LControl>() : key.visited.GetData()[count - 1];
}

// Where a control stands in its tree, to tell after a send whether a client closed it: closing
// takes a control from its parent, or a top-level control from its window.
class TreePlace
{
public:
    explicit TreePlace(LControl& control)
        : control(control),
          parent(control.GetParent().Get()),
          window(control.GetRootWindowRef().Get())
    {
    }

    bool Left() const
    {
        return control.GetParent().Get() != parent || control.GetRootWindowRef().Get() != window;
    }

private:
    LControl& control;
    const LControl* parent;
    const LRootWindow* window;
};

}  // namespace

void LControl::OnKey(const RCPtr<LKeyParam>& key)
{
    if (!key || !IsVisible(true) || !IsEnabled(true)) {
        return;
    }
    const RCPtr<LControl> self(this);
    const TreePlace place(*this);
    const RCPtr<LSiblingKeyParam> offer(new LSiblingKeyParam(key->key, self));
    DeliverNotification(RCPtr<LNotificationReceiver>(this), u"NID_SIBLING_KEY", offer);
    if (offer->result == 0 || place.Left()) {
        return;
    }
    if (OnKeyHook(key) != 1 || place.Left()) {
        return;
    }
    key->visited.AddItem(self);
    const RCPtr<LControl> up = parent;
    if (!IsTabPress(key->key)) {
        if (up) {
            up->RouteUnhandledKey(key);
        } else {
            OfferToGlobalHotKeys(key);
        }
        return;
    }
    if (wantsTab) {
        return;
    }
    if (up) {
        up->MoveFocus(key);
    } else if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        window->CycleFocusToNextWindow(key);
    }
}

int LControl::OnSiblingKey(const RCPtr<LNotificationDistributor>&,
                           const RCPtr<LNotification>& notification)
{
    if (!notification || !IsVisible(true) || !IsEnabled(true)) {
        return 1;
    }
    LRefCountedObject* parameter = notification->parameter.Get();
    auto* offer = dynamic_cast<LSiblingKeyParam*>(parameter);
    if (offer == nullptr) {
        return 1;
    }
    const NotificationId bound = localHotKeys.FindNotificationId(offer->key);
    if (bound == nullptr) {
        return 1;
    }
    const RCPtr<LControl> self(this);
    offer->result = 0;
    DeliverNotification(RCPtr<LNotificationReceiver>(this), bound, notification->parameter);
    return 1;
}

ORVRESULT LControl::HandleHotKeys(const RCPtr<LKeyParam>& key)
{
    if (!key) {
        return 1;
    }
    const RCPtr<LNotificationClientPool> pool =
        FindClientPool(InternNotificationId(u"NID_SIBLING_KEY"));
    if (!pool || pool->GetClientCount() == 0) {
        return 1;
    }
    // A copy: a client may register or unregister anyone while the key is offered.
    RCPtrArray<LNotificationClient> clients;
    for (uint32_t index = 0; index < pool->GetClientCount(); ++index) {
        if (const RCPtr<LNotificationRegisteredClientInfo> registration =
                pool->GetRegistration(index)) {
            clients.AddItem(registration->client);
        }
    }
    Array<int32_t> order;
    FindHotKeyTarget(key, clients, order);
    const RCPtr<LControl> self(this);
    const TreePlace place(*this);
    const RCPtr<LControl> from = LastVisited(*key);
    const RCPtr<LSiblingKeyParam> offer(new LSiblingKeyParam(key->key, self));
    const RCPtr<LNotification> notification = CreateNotification(u"NID_SIBLING_KEY", offer);
    if (!notification) {
        return 1;
    }
    const RCPtr<LNotificationDistributor> sender(this);
    for (uint32_t at = order.GetCount(); at-- > 0;) {
        const int32_t index = order.GetAt(at);
        if (index < 0 || static_cast<uint32_t>(index) >= clients.GetCount()) {
            continue;
        }
        const RCPtr<LNotificationClient> client = clients.GetData()[index];
        if (!client || static_cast<LNotificationClient*>(from.Get()) == client.Get()) {
            continue;
        }
        client->OnNotification(sender, notification);
        if (offer->result == 0) {
            return 0;
        }
        if (place.Left()) {
            break;
        }
    }
    return 1;
}

void LControl::FindHotKeyTarget(const RCPtr<LKeyParam>& key,
                                const RCPtrArray<LNotificationClient>& clients,
                                Array<int32_t>& order)
{
    order.SetCount(0);
    const uint32_t count = clients.GetCount();
    struct Entry
    {
        int32_t client;
        int64_t sortKey;  // a tab position, or below every tab position for other clients
        bool focusable;
    };
    std::vector<Entry> entries;
    entries.reserve(count);
    int64_t outsider = INT32_MIN;
    for (uint32_t index = 0; index < count; ++index) {
        auto* control = dynamic_cast<LControl*>(clients.GetData()[index].Get());
        int64_t sortKey = -1;
        if (control != nullptr && control->parent.Get() == this) {
            sortKey = IndexOfChild(RCPtr<LControl>(control), ChildControlList::kTabOrder);
        }
        if (sortKey < 0) {
            sortKey = outsider++;
        }
        entries.push_back(Entry{static_cast<int32_t>(index), sortKey,
                                control != nullptr && !control->notFocusable});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.sortKey < b.sortKey; });
    size_t firstFocusable = entries.size();
    for (size_t at = 0; at < entries.size(); ++at) {
        if (entries[at].focusable) {
            firstFocusable = at;
            break;
        }
    }
    int64_t cameFrom = -1;
    if (key) {
        if (const RCPtr<LControl> from = LastVisited(*key); from && from->parent.Get() == this) {
            cameFrom = IndexOfChild(from, ChildControlList::kTabOrder);
        }
    }
    // Walked from its end, this offers the focusable part in descending tab order starting at
    // the control the key came from and wrapping round, then the rest.
    for (size_t at = 0; at < firstFocusable; ++at) {
        order.AddItem(entries[at].client);
    }
    for (size_t at = firstFocusable; at < entries.size(); ++at) {
        if (entries[at].sortKey > cameFrom) {
            order.AddItem(entries[at].client);
        }
    }
    for (size_t at = firstFocusable; at < entries.size(); ++at) {
        if (entries[at].sortKey <= cameFrom) {
            order.AddItem(entries[at].client);
        }
    }
}

void LControl::RouteUnhandledKey(const RCPtr<LKeyParam>& key)
{
    if (!key) {
        return;
    }
    const RCPtr<LControl> self(this);
    const TreePlace place(*this);
    if (HandleHotKeys(key) != 1 || place.Left()) {
        return;
    }
    OfferToGlobalHotKeys(key);
}

void LControl::OfferToGlobalHotKeys(const RCPtr<LKeyParam>& key)
{
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

void LControl::PassTabUp(const RCPtr<LKeyParam>& key)
{
    key->visited.AddItem(RCPtr<LControl>(this));
    if (const RCPtr<LControl> up = parent) {
        up->MoveFocus(key);
    } else if (const RCPtr<LRootWindow> window = GetRootWindowRef()) {
        window->CycleFocusToNextWindow(key);
    }
}

void LControl::MoveFocus(const RCPtr<LKeyParam>& key)
{
    if (!key) {
        return;
    }
    const RCPtr<LControl> self(this);
    const bool backwards = (key->key.code & KeyCode::kShiftBit) != 0;
    if ((key->key.code & KeyCode::kCtrlBit) != 0) {
        // Ctrl+Tab leaves this container: the parent moves among its own children, from this one.
        KeyCode tab;
        tab.code = backwards ? 0x02000009u : 0x00000009u;
        PassTabUp(RCPtr<LKeyParam>(new LKeyParam(tab, 0)));
        return;
    }
    const bool stayInside = key->fromHost != 0;
    RCPtr<LControl> start = LastVisited(*key);
    RCPtr<LControl> candidate = FindNextFocusable(start, backwards);
    // Each step visits another child; the bound only guards against a client that reshapes the
    // child list from inside a focus change.
    for (uint32_t steps = 0; steps <= children.GetCount(); ++steps) {
        if (!candidate || candidate == start) {
            if (!stayInside) {
                PassTabUp(key);
            }
            return;
        }
        if (!stayInside) {
            const int32_t candidateAt = IndexOfChild(candidate, ChildControlList::kTabOrder);
            const int32_t startAt = IndexOfChild(start, ChildControlList::kTabOrder);
            if (backwards ? candidateAt >= startAt : candidateAt <= startAt) {
                PassTabUp(key);
                return;
            }
        }
        if (candidate->CanTakeFocus() || candidate->PassesFocusRules()) {
            candidate->SetFocus(!backwards);
            return;
        }
        if (!start->IsVisible(true) || !start->IsEnabled(true)) {
            start = candidate;
        }
        candidate = FindNextFocusable(candidate, backwards);
    }
}

}  // namespace Orv
