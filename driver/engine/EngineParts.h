// What the engine's streaming control hands work to: the routing that takes every period (the
// stream set, or a stand-in in the streaming control's own tests) and the device-model side it asks
// about the clock and the persisted transfers-ahead value.
#pragma once

#include <wdm.h>

class EnginePeriodRouting
{
public:
    // A new start (restart: the stream set had started before).
    virtual void ResetForStart(bool restart) = 0;
    virtual void ResetRings() = 0;
    // 2 starting, 1 stopped but kept, 0 stopped.
    virtual void NotifyStreamManager(LONG state) = 0;
    // One period: inputs holds one buffer per USB input layout (null entries when OUT only).
    // Answers the credit; negative when no stream needs streaming any more.
    virtual LONG RoutingTick(ULONG frameKey, PVOID* inputs, ULONG framesIn, LONG flags,
                             ULONG framesOut, ULONG extraFrames) = 0;
    // Output for one outgoing transfer: writes frames x channels into *data, or points *data at
    // data of its own (null: there is nothing to play). previousKey and previousFrames are the
    // start frame and samples of the transfer slot before this one.
    virtual void GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex, PVOID* data,
                                     bool forceCopy, ULONG previousKey, ULONG previousFrames) = 0;
    // The USB layer is done with the packet that carried destination.
    virtual void CancelPacket(ULONG bufferIndex, PVOID destination) = 0;

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
