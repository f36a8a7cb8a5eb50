// The engine's stream set: the current stream configuration, the device-side output ring in the
// device's own sample format, the 32-bit mix bus every render stream adds into, the routing gain
// matrix and the peak meters. Render streams write through RenderIntoDevice; the USB layer takes
// output through GetDeviceOutputData (a pointer into the ring, or a bounce copy kept up to date
// while late writers still add); once per completed USB period RoutingTick hands the inputs to
// the stream manager, meters and silences what the device consumed.
//
// Lives inside the engine, constructed and destroyed with it. Every entry point runs at
// DISPATCH_LEVEL or below. Lock order: tick lock, routing lock, a peak-array lock; the transport
// lock alone or inside the routing lock.
#pragma once

#include <wdm.h>

#include "audio/GainMatrix.h"
#include "device/StreamConfiguration.h"

class StreamingEngine;
class RoutingStreamSink;

// RenderIntoDevice's answers besides 0 and the failure codes.
inline constexpr LONG kRenderTooLate = -2;  // the block came too late to be placed
inline constexpr LONG kRenderNoRoom = -1;   // not enough room for the whole block
inline constexpr LONG kRenderPending = static_cast<LONG>(0x8000000A);  // E_PENDING
inline constexpr LONG kRoutingRingsFailed = -3;
inline constexpr LONG kFirstPeriodFlag = 0x100;
inline constexpr ULONG kPacketRecordCount = 64;

class EngineRouting
{
public:
    explicit EngineRouting(StreamingEngine* engine);
    // Releases everything (ReleaseRouting).
    ~EngineRouting();
    EngineRouting(const EngineRouting&) = delete;
    EngineRouting& operator=(const EngineRouting&) = delete;

    // ---- The listener ------------------------------------------------------------------------
    // Null unregisters; a period that runs meanwhile finishes with the old one first.
    void SetStreamSink(RoutingStreamSink* sink);
    // The engine's streaming state, relayed to the listener when there is one.
    void NotifyStreamingChanged(LONG state);
    // The listener has running streams.
    bool HasActiveStreams();

    // ---- Configuration and control -----------------------------------------------------------
    // 0, -3 (rings could not be configured), E_FAIL (the engine streams), E_INVALIDARG or
    // E_OUTOFMEMORY. rateIndex -1 keeps the current rate when the new list has it.
    LONG ConfigureRouting(const StreamConfiguration* configuration, LONG rateIndex);
    // The rate in force afterwards; a configuration index other than the current one is
    // overwritten with it and nothing changes.
    ULONG ChangeRate(LONG* configurationIndex, ULONG rateIndex);
    void GetRoutingState(LONG* configurationIndex, ULONG* rateIndex, ULONG* rate);
    // A copy of the configuration in force (index -1 before any).
    void GetConfiguration(StreamConfiguration* record);
    // 0 stop (unless kept running), 1 or 2 run: the engine's run control. Others: E_FAIL.
    LONG SetTransportMode(ULONG mode);
    LONG ApplyKeepRunning(bool on);
    // The device model's keep-running property: a change applies it under the transport lock.
    bool GetKeepRunningSetting();
    LONG SetKeepRunningSetting(bool on);
    bool IsKeepRunning();
    void ResetRings();
    void ReleaseRouting();
    // The engine's start: counters back to a fresh start; a restart of a set that had started
    // marks its first period pending (flag 0x100).
    void ResetForStart(bool restart);
    void SetStartupInterval(ULONG milliseconds);
    StreamingEngine* Engine() const { return engine; }

    // ---- Writers -------------------------------------------------------------------------------
    // 0 (or the ring's result), -1, -2, E_INVALIDARG or E_PENDING; see the header comment.
    // interleavedChannels 0: buffers holds one mono buffer per mix-bus channel.
    LONG RenderIntoDevice(ULONG configurationIndex, LONG* position, PVOID const* buffers,
                          ULONG frames, ULONG format, ULONG interleavedChannels,
                          ULONG startChannel);

    // ---- The routing period
    // ---------------------------------------------------------------------- One completed USB
    // period; the answer is the engine's credit (negative stops streaming).
    LONG RoutingTick(ULONG frameKey, PVOID* inputPointers, ULONG framesIn, LONG flags,
                     ULONG framesOut, ULONG extraFrames);

    // ---- The device side
    // -------------------------------------------------------------------------- Output for one
    // outgoing transfer: *data null asks for a ring pointer; otherwise the bytes are copied into
    // *data when forced or when the region crosses a 4096-byte page (a packet record keeps the copy
    // up to date), else *data becomes the ring pointer. Null when the ring is not configured or the
    // request is too old.
    void GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex, PVOID* data,
                             bool forceCopy, ULONG previousKey, ULONG previousFrames);
    // The USB layer cancelled or completed the packet whose copy went to destination.
    void CancelPacket(ULONG bufferIndex, PVOID destination);

    // ---- Mixer and meters (the device model's properties)
    // ----------------------------------------
    void GetMatrixSize(ULONG* rows, ULONG* columns);
    // STATUS_UNSUCCESSFUL, touching nothing, unless row < rows and firstColumn + count <= columns.
    NTSTATUS ReadMatrixRow(ULONG row, ULONG firstColumn, ULONG count, SampleGain* gains);
    NTSTATUS WriteMatrixRow(ULONG row, ULONG firstColumn, ULONG count, const SampleGain* gains);
    // A client wrote the mixer: writers go through the matrix from now on.
    void MarkMixerUsed();
    // Turns metering on, then copies at most maxCount peaks of the input (mix bus and inputs) or
    // output side and clears them. Answers how many it copied.
    ULONG TakePeaks(bool input, ULONG* peaks, ULONG maxCount);

private:
    StreamingEngine* engine;
    // The rest is the routing's own.
};
