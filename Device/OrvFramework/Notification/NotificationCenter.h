#pragma once
// LNotificationCenter: a named distributor and a queue whose target is the center itself. Posts
// from any thread reach the center's clients at the next idle drain. Torn down when only back
// references hold it: it disconnects its clients and detaches its queue.

#include "Notification/NotificationDistributor.h"
#include "Notification/NotificationQueue.h"

namespace Orv {

class LNotificationCenter : public LNotificationDistributor, public LNotificationQueue
{
public:
    explicit LNotificationCenter(const WideString& name) : name(name) {}
    ~LNotificationCenter() override;

    ORVRESULT DropBackReferences() override;

    const WideString& GetName() const { return name; }

private:
    WideString name;
};

// A center with that name, sending its queue through itself.
RCPtr<LNotificationCenter> CreateNotificationCenter(const WideString& name);

}  // namespace Orv
