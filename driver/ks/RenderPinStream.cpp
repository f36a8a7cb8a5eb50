#include "ks/RenderPinStream.h"

#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/DeviceParts.h"
#include "engine/StreamManager.h"

namespace {

}  // namespace

bool RenderPinStream::IsPinRunning()
{
    // Under the node lock: a stop frees the node right after taking it from the pin, and other
    // pins and filters ask from their own threads.
    InStackLock hold(&nodeLock);
    if (node == nullptr) {
        return false;
    }
    InStackLock nodeHold(&node->lock);  // the manager changes the running flag under it
    return node->running != 0;
}

StreamNode* RenderPinStream::CurrentNode()
{
    InStackLock hold(&nodeLock);
    return node;
}

void RenderPinStream::Publish(KSSTATE to)
{
    InStackLock hold(&pinLock);
    InterlockedExchange(&state, to);
}

void RenderPinStream::SetFirstChannel(ULONG channel)
{
    firstChannel = channel;
    InStackLock hold(&nodeLock);
    if (node != nullptr) {
        InStackLock nodeHold(&node->lock);
        node->startChannel = channel;
    }
}

bool RenderPinStream::DeviceFine() const
{
    return context != nullptr && GetPnpState(context) <= kPnpStarted &&
           (context->endpointUpdateFlag == 0 || digital != 0);
}

void RenderPinStream::Flush()
{
    // The node stops outside the pin lock (the engine's period holds the manager's list lock
    // while it takes the pin lock); the pin's own books are cleared under it, after any
    // processing or block completion in flight.
    if (context != nullptr && IsPinRunning()) {
        WriteUCharRelease(&context->rateFixedByPin, 0);
        context->streamManager->StopPinStream(CurrentNode());
    }
    InStackLock hold(&pinLock);
    DeleteClones();
    heldBlocks = 0;
    owedBytes = 0;
    playPosition = writePosition;
}

void RenderPinStream::FinishBlock(ULONG bytes)
{
    playPosition += bytes;
    owedBytes = bytes < owedBytes ? owedBytes - bytes : 0;
    if (owedBytes == 0) {
        PKSSTREAM_POINTER oldest = KsPinGetFirstCloneStreamPointer(pin);
        if (oldest != nullptr) {
            KsStreamPointerDelete(oldest);
        }
    }
}

bool RenderPinStream::PushBlock(PKSSTREAM_POINTER leading)
{
    if (owedBytes == 0) {
        PKSSTREAM_POINTER clone = nullptr;
        if (!NT_SUCCESS(KsStreamPointerClone(leading, nullptr, 0, &clone))) {
            return false;
        }
        owedBytes = leading->Offset->Remaining;
        if (owedBytes == 0) {
            KsStreamPointerDelete(clone);
            return NT_SUCCESS(KsStreamPointerAdvance(leading));
        }
    }
    const ULONG align = BlockAlign();
    const ULONG remaining = leading->Offset->Remaining;
    ULONG frames = align != 0 ? remaining / align : 0;
    if (frames > configuration.ringBlockSize) {
        frames = configuration.ringBlockSize;
    }
    if (frames == 0) {
        // Fewer bytes than one block: nothing the engine could take, and never paid off if left.
        writePosition += remaining;
        FinishBlock(remaining);
        return NT_SUCCESS(KsStreamPointerAdvanceOffsets(leading, remaining, 0, FALSE));
    }
    const ULONG bytes = frames * align;
    writePosition += bytes;
    blockBuffer[0] = leading->Offset->Data;
    StreamManager* manager = context->streamManager;
    LONG result = manager->SetNodeBuffers(node, blockBuffer, frames);
    if (result >= 0) {
        ++heldBlocks;
        result = manager->ServicePinStream(node);
        if (result != kStreamPending) {
            --heldBlocks;
            FinishBlock(bytes);
        }
    } else {
        FinishBlock(bytes);
    }
    const NTSTATUS advanced = KsStreamPointerAdvanceOffsets(leading, bytes, 0, FALSE);
    return result >= 0 || result == kStreamPending ? NT_SUCCESS(advanced) : false;
}

