// A control's context menu: kept with its entries bound to the hot keys they share, and opened
// from the skin's "contextMenu" pop-up at the pointer.

#include "Application/FrameworkApp.h"
#include "ControlBase/Control.h"
#include "ControlBase/ControlFactory.h"
#include "ControlBase/Look.h"
#include "ControlBase/MenuDescriptor.h"
#include "ControlBase/PopupMenu.h"
#include "ControlBase/RectRegion.h"

namespace Orv {

ORVRESULT LControl::SetContextMenu(const RCPtr<LMenuDescriptor>& menu)
{
    const RCPtr<LMenuDescriptor> old = contextMenu;
    if (old) {
        BindMenuHotKeys(old, false);
    }
    contextMenu = menu;
    if (menu) {
        BindMenuHotKeys(menu, true);
    }
    return S_OK;
}

ORVRESULT LControl::ShowContextMenu(const RCPtr<LMenuDescriptor>& menu)
{
    LFrameworkApp* application = GetFrameworkApp();
    const RCPtr<LControlFactory> factory =
        application != nullptr ? application->GetControlFactory() : RCPtr<LControlFactory>();
    if (!factory || !menu) {
        return S_OK;
    }
    const RCPtr<LControlDescriptor> found = factory->FindSubControlDescriptor(u"contextMenu");
    if (!found) {
        return S_OK;
    }
    const RCPtr<LControl> self = HoldSelf();
    // A menu left open from an earlier click gives way to the new one.
    if (const RCPtr<LControl> previous = FindChild(u"contextMenu")) {
        previous->Close();
    }
    const RCPtr<LControl> created = factory->CreateControl(found, self);
    if (!created) {
        return S_OK;
    }
    const RCPtr<LPopupMenu> popup(dynamic_cast<LPopupMenu*>(created.Get()));
    if (!popup) {
        // A skin that names another class here would leave a stray control under this one.
        created->Close();
        return S_OK;
    }
    popup->SetVisible(false);
    popup->SetMenuDescriptor(menu);
    OnContextMenuOpening(created);
    if (popup->GetParent().Get() == this) {
        popup->Open();
    }
    return S_OK;
}

ORVRESULT LControl::SetLookRegion(int32_t lookIndex, const RectRegion& region)
{
    if (lookIndex < 0 || static_cast<uint32_t>(lookIndex) >= looks.GetCount() ||
        !looks.GetData()[lookIndex]) {
        return E_INVALIDARG;
    }
    looks.GetData()[lookIndex]->SetRegion(region);
    InvalidateRect(RectD{0, 0, rect.width, rect.height}, !layout || layout->clipToParent);
    return S_OK;
}

}  // namespace Orv
