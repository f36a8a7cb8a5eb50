// Clicks: the release that completes a press on the control, dispatched by button to its hook and
// its notification; a right click also opens the control's context menu.

#include "ControlBase/Control.h"
#include "ControlBase/ControlTreeAnchor.h"
#include "ControlBase/InputPayloads.h"
#include "ControlBase/MenuDescriptor.h"
#include "Notification/Notification.h"

namespace Orv {

ORVRESULT LControl::OnClick(const RCPtr<LMouseButtonParam>& button)
{
    if (!button) {
        return E_INVALIDARG;
    }
    switch (button->button) {
        case 1:
            return OnLeftClick(button);
        case 2:
            return OnMiddleClick(button);
        case 4:
            return OnRightClick(button);
        default:
            return E_INVALIDARG;
    }
}

ORVRESULT LControl::OnLeftClick(const RCPtr<LMouseButtonParam>& button)
{
    if (!button || button->button != 1) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    const ControlTreeAnchor anchor(*this);
    OnLeftClickHook(button);
    if (!anchor.Lost()) {
        SendNotification(CreateNotification(u"NID_LEFT_CLICK", button));
    }
    return S_OK;
}

ORVRESULT LControl::OnMiddleClick(const RCPtr<LMouseButtonParam>& button)
{
    if (!button || button->button != 2) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    const ControlTreeAnchor anchor(*this);
    OnMiddleClickHook(button);
    if (!anchor.Lost()) {
        SendNotification(CreateNotification(u"NID_MIDDLE_CLICK", button));
    }
    return S_OK;
}

ORVRESULT LControl::OnRightClick(const RCPtr<LMouseButtonParam>& button)
{
    if (!button || button->button != 4) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self(this);
    const ControlTreeAnchor anchor(*this);
    OnRightClickHook(button);
    if (anchor.Lost()) {
        return S_OK;
    }
    SendNotification(CreateNotification(u"NID_RIGHT_CLICK", button));
    if (anchor.Lost()) {
        return S_OK;
    }
    // The menu is held while it opens: a client may replace the control's menu meanwhile.
    if (const RCPtr<LMenuDescriptor> menu = GetContextMenu()) {
        ShowContextMenu(menu);
    }
    return S_OK;
}

}  // namespace Orv
