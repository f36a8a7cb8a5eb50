#include "ks/CapturePinStream.h"

#include <new>

#include "audio/DriverResult.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManager.h"
#include "ks/WaveFilter.h"

namespace {

void TimerExpired(PVOID pin)
{
    KsPinAttemptProcessing(static_cast<PKSPIN>(pin), FALSE);
}

}  // namespace

bool CapturePinStream::IsPinRunning()
{
    // Under the stream lock: a stop frees the client stream right after taking it from the pin,
    // and other pins and filters ask from their own threads.
    InStackLock hold(&streamLock);
    if (stream == nullptr) {
        return false;
    }
    InStackLock streamHold(&stream->lock);  // the running flag changes under it
    return stream->running != 0;
}

void CapturePinStream::SetEngineObject(ClientStream* object)
{
    InStackLock hold(&streamLock);
    stream = object;
}

bool CapturePinStream::TimerRunning() const
{
    return ReadUCharAcquire(&timer.running) != 0;
}

ULONG CapturePinStream::FrameBytes() const
{
    return waveFormat != nullptr ? BlockAlign() : 0;
}

bool CapturePinStream::Build()
{
    if (context == nullptr) {
        return true;
    }
    ULONG outputs = 0;
    ULONG inputs = 0;
    context->deviceModel->GetDeviceChannelCounts(&outputs, &inputs);
    context->deviceModel->GetCurrentConfiguration(&configuration);
    // The scratch buffer holds the minimum block of the most demanding rate, not just the model's
    // minimum: a frame shorter than that minimum is filled through it at any rate.
    ULONG frames = context->deviceModel->GetMinimumBlock();
    for (ULONG i = 0; configuration.minimumBufferSize != nullptr && i < configuration.rateCount;
         ++i) {
        frames = configuration.minimumBufferSize[i] > frames ? configuration.minimumBufferSize[i]
                                                             : frames;
    }
    const ULONG channels = inputs > channelCount ? inputs : channelCount;
    scratchBytes = frames * (channels != 0 ? channels : 2) * 4;
    scratch =
        static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPoolNx, scratchBytes, kWaveFilterTag));
    if (scratch == nullptr) {
        return false;
    }
    ConstructPeriodicTimer(&timer, &context->device, 1, TimerExpired, pin);
    timerBuilt = true;
    return true;
}

void CapturePinStream::StopStream()
{
    if (stream != nullptr && stream->running != 0) {
        context->streamManager->SetClientStreamRunning(stream, false);
    }
}

void CapturePinStream::Flush()
{
    StopStream();
    DeleteClones();
    scratchHeld = 0;
    fillOffset = 0;
    targetIsScratch = false;
}

LONG CapturePinStream::SetFormat()
{
    if (stream == nullptr || waveFormat == nullptr || context == nullptr) {
        return E_FAIL;
    }
    context->deviceModel->GetCurrentConfiguration(&configuration);
    if (configuration.rateCount == 0 || configuration.rates == nullptr) {
        return E_FAIL;
    }
    const ULONG period = configuration.rates[configuration.rateCount - 1] * 5 / 1000;
    return stream->SetCaptureFormat(&configuration, period, ContainerBytes(),
                                    waveFormat->Format.nChannels, firstChannel);
}

ULONG CapturePinStream::MinimumFrames()
{
    LONG configurationIndex = 0;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    context->streamManager->Routing()->GetRoutingState(&configurationIndex, &rateIndex, &rate);
    ULONG m = 1;
    if (configuration.minimumBufferSize != nullptr && rateIndex < configuration.rateCount) {
        m = configuration.minimumBufferSize[rateIndex];
    }
    const ULONG frameBytes = FrameBytes();
    // Never more than the scratch buffer holds.
    if (frameBytes != 0 && m * frameBytes > scratchBytes) {
        m = scratchBytes / frameBytes;
    }
    return m;
}

void CapturePinStream::OfferScratch(ULONG frames)
{
    target[0] = scratch;
    targetIsScratch = true;
    scratchFrames = frames;
    stream->NextCaptureBuffer(target, frames);
}