void RenderPinStream::Resynchronise()
{
    while (InterlockedExchange(&node->busy, 1) != 0) {
    }
    {
        InStackLock hold(&node->lock);
        node->position = -1;
        node->pending = 0;
    }
    InterlockedExchange(&node->busy, 0);
}

NTSTATUS RenderPinStream::Process()
{
    InStackLock hold(&pinLock);
    if (!DeviceFine() || state != KSSTATE_RUN) {
        return STATUS_PENDING;
    }
    {
        InStackLock nodeHold(&nodeLock);
        if (node == nullptr) {
            return STATUS_PENDING;
        }
        // A discontinuity (a restart of the streaming) leaves the node where it was: placing its
        // next block anew would mix it over the blocks still in the engine's rings, and the
        // device would hear both. Kept in place, the blocks follow on in order.
        {
            InStackLock discontinuity(&node->lock);
            node->discontinuity = 0;
        }
        if (resynchronise != 0) {
            Resynchronise();
            resynchronise = 0;
        }
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    while (leading != nullptr && heldBlocks == 0) {
        if (owedBytes != 0 && KsPinGetFirstCloneStreamPointer(pin) == nullptr) {
            owedBytes = 0;
        }
        if (!PushBlock(leading)) {
            leading = nullptr;
        }
    }
    if (leading != nullptr) {
        KsStreamPointerUnlock(leading, FALSE);
    }
    return heldBlocks != 0 ? STATUS_PENDING : STATUS_SUCCESS;
}

void RenderPinStream::OnNodePeriod(StreamNode* period)
{
    InStackLock hold(&pinLock);
    // A stop takes the node from the pin under the node lock only; the manager keeps the node
    // itself alive while its period calls here.
    StreamNode* current;
    {
        InStackLock nodeHold(&nodeLock);
        current = node;
    }
    if (period != current || heldBlocks == 0) {
        return;
    }
    --heldBlocks;
    FinishBlock(current->frames * BlockAlign());
    // A pin on its way to STOP or ACQUIRE pushes nothing: the node it stops would start again.
    const bool pushing = state == KSSTATE_RUN || state == KSSTATE_PAUSE;
    while (owedBytes != 0 && heldBlocks == 0 && pushing && DeviceFine()) {
        PKSSTREAM_POINTER leading =
            KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
        if (leading == nullptr || !PushBlock(leading)) {
            break;
        }
    }
    if (!DeviceFine() && owedBytes != 0) {
        owedBytes = 0;
        PKSSTREAM_POINTER oldest = KsPinGetFirstCloneStreamPointer(pin);
        if (oldest != nullptr) {
            KsStreamPointerDelete(oldest);
        }
    }
    if (state == KSSTATE_RUN && heldBlocks == 0) {
        KsPinAttemptProcessing(pin, TRUE);
    }
}

void RenderPinStream::OnNodeConfigurationChanged(StreamNode*, LONG)
{
    SetNodeFormat();
}

void RenderPinStream::OnNodeStreamingChanged(LONG streamingState)
{
    if (streamingState == 1 && (context == nullptr || GetPnpState(context) > kPnpStarted)) {
        Flush();
    }
}

LONG RenderPinStream::SetNodeFormat()
{
    if (node == nullptr || waveFormat == nullptr || context == nullptr) {
        return E_FAIL;
    }
    if (digital != 0) {
        if (IsAnyClientStreaming(context) || IsAnyWavePinRunning(context)) {
            return E_FAIL;
        }
        if (outputModeOn == 0 && NT_SUCCESS(context->deviceModel->EnableOutputMode(true))) {
            outputModeOn = 1;
        }
    }
    context->deviceModel->GetCurrentConfiguration(&configuration);
    if (node->running != 0 || configuration.maximumBufferSize < 64) {
        return E_FAIL;
    }
    const ULONG channels = waveFormat->Format.nChannels;
    InStackLock hold(&nodeLock);
    InStackLock nodeHold(&node->lock);
    node->configurationIndex = static_cast<LONG>(configuration.index);
    node->frames = 64;
    node->format = (ContainerBytes() - 1) | 0x80000000u;
    node->interleavedChannels = channels;
    node->interleaved = channels != 0 ? 1 : 0;
    node->startChannel = firstChannel;
    return 0;
}

void RenderPinStream::SwitchOutputModeOff()
{
    // The digital pin that switched the mode on switches it off once it has no node: while the
    // mode is on no wave pin takes a format, so leaving it on would shut every endpoint for good.
    if (outputModeOn != 0 && context != nullptr) {
        outputModeOn = 0;
        context->deviceModel->EnableOutputMode(false);
    }
}

NTSTATUS RenderPinStream::Acquire()
{
    {
        InStackLock hold(&pinLock);
        resynchronise = 0;
    }
    TakeClock();
    StreamNode* added = context->streamManager->AddPinStream(this);
    if (added == nullptr) {
        ReleaseClock();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    {
        InStackLock hold(&nodeLock);
        node = added;
    }
    SetNodeFormat();
    return STATUS_SUCCESS;
}

void RenderPinStream::Stop()
{
    Flush();
    {
        InStackLock hold(&pinLock);
        playPosition = 0;
        writePosition = 0;
    }
    // The node leaves the pin under its lock but the manager outside it: the engine's period
    // holds the manager's list lock while it takes the pin lock, and processing holds the pin
    // lock while it takes the node lock.
    StreamNode* removed;
    {
        InStackLock hold(&nodeLock);
        removed = node;
        node = nullptr;
    }
    if (removed != nullptr) {
        ReleaseClock();
        context->streamManager->RemovePinStream(removed);
    }
    SwitchOutputModeOff();
}

// Every state change publishes the new state under the pin lock before it touches the node:
// processing and block completions that started earlier finish first, later ones see the new
// state and push nothing to a node that is being stopped.
NTSTATUS RenderPinStream::SetState(KSSTATE to, KSSTATE from)
{
    if (context == nullptr) {
        Publish(to);
        return to == KSSTATE_STOP ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
    }
    switch (to) {
        case KSSTATE_STOP:
            Publish(to);
            Stop();
            return STATUS_SUCCESS;
        case KSSTATE_ACQUIRE:
            if (from == KSSTATE_STOP) {
                const NTSTATUS status = Acquire();
                if (!NT_SUCCESS(status)) {
                    return status;
                }
                Publish(to);
            } else {
                Publish(to);
                WriteUCharRelease(&context->rateFixedByPin, 0);
                Flush();
            }
            return STATUS_SUCCESS;
        case KSSTATE_PAUSE: {
            InStackLock hold(&pinLock);
            if (from == KSSTATE_RUN) {
                resynchronise = 1;
            }
            InterlockedExchange(&state, to);
            return STATUS_SUCCESS;
        }
        case KSSTATE_RUN: {
            const NTSTATUS status = PutRateInForce();
            if (!NT_SUCCESS(status)) {
                return status;
            }
            // Processing asked for after the state is RUN, or it would find the pin paused.
            Publish(to);
            KsPinAttemptProcessing(pin, TRUE);
            return STATUS_SUCCESS;
        }
    }
    Publish(to);
    return STATUS_SUCCESS;
}

void RenderPinStream::Close()
{
    StreamNode* removed;
    {
        InStackLock hold(&nodeLock);
        removed = node;
        node = nullptr;
    }
    if (removed != nullptr && context != nullptr) {
        if (removed->running != 0) {
            WriteUCharRelease(&context->rateFixedByPin, 0);
        }
        context->streamManager->RemovePinStream(removed);
    }
    ReleaseClock();
    SwitchOutputModeOff();
}
