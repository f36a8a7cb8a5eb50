#include "Notification/NotificationCenterManager.h"

#include "Notification/Notification.h"
#include "Notification/NotificationLocks.h"

namespace Orv {

namespace {

RCPtr<LNotificationCenterManager>& ManagerHolder()
{
    // What the centers use at their end is built first, so that it is destroyed after them.
    NotificationRegistryLock();
    NotificationQueueLock();
    NotificationPool();
    ActiveDistributors();
    static RCPtr<LNotificationCenterManager> holder;
    return holder;
}

}  // namespace

LNotificationCenterManager::~LNotificationCenterManager() = default;

RCPtr<LNotificationCenter> LNotificationCenterManager::FindCenter(const WideString& name) const
{
    for (uint32_t i = 0; i < centers.GetCount(); ++i) {
        const RCPtr<LNotificationCenter>& center = centers.GetAt(i);
        if (center->GetName().GetText() == name.GetText() || center->GetName().Equals(name)) {
            return center;
        }
    }
    return nullptr;
}

RCPtr<LNotificationCenter> LNotificationCenterManager::GetCenter(const WideString& name)
{
    if (name.IsEmpty()) {
        return nullptr;
    }
    RCPtr<LNotificationCenter> center = FindCenter(name);
    if (!center) {
        center = CreateNotificationCenter(name);
        centers.AddItem(center);
    }
    return center;
}

bool LNotificationCenterManager::ProcessAllQueues(bool sendIdle)
{
    const RCPtr<LNotificationCenterManager> self(this);
    for (uint32_t i = centers.GetCount(); i-- > 0;) {
        if (i >= centers.GetCount()) {
            continue;
        }
        const RCPtr<LNotificationCenter> center = centers.GetAt(i);
        center->ProcessQueue(sendIdle);
    }
    // Asked once every center has had its pass: a handler of a later center may have posted to
    // one drained earlier, and that post must also ask for another idle pass.
    for (uint32_t i = 0; i < centers.GetCount(); ++i) {
        if (centers.GetAt(i)->GetQueuedCount() > 0) {
            return true;
        }
    }
    return false;
}

const RCPtr<LNotificationCenterManager>& GetNotificationCenterManager()
{
    RCPtr<LNotificationCenterManager>& holder = ManagerHolder();
    if (!holder) {
        holder = RCPtr<LNotificationCenterManager>(new LNotificationCenterManager());
    }
    return holder;
}

void ReleaseNotificationCenterManager()
{
    RCPtr<LNotificationCenterManager> released = std::move(ManagerHolder());
}

}  // namespace Orv
