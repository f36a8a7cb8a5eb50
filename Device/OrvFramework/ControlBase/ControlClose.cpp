// Closing controls: at once (hidden, out of input and idle processing, out of the tree), or
// later, from the parent's next idle pass, for a control that may not leave the tree while the
// caller still runs inside it (a window closing itself from its own button's click).

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"

namespace Orv {

void LControl::EndOwnCapture()
{
    const RCPtr<LRootWindow>& window = GetRootWindowRef();
    if (capture || (window && window->GetCaptureControl().Get() == this)) {
        OnCaptureLost();
    }
}

ORVRESULT LControl::Close()
{
    const RCPtr<LControl> self = HoldSelf();
    SetVisible(false);
    SetClipToParent(true);
    EndOwnCapture();
    // Children waiting to be closed go now: with this control's idle requests released below,
    // nothing would close them later, and a later CloseChildLater would find the list not empty
    // and request nothing.
    CloseOwnedControls();
    StopKineticMotion(0);
    StopKineticMotion(1);
    while (idleRequests > 0) {
        // The last release unregisters from the window's queue, which must still be reachable.
        ReleaseIdle();
    }
    if (parent) {
        SetParent(RCPtr<LControl>());
    } else {
        SetRootWindow(RCPtr<LRootWindow>());
    }
    return S_OK;
}

ORVRESULT LControl::CloseChildLater(const RCPtr<LControl>& child)
{
    if (!child || child->parent.Get() != this) {
        return E_INVALIDARG;
    }
    const RCPtr<LControl> self = HoldSelf();
    child->EndOwnCapture();
    child->SetVisible(false);
    // Hiding it may have run a client that closed it already.
    if (child->parent.Get() != this || closeList.IndexOf(child.Get()) >= 0) {
        return S_OK;
    }
    closeList.AddItem(child);
    if (closeList.GetCount() == 1) {
        return RequestIdle();
    }
    return S_OK;
}

void LControl::CloseOwnedControls()
{
    if (closeList.GetCount() == 0) {
        return;
    }
    const RCPtr<LControl> self = HoldSelf();
    // Each child stays listed while it closes, so that a CloseChildLater from inside its Close
    // joins this pass instead of taking a second idle request. The pass that takes the last
    // child off the list releases the request (a pass run from inside a Close may be the one).
    bool emptied = false;
    while (closeList.GetCount() > 0) {
        const RCPtr<LControl> child = closeList.GetAt(0);
        // A child that has moved to another parent meanwhile belongs to that parent now.
        if (child->parent.Get() == this) {
            child->Close();
        }
        const int32_t at = closeList.IndexOf(child.Get());
        emptied = false;
        if (at >= 0) {
            closeList.RemoveItems(static_cast<uint32_t>(at), 1);
            emptied = closeList.GetCount() == 0;
        }
    }
    if (emptied) {
        ReleaseIdle();
    }
}

}  // namespace Orv
