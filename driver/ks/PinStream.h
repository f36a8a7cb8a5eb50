// The object behind every streaming pin of the driver's filters (the pin's context, in its object
// bag): the base, and the operations of the wave pin streams that the rest of the driver asks.
#pragma once

#include <wdm.h>

class PinStream
{
public:
    virtual ~PinStream() = default;
};

class WavePinStream : public PinStream
{
public:
    // The engine object exists and runs.
    virtual bool IsPinRunning() = 0;                  // slot 1
    virtual bool IsCapturePin() = 0;                  // slot 2
    virtual bool HasEngineObject() = 0;               // slot 3
    virtual void SetFirstChannel(ULONG channel) = 0;  // slot 4
};

// The performance counter in 100 ns units or in nanoseconds, without 64-bit overflow: the counter
// is split into its 32-bit halves. The driver's one clock for "now". Any IRQL.
ULONGLONG QpcTo100ns(ULONGLONG counter, ULONGLONG frequency);
ULONGLONG QpcToNs(ULONGLONG counter, ULONGLONG frequency);
ULONGLONG Now100ns();
