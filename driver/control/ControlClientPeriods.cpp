// The streaming part at work: periods per half, the pointer tables the engine copies through,
// each device period, buffer-done with its catch-up, and configuration changes and engine flags.
#include "ControlClient.h"
#include "ControlClientParts.h"
#include "common/InStackLock.h"
#include "device/DeviceModel.h"
#include "engine/StreamManager.h"

void ControlClient::ComputePeriodsPerHalf()
{
    const ULONG block = configuration.ringBlockSize;
    ULONG size = bufferSize;
    ULONG periods = 1;
    if (block != 0 && size > block) {
        while (size > block) {
            size >>= 1;
            periods <<= 1;
        }
    }
    periodsPerHalf = periods;
    inputPeriod = periods - 1;
}

ULONG ControlClient::PeriodLength() const
{
    return periodsPerHalf != 0 ? mappedLength / periodsPerHalf : mappedLength;
}

void ControlClient::BuildInputTable()
{
    const ULONG offset = PeriodLength() * inputPeriod * kControlSampleBytes;
    for (ULONG c = 0; c < kControlChannels; ++c) {
        PVOID half = inputBuffers[c][inputHalf].address;
        inputTable[c] = half != nullptr ? static_cast<UCHAR*>(half) + offset : nullptr;
    }
}

void ControlClient::BuildOutputTable()
{
    const ULONG offset = PeriodLength() * outputPeriod * kControlSampleBytes;
    for (ULONG c = 0; c < kControlChannels; ++c) {
        PVOID half = outputBuffers[c][outputHalf].address;
        outputTable[c] = half != nullptr ? static_cast<UCHAR*>(half) + offset : nullptr;
    }
}

// Under the stream's period lock. A period whose place the device has already passed is skipped
// and reported as a write that came too late is: the device played silence there, and written at
// that place it would land a lap away.
void ControlClient::SendOutputPeriod(ManagedClientStream* running)
{
    if (running->running != 0 && running->OutputBehindDevice()) {
        running->AdvanceOutput(PeriodLength(), false);
        OnFlags(running, kChangeOutputFailed);
    } else if (running->running != 0 && InterlockedExchange(&outputBusy, 1) == 0) {
        StreamWriter* writer = running->writer;
        const LONG before = running->outputPosition;
        const LONG result = writer != nullptr
                                ? writer->WriteOutput(&running->outputPosition, outputTable,
                                                      PeriodLength(), kControlSampleFormat, 0, 0)
                                : -1;
        InterlockedExchange(&outputBusy, 0);
        if (before >= 0 && running->outputPosition != before) {
            running->AdvanceOutput(PeriodLength(), true);
        }
        if (result < 0) {
            OnFlags(running, kChangeOutputFailed);
        }
    }
    if (++outputPeriod >= periodsPerHalf) {
        outputReady[outputHalf] = 0;
        outputPeriod = 0;
        outputHalf ^= 1;
    }
    BuildOutputTable();
}

// The client stream calls this under its period lock once a period of input is in the table.
void ControlClient::OnDevicePeriod(ClientStream* full)
{
    auto* running = static_cast<ManagedClientStream*>(full);
    position += full->periodFrames;
    bool switched = false;
    if (++inputPeriod >= periodsPerHalf) {
        inputHalfState[inputHalf] = kHalfHandedOut;
        inputPeriod = 0;
        inputHalf ^= 1;
        switched = true;
    }
    BuildInputTable();
    if (firstPeriod != 0) {
        running->AdvanceOutput(PeriodLength(), false);
        firstPeriod = 0;
    }
    // Missed periods whose place the device has passed are given up without waiting for their
    // halves: caught up one half at a time they would keep every later period that late.
    while (missedPeriods > 0 && running->OutputBehindDevice()) {
        SendOutputPeriod(running);
        --missedPeriods;
    }
    if (outputReady[inputHalf] != 0) {
        SendOutputPeriod(running);
    } else {
        ++missedPeriods;
    }
    if (switched) {
        SignalHalfEvent(inputHalf);
    }
    // A half user mode has not returned is never overwritten: its input waits in the ring.
    if (inputHalfState[inputHalf] != kHalfHandedOut) {
        inputHalfState[inputHalf] = kHalfFilling;
        running->NextCaptureBuffer(inputTable, 0);
    }
}

NTSTATUS ControlClient::BufferDone()
{
    MutexHold hold(&controlMutex);
    ManagedClientStream* running = stream;
    if (!IsDeviceReady() || running == nullptr || ReadUCharAcquire(&running->running) == 0) {
        return STATUS_UNSUCCESSFUL;
    }
    const LONG clock = context->deviceModel->EvaluateClockStatus();
    if (clock == 0) {
        RaiseChangeFlags(kChangeClockAbsent);
    } else if (clock == 2) {
        RaiseChangeFlags(kChangeClockRateDiffers);
    }
    const NTSTATUS result = ReadAcquire(&changeFlags) != 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
    ULONG done = 0;
    {
        // The toggle restarts with the stream, which a configuration change may do meanwhile.
        InStackLock period(&running->periodLock);
        doneToggle ^= 1;
        done = doneToggle;
        outputReady[done] = 1;
        while (missedPeriods > 0 &&
               (outputReady[outputHalf] != 0 || running->OutputBehindDevice())) {
            SendOutputPeriod(running);
            --missedPeriods;
        }
        inputHalfState[done] = kHalfReturned;
        // The half the device works on may have been held by user mode when its period came:
        // the stream then waits for a buffer and, being the manager's, does not ask again. It is
        // offered now, whatever its ring holds (a stream still filling refuses it, unchanged).
        if (inputHalfState[inputHalf] != kHalfHandedOut) {
            inputHalfState[inputHalf] = kHalfFilling;
            running->NextCaptureBuffer(inputTable, 0);
        }
    }
    if (restartPending != 0 && done == 1) {
        InterlockedExchange(&restartPending, 0);
        StopLocked(running);
        StartLocked(running);
    }
    return result;
}

// From the stream manager at up to DISPATCH_LEVEL (under its list lock, not the control mutex),
// and from setup when the stream is made. What a period and BufferDone read of the configuration
// changes under the stream's period lock, which they hold while they read it.
void ControlClient::OnStreamConfigurationChanged(ClientStream* changed, LONG index)
{
    if (context == nullptr || context->streamManager == nullptr) {
        return;
    }
    auto* running = static_cast<ManagedClientStream*>(changed);
    {
        InStackLock period(&running->periodLock);
        if (index == configurationIndex) {
            return;
        }
    }
    const bool wasRunning = ReadUCharAcquire(&changed->running) != 0;
    if (wasRunning) {
        StopLocked(running);
    }
    StreamConfiguration latest{};
    context->streamManager->GetConfiguration(&latest);
    ULONG period = 0;
    {
        InStackLock hold(&running->periodLock);
        configuration = latest;
        configurationIndex = static_cast<LONG>(latest.index);
        ComputePeriodsPerHalf();
        period = PeriodLength();
    }
    if (period <= latest.maximumBufferSize) {
        changed->SetCaptureFormat(&latest, period, kControlSampleBytes, 0, 0);
    }
    if (wasRunning) {
        StartLocked(running);
        RaiseChangeFlags(kChangeRestarted);
    }
}

void ControlClient::OnFlags(ClientStream*, ULONG flags)
{
    if ((flags & kEngineRestartRequest) != 0) {
        InterlockedExchange(&restartPending, 1);
    }
    const ULONG kept = flags & ~kEngineRestartRequest;
    if (kept != 0) {
        RaiseChangeFlags(kept);
    }
}
