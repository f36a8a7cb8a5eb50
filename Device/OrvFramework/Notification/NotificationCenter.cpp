#include "Notification/NotificationCenter.h"

namespace Orv {

LNotificationCenter::~LNotificationCenter() = default;

ORVRESULT LNotificationCenter::DropBackReferences()
{
    DisconnectAllClients();
    Detach();
    return LRefCountedObject::DropBackReferences();
}

RCPtr<LNotificationCenter> CreateNotificationCenter(const WideString& name)
{
    RCPtr<LNotificationCenter> center(new LNotificationCenter(name));
    if (!center->GetTargetDistributor() && center->GetPostingReceiver()) {
        center->SetTargetDistributor(RCPtr<LNotificationDistributor>(center));
    }
    return center;
}

}  // namespace Orv
