#include "engine/ClientStream.h"

#include <new>

#include "audio/ChannelTransfer.h"
#include "audio/DriverResult.h"
#include "audio/PoolTags.h"
#include "common/InStackLock.h"
#include "device/StreamConfiguration.h"
#include "engine/RoutingRing.h"
#include "engine/StreamInterfaces.h"

namespace {

ULONG SaturatingAdd(ULONG a, ULONG b)
{
    return a > 0xFFFFFFFFu - b ? 0xFFFFFFFFu : a + b;
}

}  // namespace

const ClientStreamOperations kClientStreamOperations = {
    SetClientStreamRunningState,
    SetClientStreamRunningGuarded,
};

ClientStream::ClientStream(StreamClientSink* streamOwner)
    : operations(&kClientStreamOperations),
      configurationIndex(-1),
      running(0),
      userBuffers(nullptr),
      periodFrames(0),
      format(0),
      channels(0),
      interleaved(0),
      startChannel(0),
      outputPosition(-1),
      magic(kStreamObjectMagic),
      lock(0),
      busy(0),
      fill(kNoCaptureBuffer),
      allocator(NonPagedPoolNx, kClientStreamTag),
      owner(streamOwner),
      deviceInputs{0, nullptr},
      layoutItems{},
      layouts{0, layoutItems},
      managerFlag(0),
      pending(0),
      periodLock(0),
      outputAhead(0),
      outputLead(0),
      outputCapacity(0),
      listNext(nullptr)
{
    KeInitializeSpinLock(&lock);
    KeInitializeSpinLock(&periodLock);
    ring.InitBufferSet(&allocator, 1);
}

ClientStream* ConstructClientStream(void* memory, StreamClientSink* owner)
{
    return new (memory) ClientStream(owner);
}

void DestroyClientStream(ClientStream* stream)
{
    stream->owner = nullptr;
    stream->fill = kNoCaptureBuffer;
    stream->ring.ReleaseBufferSet();
    stream->configurationIndex = -1;
    stream->running = 0;
    stream->userBuffers = nullptr;
    stream->format = 0;
    stream->pending = 0;
    stream->outputPosition = -1;
    stream->magic = 0;
    stream->~ClientStream();
}

LONG ClientStream::SetCaptureFormat(const StreamConfiguration* configuration, ULONG bufferFrames,
                                    ULONG bytesPerSample, ULONG interleavedChannels,
                                    ULONG firstChannel)
{
    if (configuration == nullptr || bufferFrames == 0 || bytesPerSample < 2 || bytesPerSample > 4) {
        return E_INVALIDARG;
    }
    // The first channel comes from the consumer: one past the device's inputs would have every
    // period copy nothing and still hand over the buffer as captured.
    const ULONG inputChannels = configuration->inputLayouts.items != nullptr
                                    ? TotalChannels(configuration->inputLayouts)
                                    : 0;
    const bool takesChannels = interleavedChannels > 0 || configuration->inputChannels > 0;
    if (takesChannels && inputChannels != 0 && firstChannel >= inputChannels) {
        return E_INVALIDARG;
    }
    InStackLock hold(&lock);
    if (running != 0) {
        return E_FAIL;
    }
    configurationIndex = static_cast<LONG>(configuration->index);
    format = (bytesPerSample - 1) | 0x80000000u;
    periodFrames = bufferFrames;
    deviceInputs = configuration->inputLayouts;
    interleaved = interleavedChannels > 0 ? 1 : 0;
    if (interleaved != 0) {
        channels = interleavedChannels;
        layoutItems[0] = {format, channels, 0, 0};
        layouts.count = 1;
    } else {
        channels = configuration->inputChannels < kCaptureMaxLayouts ? configuration->inputChannels
                                                                     : kCaptureMaxLayouts;
        for (ULONG i = 0; i < channels; ++i) {
            layoutItems[i] = {format, 1, 0, 0};
        }
        layouts.count = channels;
    }
    startChannel = firstChannel;
    pending = 0;
    const ULONG capacity =
        periodFrames > kCaptureRingMinimumFrames ? periodFrames : kCaptureRingMinimumFrames;
    LONG result = 0;
    if (layouts.count > 0) {
        result = ring.ConfigureBufferSet(capacity, layouts.count, layoutItems, 1);
    } else {
        ring.ReleaseBufferSet();
    }
    if (result < 0) {
        format = 0;
        configurationIndex = -1;
    }
    return result;
}

void SetClientStreamRunningState(ClientStream* stream, bool on)
{
    InStackLock hold(&stream->lock);
    // Read without the lock by owners deciding whether they stream.
    WriteUCharRelease(&stream->running, on ? 1 : 0);
    if (!on) {
        stream->fill = kNoCaptureBuffer;
        RewindRing(&stream->ring);
        stream->pending = 0;
        stream->outputPosition = -1;
    }
}

void SetClientStreamRunningGuarded(ClientStream* stream, bool on)
{
    while (InterlockedExchange(&stream->busy, 1) != 0) {
    }
    SetClientStreamRunningState(stream, on);
    InterlockedExchange(&stream->busy, 0);
}

