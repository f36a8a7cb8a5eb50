// The routing's listener: the stream manager. The routing calls it for every applied
// configuration, every period once started, every rate change and to ask whether any stream runs;
// the engine tells it about its streaming state through the same link.
#pragma once

#include <wdm.h>

struct StreamConfiguration;

class RoutingStreamSink
{
public:
    // DISPATCH_LEVEL or below, outside the routing's locks.
    virtual void OnConfigurationApplied(const StreamConfiguration* configuration) = 0;  // slot 0
    // Once per device period, inside the routing's tick lock. inputPointers holds one entry per
    // input layout of the configuration (device inputs, then loopback inputs read back from the
    // output ring). Answers how many frames may pass before a stream needs attention again, or -1
    // when no stream runs (the engine then stops streaming).
    virtual LONG OnPeriod(ULONG configurationIndex, PVOID* inputPointers, ULONG frames,
                          ULONG streamPosition, LONG flags) = 0;           // slot 1
    virtual void OnRateChanged(ULONG configurationIndex, ULONG rate) = 0;  // slot 2
    virtual bool IsActive() = 0;                                           // slot 3
    // 0 stopped, 1 stopped but kept for the next start, 2 starting.
    virtual void OnStreamingChanged(LONG state) = 0;  // slot 4

protected:
    ~RoutingStreamSink() = default;
};
