// What the engine's streaming control hands work to: the routing that takes every period (the
// stream set, or a stand-in until it exists) and the device-model side it asks about the clock
// and the persisted transfers-ahead value.
#pragma once

#include <wdm.h>

class EnginePeriodRouting
{
public:
    // A new start (restart: the stream set had started before).
    virtual void ResetForStart(bool restart) = 0;
    virtual void ResetRings() = 0;
    // 2 starting, 1 stopped but kept, 0 stopped.
    virtual void NotifyStreamManager(ULONG state) = 0;
    // One period: inputs holds one buffer per USB input layout (null entries when OUT only).
    // Answers the credit; negative when no stream needs streaming any more.
    virtual LONG RoutingTick(ULONG frameKey, PVOID* inputs, ULONG framesIn, LONG flags,
                             ULONG framesOut, ULONG extraFrames) = 0;
    virtual void GetDeviceOutputData(ULONG startFrame, ULONG samples, ULONG column,
                                     PVOID* buffer) = 0;
    virtual void CancelPacket(ULONG startFrame, ULONG samples, ULONG column, PVOID buffer) = 0;

protected:
    ~EnginePeriodRouting() = default;
};

class EngineHost
{
public:
    virtual bool IsExternalClockSelected() = 0;
    // PASSIVE_LEVEL: writes the transfers-ahead value to the registry.
    virtual void StoreTransfersAhead(ULONG value) = 0;

protected:
    ~EngineHost() = default;
};
