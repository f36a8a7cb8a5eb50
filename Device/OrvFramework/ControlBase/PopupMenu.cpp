#include "ControlBase/PopupMenu.h"

#include <cmath>

#include "ControlBase/InputPayloads.h"
#include "ControlBase/LayoutDescriptor.h"
#include "ControlBase/RootWindow.h"
#include "System/KeyCode.h"
#include "win32/Input.h"

namespace Orv {

LPopupMenu::LPopupMenu(const RCPtr<LControl>& parent, const WideString& name)
    : LControl(parent, name)
{
}

LPopupMenu::~LPopupMenu() = default;

ORVRESULT LPopupMenu::Initialize()
{
    const ORVRESULT result = LControl::Initialize();
    // Drawn above its owner's siblings and hidden until opened.
    SetClipToParent(false);
    SetVisible(false);
    SetNotFocusable(false);
    SetFocusScope(true);
    return result;
}

ORVRESULT LPopupMenu::SetMenuDescriptor(const RCPtr<LMenuDescriptor>& next)
{
    if (!next) {
        return E_INVALIDARG;
    }
    menu = next->Clone();
    return S_OK;
}

ORVRESULT LPopupMenu::Open()
{
    const RCPtr<LControl> self = HoldSelf();
    const RCPtr<LRootWindow> window = GetRootWindowRef();
    if (!window) {
        return E_FAIL;
    }
    const PointL pointer = window->GetCursorPosition();
    const PointL windowSize = window->GetWindowSize();
    const RectD& box = GetRect();
    const double wanted[2] = {static_cast<double>(pointer.x), static_cast<double>(pointer.y)};
    const double limit[2] = {static_cast<double>(windowSize.x), static_cast<double>(windowSize.y)};
    const double size[2] = {box.width, box.height};
    const PointD ownerOrigin = GetParent() ? GetParent()->GetWindowOrigin() : PointD{0, 0};
    const double origin[2] = {ownerOrigin.x, ownerOrigin.y};
    AxisPositionSpec position[2];
    AxisSizeSpec extent[2];
    for (int axis = 0; axis < 2; ++axis) {
        double at = wanted[axis];
        if (at + size[axis] > limit[axis]) {
            at = limit[axis] - size[axis];
        }
        if (at < 0) {
            at = 0;
        }
        GetLayout()->GetAxisPlacement(axis, position[axis], extent[axis]);
        position[axis].reference = kPositionToClient;
        position[axis].rel = 0;
        position[axis].anchor = 0;
        position[axis].abs = at - origin[axis];
    }
    SetLayoutPlacement(position[0], extent[0], position[1], extent[1]);
    SetVisible(true);
    if (!HasFocus()) {
        SetFocus(true);
    }
    return S_OK;
}

ORVRESULT LPopupMenu::ReleaseFocus()
{
    const RCPtr<LControl> self = HoldSelf();
    const ORVRESULT result = LControl::ReleaseFocus();
    CloseMenu();
    return result;
}

ORVRESULT LPopupMenu::OnKeyHook(const RCPtr<LKeyParam>& key)
{
    if (key && key->key.IsKeyDown() &&
        ((key->key.code & KeyCode::kVirtualKeyMask) >> KeyCode::kVirtualKeyShift) ==
            static_cast<uint32_t>(VK_ESCAPE)) {
        CloseMenu();
        return 1;
    }
    return LControl::OnKeyHook(key);
}

void LPopupMenu::CloseMenu()
{
    // Closing may run while the menu's own input is on the stack: the owner closes it on its next
    // idle pass; hidden at once.
    if (const RCPtr<LControl> owner = GetParent()) {
        owner->CloseChildLater(RCPtr<LControl>(this));
    } else {
        SetVisible(false);
    }
}

}  // namespace Orv
