#pragma once
// LNotificationCenterManager: the one owner of the named notification centers, which it drains at
// idle time. Centers are never removed before the manager goes. UI thread only.

#include "Notification/NotificationCenter.h"

namespace Orv {

class LNotificationCenterManager : public virtual LRefCountedObject
{
public:
    LNotificationCenterManager() = default;
    ~LNotificationCenterManager() override;

    // The center with that name (same text, case-sensitive), created when absent; null for an
    // empty name.
    RCPtr<LNotificationCenter> GetCenter(const WideString& name);
    // The center with that name, or null.
    RCPtr<LNotificationCenter> FindCenter(const WideString& name) const;
    // Drains every center, the last created first; true when any still holds notifications.
    bool ProcessAllQueues(bool sendIdle);

    uint32_t GetCenterCount() const { return centers.GetCount(); }

private:
    RCPtrArray<LNotificationCenter, 1, 0> centers;
};

// The process's manager, created on first use (by the application object's constructor).
const RCPtr<LNotificationCenterManager>& GetNotificationCenterManager();
// Lets the manager go (the application object's destructor), and with it every center.
void ReleaseNotificationCenterManager();

}  // namespace Orv
