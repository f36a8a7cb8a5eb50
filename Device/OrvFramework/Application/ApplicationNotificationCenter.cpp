#include "Application/ApplicationNotificationCenter.h"

#include "Notification/NotificationCenterManager.h"

Orv::RCPtr<Orv::LNotificationCenter> GetApplicationNotificationCenter()
{
    const auto& manager = Orv::GetNotificationCenterManager();
    return manager ? manager->GetCenter(Orv::WideString(u"application"))
                   : Orv::RCPtr<Orv::LNotificationCenter>();
}
