// A stream that carries the device's input channels to a consumer supplying its own buffers one
// at a time (a control client's low-latency streaming, a capture pin). Every device period the
// stream manager hands it the period's input pointers; it fills the consumer's current buffer in
// the consumer's format, tells the consumer when that buffer is full, and keeps what arrives
// beyond it in its own ring until the next buffer is given.
//
// The owner allocates the memory (zeroed or not) and builds the stream in it with
// ConstructClientStream; DestroyClientStream takes it down again, the owner frees the memory.
// Lock order: period lock, then lock; the consumer is called after lock is released.
#pragma once

#include <wdm.h>

#include "audio/BufferAllocator.h"
#include "audio/ChannelBufferSet.h"
#include "audio/ChannelLayout.h"
#include "audio/SampleFormat.h"
#include "engine/StreamNode.h"

struct StreamConfiguration;
class StreamClientSink;
struct ClientStream;

// Flag handed to the consumer when captured frames found no room in the ring.
inline constexpr ULONG kCaptureOverflowFlag = 0x02;
// Frames the ring holds at least, whatever the consumer's buffer size.
inline constexpr ULONG kCaptureRingMinimumFrames = 388;
inline constexpr ULONG kCaptureMaxLayouts = 32;
// fill before the first buffer and after a stop: counts as a full buffer.
inline constexpr ULONG kNoCaptureBuffer = 0xFFFFFFFF;

// The running operations, as a table: whoever keeps the stream calls slot 0. The stream manager
// gives its streams a table whose slot 0 is the guarded form.
struct ClientStreamOperations
{
    void (*setRunning)(ClientStream* stream, bool on);
    void (*setRunningGuarded)(ClientStream* stream, bool on);
};

struct ClientStream
{
    explicit ClientStream(StreamClientSink* owner);
    ClientStream(const ClientStream&) = delete;
    ClientStream& operator=(const ClientStream&) = delete;

    // 0, E_FAIL while running, E_INVALIDARG for a sample size other than 2, 3 or 4 bytes, no
    // buffer size or a first channel beyond the configuration's input channels, or the ring's
    // failure (the stream is then left unconfigured).
    // interleavedChannels 0 takes every input channel of the configuration, one buffer each (at
    // most 32).
    LONG SetCaptureFormat(const StreamConfiguration* configuration, ULONG bufferFrames,
                          ULONG bytesPerSample, ULONG interleavedChannels, ULONG firstChannel);
    // Slot 0 of the stream's operations.
    void Run(bool on) { operations->setRunning(this, on); }
    // One device period: frames (when the whole period was taken), 0 for no frames, 1 when the
    // device has no usable input channel, E_FAIL for another configuration, no inputs or a stopped
    // stream.
    LONG CapturePeriod(ULONG frames, PVOID const* inputPointers, LONG forConfiguration);
    // The consumer's next buffer (one pointer per layout), once the current one is full. A
    // non-zero bufferFrames replaces the buffer size. 0, E_FAIL (no format, or the current buffer
    // is still filling: nothing changes) or E_INVALIDARG (no buffers).
    LONG NextCaptureBuffer(PVOID const* buffers, ULONG bufferFrames);
    // Frames the stream still needs before its current buffer is full; with a full buffer, its
    // size less the backlog already waiting for the next one (may be negative).
    LONGLONG FramesUntilBufferFull();
    // Zeroes frames first .. first + count - 1 of the consumer's current buffer. Under lock.
    void SilenceBufferFrames(ULONG first, ULONG count);
    // Under the period lock. Whether a block written at the render position would start where
    // the device has already been: written there it would land a lap away.
    bool OutputBehindDevice() const;
    // Under the period lock: the render position moved on by frames, by a write (moved true) or
    // over a block the device has passed, which is skipped.
    void AdvanceOutput(ULONG frames, bool moved);

    const ClientStreamOperations* operations;
    LONG configurationIndex;  // the configuration the format was set for; -1 none
    UCHAR running;
    PVOID const* userBuffers;  // the consumer's current buffer, one pointer per layout
    ULONG periodFrames;        // frames of one consumer buffer
    SampleFormatCode format;   // (bytes per sample - 1) | 0x80000000; 0 not configured
    ULONG channels;
    UCHAR interleaved;
    ULONG startChannel;   // first device input channel, counted across the input layouts
    LONG outputPosition;  // the owner's render position in the stream set's rings; -1 none
    ULONG magic;          // kStreamObjectMagic while constructed
    KSPIN_LOCK lock;      // the fields below it and the ring
    LONG volatile busy;   // SetRunningGuarded's serialisation
    ULONG fill;           // frames in the current buffer; kNoCaptureBuffer counts as full
    PoolAllocator allocator;
    ChannelBufferSet ring;  // frames that arrived while the current buffer was full
    StreamClientSink* owner;
    ChannelLayoutList deviceInputs;  // the configuration's input layouts
    ChannelLayout layoutItems[kCaptureMaxLayouts];
    ChannelLayoutList layouts;  // the consumer's buffers
    UCHAR managerFlag;          // kept by the stream manager: a full buffer is announced once
    ULONG pending;              // frames due that found no room; they start the next buffer
    KSPIN_LOCK periodLock;
    // Where the render position stands in device time, under the period lock: frames it stands
    // ahead of the stream position (negative: behind; the stream manager takes each period's
    // frames off, the owner adds each block it writes or skips), and, from the last period, the
    // frames from the device's next frame to the stream position and the rings' capacity. In the
    // rings alone a place behind the device looks like one almost a lap ahead of it.
    LONG outputAhead;
    ULONG outputLead;
    ULONG outputCapacity;
    ClientStream* listNext;  // the stream manager's list
};

ClientStream* ConstructClientStream(void* memory, StreamClientSink* owner);
void DestroyClientStream(ClientStream* stream);
// The two running operations of the default table.
void SetClientStreamRunningState(ClientStream* stream, bool on);
void SetClientStreamRunningGuarded(ClientStream* stream, bool on);
extern const ClientStreamOperations kClientStreamOperations;
