// Idle requests: a control is called on its root window's "NID_IDLE" only while it has work
// (kinetic motion, children to close, a derived class's timed work), so that an idle pass costs
// nothing for the controls that have none.

#include "ControlBase/Control.h"
#include "ControlBase/RootWindow.h"
#include "Notification/NotificationQueue.h"

namespace Orv {

namespace {

// "NID_IDLE" is sent by the window's notification queue through the queue's target.
RCPtr<LNotificationDistributor> IdleSource(const RCPtr<LRootWindow>& window)
{
    if (!window) {
        return RCPtr<LNotificationDistributor>();
    }
    if (auto* queue = dynamic_cast<LNotificationQueue*>(window.Get())) {
        if (RCPtr<LNotificationDistributor> target = queue->GetTargetDistributor()) {
            return target;
        }
    }
    return RCPtr<LNotificationDistributor>(dynamic_cast<LNotificationDistributor*>(window.Get()));
}

}  // namespace

ORVRESULT LControl::RegisterIdle()
{
    const RCPtr<LNotificationDistributor> source = IdleSource(GetRootWindowRef());
    if (!source) {
        return S_OK;  // registered once the control reaches a root window
    }
    const ORVRESULT result =
        handler ? handler->AddHandler(&LControl::OnIdle, source, u"NID_IDLE") : E_FAIL;
    if (result < 0) {
        idleRequests = 0;
    }
    return result;
}

ORVRESULT LControl::RequestIdle()
{
    ++idleRequests;
    return idleRequests == 1 ? RegisterIdle() : S_OK;
}

ORVRESULT LControl::ReleaseIdle()
{
    if (idleRequests <= 0) {
        // Close releases every request while a motion may still run; its later stop must not
        // take the count below 0, or the next request would never register.
        idleRequests = 0;
        return S_OK;
    }
    if (--idleRequests > 0) {
        return S_OK;
    }
    const RCPtr<LNotificationDistributor> source = IdleSource(GetRootWindowRef());
    if (!source) {
        return S_OK;
    }
    const bool bound = handler && handler->HasHandler(source, u"NID_IDLE");
    Unregister(source, u"NID_IDLE");
    return bound ? S_OK : E_FAIL;
}

ORVRESULT LControl::AttachIdleHandler()
{
    if (idleRequests > 0) {
        RegisterIdle();
    }
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (index < children.GetCount()) {
            const RCPtr<LControl> child = children.GetAt(index, ChildControlList::kInsertionOrder);
            child->AttachIdleHandler();
        }
    }
    return S_OK;
}

void LControl::DetachIdleHandlers()
{
    const RCPtr<LNotificationDistributor> source = IdleSource(GetRootWindowRef());
    if (!source) {
        return;
    }
    // The counts stay: AttachIdleHandler registers them again in the next window.
    DetachIdleHandlersFrom(source);
}

void LControl::DetachIdleHandlersFrom(const RCPtr<LNotificationDistributor>& source)
{
    if (idleRequests > 0) {
        Unregister(source, u"NID_IDLE");
    }
    for (uint32_t index = children.GetCount(); index-- > 0;) {
        if (index < children.GetCount()) {
            const RCPtr<LControl> child = children.GetAt(index, ChildControlList::kInsertionOrder);
            child->DetachIdleHandlersFrom(source);
        }
    }
}

int LControl::OnIdle(const RCPtr<LNotificationDistributor>&, const RCPtr<LNotification>&)
{
    // A step may close this control's last holder's tree.
    const RCPtr<LControl> self(this);
    for (int axis = 0; axis < 2; ++axis) {
        if (kinetic[axis].active) {
            KineticStep(axis);
        }
    }
    CloseOwnedControls();
    OnTick();
    return 0;
}

void LControl::OnTick() {}

}  // namespace Orv
