// What the device context asks of its open filters. The control filter's context (its
// ControlClient) and the wave filter's context implement these; each filter stores the address
// of that interface as its KSFILTER Context.
#pragma once

#include <wdm.h>

// IRQL <= DISPATCH_LEVEL for both: they are asked under the control-filter list lock.
class ControlClientLink
{
public:
    // The client's registered notification (removal) event, referenced, or null.
    virtual PRKEVENT RegisteredNotificationEvent() = 0;
    virtual bool HasRunningClientStream() = 0;
    // Ors change flags into the client's set (a buffer-size change of another handle).
    virtual void RaiseChangeFlags(ULONG) {}

protected:
    ~ControlClientLink() = default;
};

class WavePinSet
{
public:
    // Under the filter's own pin-list lock: each pin of the render list, then of the capture
    // list, answers whether it runs; true at the first that does. IRQL <= DISPATCH_LEVEL.
    virtual bool IsAnyPinRunning() = 0;

protected:
    ~WavePinSet() = default;
};