LONG ClientStream::CapturePeriod(ULONG frames, PVOID const* inputPointers, LONG forConfiguration)
{
    if (forConfiguration != configurationIndex) {
        return E_FAIL;
    }
    if (channels > 0 && UsableChannels(deviceInputs) == 0) {
        return 1;
    }
    if (inputPointers == nullptr) {
        return E_FAIL;
    }
    if (frames == 0) {
        return 0;
    }
    KLOCK_QUEUE_HANDLE periodHold;
    KeAcquireInStackQueuedSpinLock(&periodLock, &periodHold);
    bool notify = false;
    bool stopped = false;
    ULONG overflowFlags = 0;
    {
        InStackLock hold(&lock);
        stopped = running == 0;
    }
    if (stopped) {
        KeReleaseInStackQueuedSpinLock(&periodHold);
        return E_FAIL;
    }
    {
        InStackLock hold(&lock);
        const ULONG room = fill < periodFrames ? periodFrames - fill : 0;
        const ULONG taken = room < frames ? room : frames;
        if (room == 0) {
            notify = managerFlag == 0;
        } else {
            if (channels > 0) {
                TransferLayouts(taken, channels, deviceInputs, inputPointers, startChannel, layouts,
                                const_cast<void* const*>(userBuffers), fill);
            }
            fill += taken;
            notify = fill >= periodFrames;
        }
        ULONG leftOver = room == 0 || notify ? frames - taken : 0;
        if (leftOver > 0) {
            ULONG free = channels > 0 ? ring.FreeFrames(0xFFFFFFFFu) : 0;
            // Frames that found no room earlier are older than these: their silence takes the
            // room first, or these would be delivered ahead of it.
            if (pending != 0 && free != 0) {
                const ULONG silent = pending < free ? pending : free;
                const ULONG start = ring.WriteIndex();
                ring.SilenceFrames(start, silent);
                ring.CommitWrite(start, silent);
                pending -= silent;
                free -= silent;
            }
            if (free < leftOver) {
                overflowFlags = channels > 0 ? kCaptureOverflowFlag : 0;
                pending = SaturatingAdd(pending, leftOver - free);
                leftOver = free;
            }
            if (channels > 0 && leftOver > 0) {
                ring.WriteChannels(leftOver, false, 0, deviceInputs, inputPointers, startChannel,
                                   channels, taken);
            }
        }
    }
    // The consumer may give its next buffer from either call: never under the stream's lock.
    if (overflowFlags != 0 && owner != nullptr) {
        owner->OnFlags(this, overflowFlags);
    }
    if (notify && owner != nullptr) {
        owner->OnDevicePeriod(this);
    }
    KeReleaseInStackQueuedSpinLock(&periodHold);
    return static_cast<LONG>(frames);
}

LONG ClientStream::NextCaptureBuffer(PVOID const* buffers, ULONG bufferFrames)
{
    if (buffers == nullptr) {
        return E_INVALIDARG;
    }
    bool notify = false;
    {
        InStackLock hold(&lock);
        if (format == 0 || fill < periodFrames) {
            return E_FAIL;
        }
        if (bufferFrames != 0) {
            periodFrames = bufferFrames;
        }
        userBuffers = buffers;
        const ULONG held = channels > 0 ? ring.UsedFrames() : 0;
        const ULONG waiting = SaturatingAdd(held, pending);
        if (waiting == 0) {
            fill = 0;
        } else {
            const ULONG excess = waiting >= periodFrames ? waiting - periodFrames : 0;
            notify = waiting >= periodFrames;
            const ULONG copy = held < periodFrames ? held : periodFrames;
            if (channels > 0) {
                ring.ReadFrames(const_cast<void* const*>(buffers), copy);
                // Frames counted in pending never arrived: they are delivered as silence, not as
                // whatever the consumer's buffer held before.
                const ULONG delivered = waiting < periodFrames ? waiting : periodFrames;
                SilenceBufferFrames(copy, delivered - copy);
                if (ring.UsedFrames() == 0 && pending != 0 && excess == 0) {
                    pending = 0;
                    fill = waiting;
                } else if (ring.UsedFrames() == 0 && pending == 0) {
                    fill = copy;
                } else {
                    if (ring.UsedFrames() == 0) {
                        pending = excess;
                    }
                    // Full already: the consumer catches up buffer by buffer. The size may have
                    // changed, so full means the new size.
                    fill = periodFrames;
                }
            } else {
                pending = excess;
                fill = waiting - excess;
            }
        }
    }
    if (notify && owner != nullptr) {
        owner->OnDevicePeriod(this);
    }
    return 0;
}

void ClientStream::SilenceBufferFrames(ULONG first, ULONG count)
{
    if (count == 0 || userBuffers == nullptr) {
        return;
    }
    for (ULONG i = 0; i < layouts.count; ++i) {
        if (userBuffers[i] == nullptr) {
            continue;
        }
        const SIZE_T frameBytes = BytesPerFrame(layouts.items[i]);
        RtlZeroMemory(static_cast<UCHAR*>(userBuffers[i]) + frameBytes * first, frameBytes * count);
    }
}

LONGLONG ClientStream::FramesUntilBufferFull()
{
    InStackLock hold(&lock);
    if (fill < periodFrames) {
        return static_cast<LONGLONG>(periodFrames) - fill;
    }
    const ULONG held = channels > 0 ? ring.UsedFrames() : 0;
    return static_cast<LONGLONG>(periodFrames) - held - pending;
}

bool ClientStream::OutputBehindDevice() const
{
    return outputPosition >= 0 && outputCapacity != 0 &&
           LONGLONG{outputAhead} + LONGLONG{outputLead} < 0;
}

void ClientStream::AdvanceOutput(ULONG frames, bool moved)
{
    if (outputPosition < 0) {
        return;
    }
    if (!moved && outputCapacity != 0) {
        outputPosition =
            static_cast<LONG>((static_cast<ULONGLONG>(outputPosition) + frames) % outputCapacity);
    }
    const LONGLONG ahead = LONGLONG{outputAhead} + frames;
    outputAhead = ahead > 0x7FFFFFFFLL ? 0x7FFFFFFF : static_cast<LONG>(ahead);
}
