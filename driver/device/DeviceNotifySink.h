// The two small interfaces through which the device's objects report back to its context.
#pragma once

#include <wdm.h>

struct ClockSourceInfo;

// Called by the device model (IRQL: as its caller).
class DeviceGeneralSink
{
public:
    virtual void OnClockStateChanged(const ClockSourceInfo* clockSource, LONG status,
                                     ULONG rate) = 0;  // slot 0
    virtual void OnConfigurationChanged() = 0;         // slot 1
    virtual void OnClockRateChanged() = 0;             // slot 2
    virtual void OnDeviceStarted() = 0;                // slot 3
    virtual void OnGeneralChange() = 0;                // slot 4

protected:
    ~DeviceGeneralSink() = default;
};

// Called by the stream manager.
class DeviceStreamSink
{
public:
    // streamingState: 0 stopped, 1 stopped and kept for the next start, 2 starting.
    virtual void OnStreamsReconfigured(LONG streamingState) = 0;                 // slot 0
    virtual void OnStreamRateApplied(ULONG configurationIndex, ULONG rate) = 0;  // slot 1

protected:
    ~DeviceStreamSink() = default;
};
