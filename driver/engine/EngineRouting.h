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

#include "U32Array.h"
#include "audio/BufferAllocator.h"
#include "audio/ChannelBufferSet.h"
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
    // Adds frames at *position into the mix bus and the output ring and moves *position on.
    // Answers 0 or the ring's non-negative result; -2 or -1 when the free space from the position
    // is below one ring block or would fall below it (nothing written, the position still moves);
    // E_PENDING for a negative position or a configuration index not in force; 0 without an
    // output ring; E_INVALIDARG for missing buffers or an unknown sample format.
    // interleavedChannels 0: buffers holds one mono buffer per mix-bus channel.
    LONG RenderIntoDevice(ULONG configurationIndex, LONG* position, PVOID const* buffers,
                          ULONG frames, ULONG format, ULONG interleavedChannels,
                          ULONG startChannel);
    // One writer's block for RenderBlocks: RenderIntoDevice's arguments, position in-out, and its
    // answer.
    struct RenderRequest
    {
        ULONG configurationIndex;
        LONG position;
        PVOID const* buffers;
        ULONG frames;
        ULONG format;
        ULONG interleavedChannels;
        ULONG startChannel;
        LONG result;
    };
    // RenderIntoDevice for every request in turn, in one hold of the routing lock: a period
    // places the blocks of all its streams without taking the lock once per stream.
    void RenderBlocks(RenderRequest* requests, ULONG count);

    // ---- The routing period ------------------------------------------------------------------
    // One completed USB period; the answer is the engine's credit (negative stops streaming).
    LONG RoutingTick(ULONG frameKey, PVOID* inputPointers, ULONG framesIn, LONG flags,
                     ULONG framesOut, ULONG extraFrames);
    // Frames from the device's next frame on to the stream position of the last period, and the
    // rings' capacity (0 without rings): a writer that knows how far it stands from the stream
    // position tells a place behind the device from one a lap ahead with them.
    void GetStreamLead(ULONG* lead, ULONG* capacity);

    // ---- The device side ---------------------------------------------------------------------
    // Output for one outgoing transfer: *data null asks for a ring pointer; otherwise the bytes
    // are copied into *data when forced or when the region crosses a 4096-byte page (a packet
    // record keeps the copy up to date), else *data becomes the ring pointer. Null when the ring
    // is not configured, the request is too old, or it asks for a whole lap of the ring or more.
    // A request too old to be served or one that breaks the chain of frame keys marks the next
    // routing period discontinuous (flag 0x100), so the streams place their data again.
    void GetDeviceOutputData(ULONG frameKey, ULONG frames, ULONG bufferIndex, PVOID* data,
                             bool forceCopy, ULONG previousKey, ULONG previousFrames);
    // The USB layer cancelled or completed the packet whose copy went to destination.
    void CancelPacket(ULONG bufferIndex, PVOID destination);

    // ---- Mixer and meters (the device model's properties) -------------------------------------
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
    // An output copy handed to the USB layer, kept up to date while writers still add.
    struct PacketRecord
    {
        ULONG bufferIndex;
        const UCHAR* source;  // into the output ring
        ULONG firstBytes;
        const UCHAR* secondSource;  // the ring's start
        ULONG secondBytes;
        PUCHAR destination;  // the USB layer's copy; null once removed
        UCHAR refreshed;
    };

    // Under routingLock.
    bool RingConfigured() const { return outputRing.Capacity() != 0; }
    // RenderIntoDevice's checks that need no lock: 1 to go on, else its answer.
    static LONG CheckRenderArguments(const LONG* position, PVOID const* buffers, ULONG format);
    // RenderIntoDevice's work, under the routing lock.
    LONG RenderHeld(ULONG configurationIndex, LONG* position, PVOID const* buffers, ULONG frames,
                    ULONG format, ULONG interleavedChannels, ULONG startChannel);
    // RenderBlocks: a block RenderHeld would add as one run into both rings, with room; its
    // start in the rings. Then blocks with that start and length, placed together.
    bool IsSharedSpanBlock(const RenderRequest& request, ULONG* start) const;
    bool IsOneRunBlock(const RenderRequest& request) const;
    bool IsInSharedSpan(const RenderRequest& request, const RenderRequest& first,
                        ULONG start) const;
    void RenderSharedSpan(RenderRequest* requests, ULONG count, ULONG start);
    ULONG CurrentFramesPerMs() const;
    ULONG DeviceInputItemCount() const;
    void ClearPacketRecords();
    void ApplyKeepRunningLocked(bool on, RoutingStreamSink* sink);
    RoutingStreamSink* CurrentSink();
    LONG ConfigureRings(ULONG capacity, ULONG guard);
    LONG ConfigureMatrixAndPeaks();
    void RefreshBounceCopies(ULONG position, ULONG frames);
    LONG MixIntoOutput(ULONG frames, const ChannelLayoutList& sources, PVOID const* buffers,
                       ULONG channels, ULONG startChannel);
    bool RowsSilent(ULONG firstRow, ULONG count) const;
    bool RowsUnit(ULONG firstRow, ULONG count) const;

    // Under tickLock.
    LONG MonitorInputs(ULONG* position, PVOID* inputPointers, ULONG frames);
    void CollectInputPointers(ULONG* position, PVOID* inputPointers, ULONG frames);
    void MeasureInputPeaks(ULONG frames, PVOID* inputPointers);
    static void MeasureSetPeaks(const ChannelBufferSet& set, ULONG position, ULONG frames,
                                U32Array* peaks, ULONG firstSlot);
    ULONG FramesToClear(ULONG framesIn, ULONG framesOut);

    // Under routingLock: a ring region served to the device; false when there is none.
    bool DevicePosition(ULONG frameKey, ULONG frames, ULONG previousKey, ULONG previousFrames,
                        ULONG* position);
    void CopyToDevice(ULONG bufferIndex, const BufferRegion& region, ULONG bytes,
                      PUCHAR destination);

    StreamingEngine* engine;

    KSPIN_LOCK routingLock;
    KSPIN_LOCK tickLock;
    KSPIN_LOCK inputPeaksLock;
    KSPIN_LOCK outputPeaksLock;
    KSPIN_LOCK transportLock;

    RoutingStreamSink* streamSink = nullptr;
    StreamConfiguration configuration{};
    ULONG rateIndex = 0;
    ULONG rate = 0;

    // Declared before the rings: a ring gives its buffers back to its allocator when it goes.
    ContiguousAllocator ringAllocator;
    PoolAllocator mixBusAllocator;
    ChannelBufferSet outputRing;  // the device's format, one buffer per output layout
    ChannelBufferSet mixBus;      // 32-bit, one buffer of every mix-bus channel

    LONG monitorPosition = -1;  // frames; -1 not yet placed
    LONG inputPosition = -1;
    ULONG consumedPosition = 0;
    ULONG frameDeficit = 0;  // frames the device consumed but did not deliver
    ULONG streamPosition = 0;
    ULONG streamLead = 0;  // frames from the read index to streamPosition

    // The device-request chain.
    LONG lastKey = -1;
    ULONG lastFrames = 0;
    ULONG devicePosition = 0;
    ULONG chainKey = 0;
    ULONG chainFrames = 0;
    ULONG chainBase = 0;
    // A request was served at a guessed place (the chain broke) or not at all: the streams hear
    // of it with the next period's discontinuity flag.
    UCHAR outputMissed = 0;

    ULONG framesInTotal = 0;  // since the last start
    ULONG framesOutTotal = 0;
    UCHAR started = 0;
    ULONG startupInterval = 0;  // ms

    PacketRecord packetRecords[kPacketRecordCount] = {};
    ULONG packetWrite = 0;
    ULONG packetRead = 0;
    UCHAR firstPeriodPending = 0;

    GainMatrix matrix;
    U32Array inputPeaks;   // mix-bus channels, then input channels
    U32Array outputPeaks;  // one per usable output channel

    UCHAR keepRunningSetting = 0;  // the transport lock guards both keep-running flags
    UCHAR keepRunning = 0;
    UCHAR meteringOn = 0;
    UCHAR matrixOn = 0;
};
