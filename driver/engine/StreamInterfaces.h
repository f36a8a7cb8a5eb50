// The interfaces between the stream manager and the streams it keeps: what a wave render pin
// hears about its node, what the consumer of a client stream hears, and the writer a client
// stream's owner sends its render data through.
#pragma once

#include <wdm.h>

struct StreamNode;
struct ClientStream;

// Implemented by wave render pins. Called at DISPATCH_LEVEL from the device period, or at the
// caller's level from the manager's own operations.
class PinStreamSink
{
public:
    // The node's previous block was consumed and its next block was queued.
    virtual void OnNodePeriod(StreamNode* node) = 0;  // slot 0
    virtual void OnNodeConfigurationChanged(StreamNode* node,
                                            LONG configurationIndex) = 0;  // slot 1
    // The block came too late to be placed; lateness is always 1.
    virtual void OnNodeLate(StreamNode* node, ULONG lateness) = 0;  // slot 2
    // 0 stopped, 1 stopped but kept for the next start, 2 starting.
    virtual void OnNodeStreamingChanged(LONG state) = 0;  // slot 3

protected:
    ~PinStreamSink() = default;
};

// Implemented by the consumers of client streams (control clients, capture pins). Called at
// DISPATCH_LEVEL from the device period, never under the stream's own lock.
class StreamClientSink
{
public:
    // The consumer's current buffer is full; it may give the next one (NextCaptureBuffer).
    virtual void OnDevicePeriod(ClientStream* stream) = 0;  // slot 0
    virtual void OnStreamConfigurationChanged(ClientStream* stream,
                                              LONG configurationIndex) = 0;  // slot 1
    // The period's status bits; 0x02: captured frames found no room and were counted only.
    virtual void OnFlags(ClientStream* stream, ULONG flags) = 0;  // slot 2

protected:
    ~StreamClientSink() = default;
};

// Render data of a client stream's owner into the engine's rings, at the position it keeps
// (-1 until the period places it). Answers as the stream set's RenderIntoDevice does.
class StreamWriter
{
public:
    virtual LONG WriteOutput(LONG* position, PVOID const* buffers, ULONG frames, ULONG format,
                             ULONG interleavedChannels, ULONG startChannel) = 0;  // slot 0

protected:
    ~StreamWriter() = default;
};