NTSTATUS CapturePinStream::Process()
{
    InStackLock hold(&pinLock);
    if (DeviceGone() || context->endpointUpdateFlag != 0) {
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    if (state != KSSTATE_RUN) {
        return STATUS_PENDING;
    }
    // Without its engine object (it could not be allocated) the pin cannot capture.
    if (stream == nullptr || FrameBytes() == 0) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (leading == nullptr && timerBuilt && !TimerRunning()) {
        timer.StartTimer(0);
    }
    if (restartPending != 0) {
        Restart(leading != nullptr);
    }
    while (leading != nullptr) {
        if (timerBuilt && TimerRunning()) {
            timer.StopTimer();
        }
        if (stream->running == 0) {
            const ULONG frames = leading->Offset->Remaining / FrameBytes();
            // The engine is stopped: nothing fills or completes frames now, and the stream's own
            // locks are taken by the calls below, so the clone lock is not held across them.
            const ULONG m = MinimumFrames();
            fillOffset = 0;
            scratchHeld = 0;
            if (frames < m) {
                OfferScratch(m);
            } else {
                target[0] = leading->Offset->Data;
                targetIsScratch = false;
                stream->NextCaptureBuffer(target, frames);
            }
            StartStream();
        }
        if (!TakeLeadingFrame(&leading)) {
            break;
        }
    }
    if (leading != nullptr) {
        InStackLock hold(&cloneLock);
        KsStreamPointerUnlock(leading, FALSE);
    }
    return STATUS_SUCCESS;
}

bool CapturePinStream::TakeLeadingFrame(PKSSTREAM_POINTER* leading)
{
    // A running stream's periods take frames off the same leading edge on their own thread (the
    // next frame after a completed one): the frame is read, cloned and passed in one hold of the
    // clone lock, so that each frame is taken once and counted once.
    InStackLock hold(&cloneLock);
    *leading = KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (*leading == nullptr) {
        return false;
    }
    const ULONG bytes = (*leading)->Offset->Remaining;
    PKSSTREAM_POINTER clone = nullptr;
    if (!NT_SUCCESS(KsStreamPointerClone(*leading, nullptr, 0, &clone))) {
        return false;
    }
    writePosition += bytes;
    if (!NT_SUCCESS(KsStreamPointerAdvanceOffsets(*leading, 0, bytes, FALSE))) {
        *leading = nullptr;
        return false;
    }
    return true;
}

bool CapturePinStream::MoveScratch(PKSSTREAM_POINTER oldest)
{
    const ULONG lacking = oldest->Offset->Count - fillOffset;
    const ULONG copy = lacking < scratchHeld ? lacking : scratchHeld;
    RtlCopyMemory(oldest->Offset->Data + fillOffset, scratch, copy);
    RtlMoveMemory(scratch, scratch + copy, scratchHeld - copy);
    scratchHeld -= copy;
    fillOffset += copy;
    return fillOffset >= oldest->Offset->Count;
}

void CapturePinStream::CompleteOldest(PKSSTREAM_POINTER oldest)
{
    PKSSTREAM_HEADER header = oldest->StreamHeader;
    header->PresentationTime.Time = clock != nullptr ? clock->GetTime() : 0;
    header->PresentationTime.Numerator = 1;
    header->PresentationTime.Denominator = 1;
    header->Duration = 0;
    header->OptionsFlags |= clock != nullptr ? KSSTREAM_HEADER_OPTIONSF_TIMEVALID |
                                                   KSSTREAM_HEADER_OPTIONSF_DURATIONVALID
                                             : 0;
    playPosition += oldest->Offset->Count;
    fillOffset = 0;
    KsStreamPointerDelete(oldest);
}

PKSSTREAM_POINTER CapturePinStream::NextFrame()
{
    PKSSTREAM_POINTER next = KsPinGetFirstCloneStreamPointer(pin);
    if (next != nullptr) {
        return next;
    }
    PKSSTREAM_POINTER leading =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (leading == nullptr || !NT_SUCCESS(KsStreamPointerClone(leading, nullptr, 0, &next))) {
        return nullptr;
    }
    const ULONG bytes = leading->Offset->Remaining;
    writePosition += bytes;
    if (NT_SUCCESS(KsStreamPointerAdvanceOffsets(leading, 0, bytes, FALSE))) {
        KsStreamPointerUnlock(leading, FALSE);
    }
    return next;
}

void CapturePinStream::OnDevicePeriod(ClientStream* period)
{
    if (period != stream) {
        return;
    }
    for (;;) {
        ULONG frames = 0;
        bool offer = true;
        {
            InStackLock hold(&cloneLock);
            if (stream->running == 0) {
                return;
            }
            const ULONG m = MinimumFrames();
            const ULONG frameBytes = FrameBytes();
            if (targetIsScratch && scratchHeld == 0) {
                scratchHeld = scratchFrames * frameBytes;  // the engine filled the scratch buffer
            }
            PKSSTREAM_POINTER oldest = KsPinGetFirstCloneStreamPointer(pin);
            PKSSTREAM_POINTER next = nullptr;
            if (oldest == nullptr) {
                offer = false;
            } else if (targetIsScratch && !MoveScratch(oldest)) {
                frames = m;  // the frame still lacks data: the scratch buffer goes again
            } else {
                CompleteOldest(oldest);
                next = NextFrame();
                if (next == nullptr) {
                    scratchHeld = 0;  // nothing to put it in: captured while no frame waited
                    if (timerBuilt && !TimerRunning()) {
                        timer.StartTimer(0);
                    }
                } else if (scratchHeld != 0) {
                    continue;  // move what the scratch buffer still holds into the new frame
                }
                frames = next != nullptr ? next->Offset->Count / frameBytes : 0;
            }
            if (offer) {
                if (frames < m || next == nullptr) {
                    frames = m;
                    target[0] = scratch;
                    targetIsScratch = true;
                    scratchFrames = m;
                } else {
                    target[0] = next->Offset->Data;
                    targetIsScratch = false;
                }
            }
        }
        if (offer) {
            stream->NextCaptureBuffer(target, frames);
        }
        {
            InStackLock hold(&cloneLock);
            lastPositionTime = Now100ns();
        }
        KsPinAttemptProcessing(pin, TRUE);
        return;
    }
}

void CapturePinStream::OnStreamConfigurationChanged(ClientStream*, LONG)
{
    SetFormat();
}

void CapturePinStream::OnFlags(ClientStream*, ULONG flags)
{
    if ((flags & 0x100) != 0) {
        if (freshStart != 0) {
            freshStart = 0;
        } else {
            restartPending = 1;
        }
    }
}

void CapturePinStream::StartStream()
{
    freshStart = 1;
    if (context->streamManager->SetClientStreamRunning(stream, true) != 0) {
        freshStart = 0;
    }
}

void CapturePinStream::Restart(bool haveLeadingFrame)
{
    restartPending = 0;
    bool haveClone = false;
    {
        InStackLock hold(&cloneLock);
        PKSSTREAM_POINTER oldest = KsPinGetFirstCloneStreamPointer(pin);
        haveClone = oldest != nullptr;
        if (oldest != nullptr && !targetIsScratch && stream->fill != kNoCaptureBuffer) {
            const ULONG filled = stream->fill * FrameBytes();
            fillOffset = filled < oldest->Offset->Count ? filled : oldest->Offset->Count;
        }
    }
    // Stopped outside the clone lock: the period path takes the stream's locks before it.
    StopStream();
    scratchHeld = 0;
    // With a frame at the leading edge the frame loop starts the stream again; without one, the
    // frames already taken must not wait for a next frame that may never come.
    if (!haveLeadingFrame && haveClone) {
        OfferScratch(MinimumFrames());
        StartStream();
    }
}

NTSTATUS CapturePinStream::SetState(KSSTATE to, KSSTATE from)
{
    // Captured frames say the format's rate: the device must run at it.
    if (to == KSSTATE_RUN && context != nullptr && waveFormat != nullptr) {
        const NTSTATUS status = PutRateInForce();
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    if (from == KSSTATE_RUN && context != nullptr) {
        WriteUCharRelease(&context->rateFixedByPin, 0);
    }
    {
        // Processing in flight finishes first; later processing sees the new state and does not
        // start the timer again once it is stopped below.
        InStackLock hold(&pinLock);
        InterlockedExchange(&state, to);
    }
    switch (to) {
        case KSSTATE_STOP:
            Flush();
            {
                InStackLock hold(&cloneLock);
                playPosition = 0;
                writePosition = 0;
            }
            if (timerBuilt) {
                timer.StopTimer();
            }
            if (stream != nullptr) {
                ReleaseClock();
                ClientStream* removed = stream;
                SetEngineObject(nullptr);
                context->streamManager->RemoveClientStream(removed);
            }
            break;
        case KSSTATE_ACQUIRE:
            if (from == KSSTATE_STOP) {
                TakeClock();
                if (context == nullptr) {
                    break;
                }
                void* memory =
                    ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ClientStream), kWaveFilterTag);
                if (memory != nullptr) {
                    RtlZeroMemory(memory, sizeof(ClientStream));
                    SetEngineObject(ConstructClientStream(memory, this));
                    context->streamManager->InsertClientStream(stream);
                }
                // Out of pool for the engine object or its ring: the pin cannot capture, and
                // says so now rather than run in silence.
                if (memory == nullptr || SetFormat() < 0) {
                    if (stream != nullptr) {
                        ClientStream* removed = stream;
                        SetEngineObject(nullptr);
                        context->streamManager->RemoveClientStream(removed);
                    }
                    ReleaseClock();
                    InStackLock hold(&pinLock);
                    InterlockedExchange(&state, from);
                    return STATUS_INSUFFICIENT_RESOURCES;
                }
            }
            break;
        case KSSTATE_PAUSE:
            if (from == KSSTATE_RUN) {
                // The stream first: its periods start the timer when no frame waits.
                StopStream();
                if (timerBuilt) {
                    timer.StopTimer();
                }
            }
            Flush();
            break;
        case KSSTATE_RUN:
            Process();
            break;
    }
    return STATUS_SUCCESS;
}

void CapturePinStream::Close()
{
    if (timerBuilt) {
        timer.StopTimer();
        timerBuilt = false;
    }
    if (stream != nullptr && context != nullptr) {
        StopStream();
        ClientStream* removed = stream;
        SetEngineObject(nullptr);
        context->streamManager->RemoveClientStream(removed);
    }
    ReleaseClock();
    if (scratch != nullptr) {
        ExFreePoolWithTag(scratch, kWaveFilterTag);
        scratch = nullptr;
    }
}
