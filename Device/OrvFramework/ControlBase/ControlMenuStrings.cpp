// Menus a control describes in its string table, and menu entries that stand for hot keys.

#include <vector>

#include "Application/FrameworkApp.h"
#include "ControlBase/ContextMenuStrings.h"
#include "ControlBase/Control.h"
#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/MenuTree.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/StringTable.h"
#include "System/GlobalHotKeyManager.h"

namespace Orv {

namespace {

// Is the id bound by a hot key of the window or of the application? The manager that binds it.
RCPtr<LGlobalHotKeyManager> HotKeysBinding(const RCPtr<LRootWindow>& window, NotificationId id)
{
    if (window && window->GetHotKeys() && window->GetHotKeys()->GetHotKeys().HasHotKeys(id)) {
        return window->GetHotKeys();
    }
    if (LFrameworkApp* application = GetFrameworkApp()) {
        const RCPtr<LGlobalHotKeyManager>& hotKeys = application->GetHotKeyManager();
        if (hotKeys && hotKeys->GetHotKeys().HasHotKeys(id)) {
            return hotKeys;
        }
    }
    return RCPtr<LGlobalHotKeyManager>();
}

}  // namespace

ORVRESULT LControl::BuildMenuFromStrings(RCPtrArray<LMenuDescriptor>& menus)
{
    if (const RCPtr<LStringTable> table = GetStringTable()) {
        BuildContextMenusFromStrings(*table, menus);
    }
    return S_OK;
}

void LControl::BindMenuHotKeys(const RCPtr<LMenuDescriptor>& menu, bool bind)
{
    if (!menu || !handler) {
        return;
    }
    const RCPtr<LControl> self(this);
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    // An explicit stack, bounded like the menus the string tables build, so that a menu placed
    // inside itself cannot run the walk away.
    struct Level
    {
        RCPtr<LMenuDescriptor> menu;
        int depth;
    };
    std::vector<Level> pending{Level{menu, 0}};
    while (!pending.empty()) {
        const Level level = pending.back();
        pending.pop_back();
        const RCPtrArray<LMenuItemDescriptor>& items = level.menu->GetItems();
        for (uint32_t index = 0; index < items.GetCount(); ++index) {
            const RCPtr<LMenuItemDescriptor>& item = items.GetData()[index];
            if (!item) {
                continue;
            }
            if (item->GetItems().GetCount() > 0) {
                if (level.depth < kMaxMenuDepth) {
                    pending.push_back(Level{RCPtr<LMenuDescriptor>(item.Get()), level.depth + 1});
                }
                continue;
            }
            if (item->key.IsEmpty()) {
                continue;
            }
            const NotificationId id = InternNotificationId(item->key.GetText());
            if (!HotKeysBinding(window, id)) {
                continue;
            }
            if (bind) {
                handler->AddDirectHandler(&LControl::OnMenuHotKey, id);
            } else {
                handler->RemoveHandler(RCPtr<LNotificationDistributor>(), id);
            }
        }
    }
}

int LControl::OnMenuHotKey(const RCPtr<LNotificationDistributor>&,
                           const RCPtr<LNotification>& notification)
{
    if (!notification) {
        return 1;
    }
    const RCPtr<LGlobalHotKeyManager> hotKeys =
        HotKeysBinding(GetRootWindowRef(), notification->id);
    if (!hotKeys || !hotKeys->GetTarget()) {
        return 1;
    }
    // As the hot key would: a fresh notification of the id, without parameter, to the target.
    if (const RCPtr<LNotification> forwarded = CreateNotification(notification->id)) {
        hotKeys->GetTarget()->OnNotification(RCPtr<LNotificationDistributor>(), forwarded);
    }
    return 1;
}

}  // namespace Orv
