// The set of streams that use a device's engine: render streams of wave pins (StreamNode) and
// client streams (ClientStream) of control clients and capture pins. Their running count becomes
// the engine's run control: the first running stream starts streaming, further ones confirm it,
// the last one to stop stops it (unless the stream set keeps the engine running). As the stream
// set's listener it services every running stream once per device period and answers how many
// frames may pass before one needs attention again, or -1 when none runs.
//
// One per device, created and destroyed with the device context (StreamManagerParts.h). Every
// operation runs at DISPATCH_LEVEL or below and takes only spin locks. Lock order: list lock,
// then running lock or a node's lock; running lock, then a node's lock or a stream's lock. Run
// control goes to the engine only after the running lock is released.
#pragma once

#include <wdm.h>

#include "device/StreamConfiguration.h"
#include "engine/ClientStream.h"
#include "engine/RoutingStreamSink.h"
#include "engine/StreamInterfaces.h"
#include "engine/StreamNode.h"

class EngineRouting;
class DeviceStreamSink;

// A client stream of the stream manager: the stream and the writer its owner sends render data
// through (null until the owner sets it).
struct ManagedClientStream : ClientStream
{
    explicit ManagedClientStream(StreamClientSink* owner) : ClientStream(owner) {}
    StreamWriter* writer = nullptr;
};

inline constexpr LONG kStreamPending = static_cast<LONG>(0x8000000A);  // E_PENDING
// StopPinStream and SetClientStreamRunning when nothing had to change.
inline constexpr LONG kStreamUnchanged = 1;

class StreamManager final : public RoutingStreamSink, public StreamWriter
{
public:
    // Registers with the routing as its listener and copies its configuration.
    explicit StreamManager(EngineRouting* routing);
    // Unregisters; streams still kept are freed.
    ~StreamManager();
    StreamManager(const StreamManager&) = delete;
    StreamManager& operator=(const StreamManager&) = delete;

    void SetDeviceSink(DeviceStreamSink* sink) { deviceSink = sink; }
    EngineRouting* Routing() const { return routing; }
    StreamWriter* Writer() { return this; }
    // A copy of the configuration the manager's streams work in.
    void GetConfiguration(StreamConfiguration* record);

    // ---- Render streams of wave pins ----------------------------------------------------------
    // Null when out of memory.
    StreamNode* AddPinStream(PinStreamSink* sink);
    // E_FAIL while the node waits for the device; frames 0 keeps the block size.
    LONG SetNodeBuffers(StreamNode* node, PVOID const* buffers, ULONG frames);
    // Starts the node when needed and hands its block on: E_PENDING when it is queued (the pin
    // hears OnNodePeriod once the device consumed it), E_FAIL while waiting, or the stream set's
    // answer when the block was placed at once. E_FAIL, starting nothing, in a configuration
    // without channel buffers.
    LONG ServicePinStream(StreamNode* node);
    // The block to the stream set at the node's position. E_FAIL when busy or not running.
    LONG TransferPinStream(StreamNode* node);
    // 0, or 1 when the node was not running.
    LONG StopPinStream(StreamNode* node);
    void RemovePinStream(StreamNode* node);
    void SetNodeRunning(StreamNode* node, bool running);
    void ClearNodePending(StreamNode* node);

    // ---- Client streams ----------------------------------------------------------------------
    // Null when out of memory.
    ManagedClientStream* AddClientStream(StreamClientSink* sink);
    // A capture pin's own stream (constructed by the pin, memory tagged "PcNw") joins the list.
    void InsertClientStream(ClientStream* stream);
    // 0, 1 when the stream already had that state, E_FAIL for a buffer below the rate's minimum
    // or, when starting, a configuration without channel buffers.
    LONG SetClientStreamRunning(ClientStream* stream, bool on);
    // Stops, unlinks, destroys and frees the stream.
    void RemoveClientStream(ClientStream* stream);
    // The same, after marking the stream stopped (no position, counters cleared).
    void DiscardClientStream(ClientStream* stream);

