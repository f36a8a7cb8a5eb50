// A control's place in the tree: construction, parent and root-window links, the child look-ups,
// and how a tree lets itself go.

#include "ControlBase/Control.h"

#include <atomic>

#include "Application/FrameworkApp.h"
#include "ControlBase/ControlDescriptor.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/Look.h"
#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/MenuItemUpdater.h"
#include "ControlBase/RootWindow.h"
#include "ControlBase/StringTable.h"
#include "Notification/NotificationCenter.h"
#include "Notification/NotificationForwarder.h"
#include "Utilities/Graphics/Font.h"

namespace Orv {

namespace {

std::atomic<int32_t> liveControls{0};

}  // namespace

LControl::LControl(const RCPtr<LControl>& parentControl, const WideString& controlName)
    : name(controlName), conditions(new LConditionsParam()), children(this)
{
    // The table first: joining the parent is the last step, so a constructor that fails leaves
    // no child list pointing at a control that is gone.
    if (LFrameworkApp* application = GetFrameworkApp()) {
        if (const RCPtr<LControlFactory>& factory = application->GetControlFactory()) {
            stringTable = factory->GetControlStringTable(parentControl, controlName);
        }
    }
    if (parentControl) {
        // A duplicate name leaves the control without parent; its creator decides what follows.
        JoinParent(parentControl.Get());
    }
    liveControls.fetch_add(1, std::memory_order_relaxed);
}

LControl::~LControl()
{
    liveControls.fetch_sub(1, std::memory_order_relaxed);
}

int32_t LControl::GetLiveCount()
{
    return liveControls.load(std::memory_order_relaxed);
}

// --- The notification receiver

int LControl::OnNotification(const RCPtr<LNotificationDistributor>& sender,
                             const RCPtr<LNotification>& notification)
{
    return NotificationForwarder(IsCreated(), sender, notification, handler);
}

ORVRESULT LControl::Unregister(const RCPtr<LNotificationDistributor>& source,
                               const char16_t* idText)
{
    return UnregisterForwarder(*this, source, idText, handler);
}

ORVRESULT LControl::DropBackReferences()
{
    UnregisterAll();
    if (menuUpdater) {
        const RCPtr<LMenuItemUpdater> updater = std::move(menuUpdater);
        RemoveBackReference();
        updater->ForgetControl();
    }
    children.Clear();
    DisconnectAllClients();
    return (GetBackReferenceCount() == 0 && GetRefCount() == 1) ? S_OK : E_FAIL;
}

// --- The tree

ORVRESULT LControl::JoinParent(LControl* newParent)
{
    return newParent->children.Add(this);
}

ORVRESULT LControl::SetParent(const RCPtr<LControl>& newParent)
{
    if (newParent.Get() == parent.Get()) {
        return 1;
    }
    // A control under itself would hold its own tree alive and loop every walk up the tree.
    for (const LControl* at = newParent.Get(); at != nullptr; at = at->parent.Get()) {
        if (at == this) {
            return E_INVALIDARG;
        }
    }
    const RCPtr<LControl> self(this);
    // The subtree's idle registrations belong to the window it leaves; those it still needs
    // follow it into the new tree's window.
    DetachIdleHandlers();
    // The old parent may be held by nothing but this control's link.
    const RCPtr<LControl> oldParent = parent;
    if (oldParent) {
        InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
        oldParent->children.Remove(self);
    } else {
        rootWindow = nullptr;
    }
    if (newParent) {
        newParent->CloseOwnedControls();
        JoinParent(newParent.Get());
        if (GetRootWindowRef()) {
            AttachIdleHandler();
        }
    }
    return S_OK;
}

ORVRESULT LControl::SetRootWindow(const RCPtr<LRootWindow>& window)
{
    if (parent) {
        return E_FAIL;
    }
    if (window.Get() != rootWindow.Get()) {
        DetachIdleHandlers();
    }
    rootWindow = window;
    if (window) {
        AttachIdleHandler();
    }
    return S_OK;
}

RCPtr<LControl> LControl::FindChild(const WideString& childName) const
{
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        const RCPtr<LControl>& child = children.GetAt(index, ChildControlList::kInsertionOrder);
        if (child->GetName() == childName) {
            return child;
        }
    }
    return RCPtr<LControl>();
}

int32_t LControl::IndexOfChild(const RCPtr<LControl>& child, int32_t order) const
{
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (children.GetAt(index, order).Get() == child.Get()) {
            return static_cast<int32_t>(index);
        }
    }
    return -1;
}

RCPtr<LControl> LControl::GetTopLevelControl()
{
    LControl* top = this;
    while (top->parent) {
        top = top->parent.Get();
    }
    return RCPtr<LControl>(top);
}

const RCPtr<LRootWindow>& LControl::GetRootWindowRef()
{
    LControl* top = this;
    while (top->parent) {
        top = top->parent.Get();
    }
    return top->rootWindow;
}

void LControl::AddNonClippingDescendants(int32_t delta)
{
    if (delta == 0) {
        return;
    }
    for (LControl* at = this; at != nullptr; at = at->parent.Get()) {
        at->nonClippingDescendants += delta;
    }
}

// --- Strings and keys

const RCPtr<LStringTable>& LControl::GetStringTable() const
{
    return stringTable;
}

WideString LControl::GetLocalizedString(const char16_t* id) const
{
    WideString localized;
    if (const RCPtr<LStringTable>& table = GetStringTable()) {
        table->GetString(id, localized);
    }
    return localized;
}

KeyCode LControl::GetLocalHotKey(const char16_t* idText) const
{
    return localHotKeys.GetFirstHotKey(idText);
}

bool LControl::HasLocalHotKeys(const char16_t* idText) const
{
    return localHotKeys.HasHotKeys(idText);
}

const WideString& LControl::GetToolTipText() const
{
    return toolTipText;
}

RCPtr<LMenuItemUpdater> LControl::GetContextMenuUpdater()
{
    if (!menuUpdater) {
        menuUpdater = RCPtr<LMenuItemUpdater>(new LMenuItemUpdater(RCPtr<LControl>(this)));
        AddBackReference();
    }
    return menuUpdater;
}

ORVRESULT LControl::SetDragThreshold(int32_t pixels)
{
    if (pixels < 0) {
        return E_INVALIDARG;
    }
    dragThreshold = pixels;
    return S_OK;
}

const RCPtr<LMenuDescriptor>& LControl::GetContextMenu() const
{
    return contextMenu;
}

}  // namespace Orv
