#pragma once
// LPopupMenu, a stand-in for the control library's pop-up menu until its rows and submenus are
// built: it keeps a copy of the menu it is given, opens at the pointer inside the window and takes
// the focus, and closes when it loses the focus or gets Escape. It shows no rows. "Framework.
// PopupMenu" creates it; the right click's context menu opens through it.

#include "ControlBase/Control.h"
#include "ControlBase/MenuDescriptor.h"

namespace Orv {

class LPopupMenu : public LControl
{
public:
    LPopupMenu(const RCPtr<LControl>& parent, const WideString& name);
    ~LPopupMenu() override;

    // E_INVALIDARG for null; otherwise the menu is copied (the caller's may change or go). 0.
    ORVRESULT SetMenuDescriptor(const RCPtr<LMenuDescriptor>& menu);
    const RCPtr<LMenuDescriptor>& GetMenuDescriptor() const { return menu; }
    // Shows the menu with its top-left corner at the pointer, moved inside the window, and takes
    // the focus. 0; E_FAIL without a window.
    ORVRESULT Open();

    ORVRESULT Initialize() override;
    ORVRESULT ReleaseFocus() override;
    ORVRESULT OnKeyHook(const RCPtr<LKeyParam>& key) override;

private:
    void CloseMenu();

    RCPtr<LMenuDescriptor> menu;
};

}  // namespace Orv