    // ---- Queries and control -----------------------------------------------------------------
    bool IsAnyStreamRunning();
    // The running count as it stands (read under the running lock).
    LONG RunningCount();
    // While a stream runs only reports the rate in force (and the configuration index in
    // force into the record); otherwise switches to that rate index of the record's
    // configuration first.
    ULONG ApplyRateIndex(StreamConfiguration* record, ULONG rateIndex);
    LONG WriteOutput(LONG* position, PVOID const* buffers, ULONG frames, ULONG format,
                     ULONG interleavedChannels, ULONG startChannel) override;

    // ---- The stream set's listener -----------------------------------------------------------
    void OnConfigurationApplied(const StreamConfiguration* configuration) override;
    LONG OnPeriod(ULONG configurationIndex, PVOID* inputPointers, ULONG frames,
                  ULONG streamPosition, LONG flags) override;
    void OnRateChanged(ULONG configurationIndex, ULONG rate) override;
    bool IsActive() override { return IsAnyStreamRunning(); }
    void OnStreamingChanged(LONG state) override;

private:
    LONG ConfigurationIndex();
    // The running count's 0 edge and further starts as run control for the stream set.
    LONG RequestTransport(ULONG mode);
    // The rings were rewound: positions kept in them mean nothing now. Running nodes are placed
    // anew at a period's stream position, their next block after the last one they placed.
    void UnplaceRunningNodes();
    // A node's block as a transfer hands it to the stream set, read in the hold that decided the
    // transfer so a period takes the node lock once before placing the block and once after.
    struct PinBlock
    {
        LONG position;
        ULONG configurationIndex;
        PVOID const* buffers;
        ULONG frames;
        ULONG format;
        ULONG channels;
        ULONG startChannel;
    };
    // Under the node lock: the node marked busy and its block read; false when already busy.
    static bool TakePinBlock(StreamNode* node, PinBlock* block);
    // The block to the stream set, the node's answer recorded and the busy mark dropped; calls the
    // pin on a late block.
    LONG PlaceBlock(StreamNode* node, PinBlock* block);
    // PlaceBlock after the stream set answered: the answer recorded, the busy mark dropped.
    void FinishBlock(StreamNode* node, const PinBlock& block, LONG position, LONG result);
    // The blocks a period takes from consumed nodes, placed together in one hold of the stream
    // set's lock; then each node's answer and its pin's period call.
    struct PeriodBatch;
    void PlacePeriodBatch(PeriodBatch* batch);
    void ServicePinsForPeriod(LONG configurationIndex, ULONG frames, ULONG streamPosition,
                              LONG flags, LONG* result);
    // A period's frames and stream position for the client streams.
    struct ClientPeriod
    {
        ULONG frames;
        ULONG streamPosition;
    };
    void ServiceClientsForPeriod(LONG configurationIndex, PVOID* inputPointers,
                                 const ClientPeriod& period, LONG flags, LONG* result);
    bool UnlinkClientStream(ClientStream* stream);
    void FreeClientStream(ClientStream* stream);
    void FreeNode(StreamNode* node);

    DeviceStreamSink* deviceSink = nullptr;
    StreamConfiguration configuration{};
    EngineRouting* routing;
    ClientStream* clientStreams = nullptr;
    StreamNode* pinNodes = nullptr;
    LONG runningCount = 0;
    KSPIN_LOCK listLock;
    KSPIN_LOCK runningLock;
    KSPIN_LOCK configurationLock;
};

// False for the empty configuration the device model falls back to when the channel buffers of
// a configuration could not be allocated: no stream can be served in it, so none may start.
inline bool HasChannelBuffers(const StreamConfiguration& configuration)
{
    return configuration.outputLayouts.count != 0 || configuration.inputLayouts.count != 0;
}

// Valid only for objects the manager handed out and has not yet freed.
inline bool IsLiveNode(const StreamNode* node)
{
    return node != nullptr && node->magic == kStreamObjectMagic;
}
inline bool IsLiveClientStream(const ClientStream* stream)
{
    return stream != nullptr && stream->magic == kStreamObjectMagic;
}
