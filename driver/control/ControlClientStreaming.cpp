// The streaming part's setup: user buffers mapped and unmapped, the client stream made and
// removed with them, the half events, start and stop, waits, position and change flags.
#include "ControlClient.h"
#include "ControlClientParts.h"
#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "engine/StreamManager.h"
#include "ks/PinStream.h"

bool ControlClient::IsDeviceReady() const
{
    return context != nullptr && GetPnpState(context) == kPnpStarted &&
           IsDeviceModelStarted(context);
}

// ---- Setup flags and the client stream ----------------------------------------------------------

void ControlClient::SetSetupFlags(ULONG bits)
{
    const ULONG after =
        static_cast<ULONG>(InterlockedOr(&setupFlags, static_cast<LONG>(bits))) | bits;
    const ULONG both = kSetupInputMapped | kSetupOutputMapped;
    if ((after & both) != both || stream != nullptr || context == nullptr ||
        context->streamManager == nullptr) {
        return;
    }
    ManagedClientStream* made = context->streamManager->AddClientStream(this);
    if (made == nullptr) {
        return;
    }
    made->writer = context->streamManager->Writer();
    {
        InStackLock hold(&streamLock);
        stream = made;
    }
    // Taken afresh whatever was stored before.
    OnStreamConfigurationChanged(made, configurationIndex + 1);
}

// The engine writes through the mapped halves until the client stream is gone: it is stopped and
// removed before any caller unmaps.
void ControlClient::ClearSetupFlags(ULONG bits)
{
    const ULONG before = static_cast<ULONG>(InterlockedAnd(&setupFlags, ~static_cast<LONG>(bits)));
    const ULONG after = before & ~bits;
    const ULONG both = kSetupInputMapped | kSetupOutputMapped;
    if ((after & both) == 0) {
        mappedLength = 0;
    }
    if ((before & both) != both || (after & both) == both) {
        return;
    }
    ManagedClientStream* removed = nullptr;
    {
        InStackLock hold(&streamLock);
        removed = stream;
        stream = nullptr;
    }
    if (removed != nullptr && context != nullptr && context->streamManager != nullptr) {
        context->streamManager->RemoveClientStream(removed);
    }
}

// ---- Buffers ------------------------------------------------------------------------------------

bool ControlClient::MapBuffer(UserBuffer* buffer, PVOID pointer, ULONG byteLength,
                              KPROCESSOR_MODE mode)
{
    PMDL mdl = IoAllocateMdl(pointer, byteLength, FALSE, FALSE, nullptr);
    if (mdl == nullptr) {
        return false;
    }
    if (!NT_SUCCESS(MmProbeAndLockPages(mdl, mode, IoWriteAccess))) {
        IoFreeMdl(mdl);
        return false;
    }
    PVOID address = MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority);
    if (address == nullptr) {
        MmUnlockPages(mdl);
        IoFreeMdl(mdl);
        return false;
    }
    *buffer = {mdl, address};
    return true;
}

void ControlClient::UnmapBuffer(UserBuffer* buffer)
{
    PMDL mdl = buffer->mdl;
    *buffer = {};
    if (mdl != nullptr) {
        MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
}

NTSTATUS ControlClient::MapClientBuffers(ControlDirection direction,
                                         PVOID const (&pointers)[kControlChannels][kControlHalves],
                                         ULONG byteLength, KPROCESSOR_MODE requestorMode)
{
    MutexHold hold(&controlMutex);
    const bool input = direction == kControlInput;
    const ULONG flag = input ? kSetupInputMapped : kSetupOutputMapped;
    UserBuffer(&buffers)[kControlChannels][kControlHalves] = input ? inputBuffers : outputBuffers;
    // A mapped direction keeps its table until it is unmapped, whatever its halves hold (a table
    // of null or unlockable addresses maps too): the engine streams through the halves with the
    // period it started with, so a second table, shorter or not, is never put under it. A client
    // stream exists only while both directions are mapped, so no period reads the table or the
    // mapped length written below.
    if ((setupFlags & flag) != 0 || stream != nullptr) {
        return input ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
    }
    const ULONG samples = byteLength / kControlSampleBytes;
    if (samples == 0) {
        return STATUS_UNSUCCESSFUL;  // nothing to stream through; nothing marked mapped
    }
    if (mappedLength == 0 || mappedLength > samples) {
        mappedLength = samples;
    }
    for (ULONG c = 0; c < kControlChannels; ++c) {
        for (ULONG h = 0; h < kControlHalves; ++h) {
            if (pointers[c][h] != nullptr) {
                MapBuffer(&buffers[c][h], pointers[c][h], byteLength, requestorMode);
            }
        }
    }
    SetSetupFlags(input ? kSetupInputMapped : kSetupOutputMapped);
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::UnmapClientBuffers(ControlDirection direction)
{
    MutexHold hold(&controlMutex);
    const bool input = direction == kControlInput;
    ClearSetupFlags(input ? kSetupInputMapped : kSetupOutputMapped);
    for (auto& channel : input ? inputBuffers : outputBuffers) {
        for (UserBuffer& half : channel) {
            UnmapBuffer(&half);
        }
    }
    return STATUS_SUCCESS;
}

// ---- Events -------------------------------------------------------------------------------------

NTSTATUS ControlClient::SetEvents(HANDLE handle0, HANDLE handle1)
{
    MutexHold hold(&controlMutex);
    {
        InStackLock events_(&eventLock);
        for (const UserEvent& event : events) {
            if (event.handle != nullptr || event.object != nullptr) {
                return STATUS_SUCCESS;
            }
        }
    }
    PRKEVENT objects[kControlHalves] = {};
    const HANDLE handles[kControlHalves] = {handle0, handle1};
    for (ULONG h = 0; h < kControlHalves; ++h) {
        if (handles[h] == nullptr) {
            continue;
        }
        const NTSTATUS status = ReferenceUserEvent(handles[h], &objects[h]);
        if (!NT_SUCCESS(status)) {
            // Nothing is registered: a handle without its object would be signalled as null.
            if (objects[0] != nullptr) {
                ObDereferenceObject(objects[0]);
            }
            return status;
        }
    }
    {
        InStackLock events_(&eventLock);
        for (ULONG h = 0; h < kControlHalves; ++h) {
            events[h] = {handles[h], objects[h]};
        }
    }
    SetSetupFlags(kSetupEventsRegistered);
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::ReleaseEvents()
{
    MutexHold hold(&controlMutex);
    ReleaseUserEvents(events, kControlHalves, &eventLock);
    ClearSetupFlags(kSetupEventsRegistered);
    return STATUS_SUCCESS;
}

void ControlClient::SignalHalfEvent(ULONG half)
{
    InStackLock hold(&eventLock);
    if (events[half].object != nullptr) {
        KeSetEvent(events[half].object, kHalfEventIncrement, FALSE);
    }
}

void ControlClient::ClearHalfEvents()
{
    InStackLock hold(&eventLock);
    for (const UserEvent& event : events) {
        if (event.object != nullptr) {
            KeClearEvent(event.object);
        }
    }
}

// ---- Start and stop -----------------------------------------------------------------------------

NTSTATUS ControlClient::StartStreaming()
{
    MutexHold hold(&controlMutex);
    return StartLocked(stream);
}

NTSTATUS ControlClient::StopStreaming()
{
    MutexHold hold(&controlMutex);
    return StopLocked(stream);
}

NTSTATUS ControlClient::StartLocked(ManagedClientStream* running)
{
    if (!IsDeviceReady() || running == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    InterlockedExchange(&changeFlags, 0);
    ClearHalfEvents();
    {
        InStackLock period(&running->periodLock);
        ComputePeriodsPerHalf();
        inputHalf = 0;
        inputPeriod = periodsPerHalf - 1;
        outputHalf = 1;
        outputPeriod = 0;
        outputReady[0] = 0;
        outputReady[1] = 1;
        inputHalfState[0] = kHalfReturned;
        inputHalfState[1] = kHalfReturned;
        missedPeriods = 0;
        doneToggle = 1;
        firstPeriod = 1;
        BuildInputTable();
        BuildOutputTable();
        running->NextCaptureBuffer(inputTable, PeriodLength());
        position = 0;
    }
    // Refused (a period below the rate's minimum ...): the handle does not run, as IsRunning shows.
    context->streamManager->SetClientStreamRunning(running, true);
    FireGeneralEvent();
    return STATUS_SUCCESS;
}

NTSTATUS ControlClient::StopLocked(ManagedClientStream* running)
{
    if (!IsDeviceReady() || running == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    context->streamManager->SetClientStreamRunning(running, false);
    FireGeneralEvent();
    return STATUS_SUCCESS;
}

bool ControlClient::IsRunning()
{
    InStackLock hold(&streamLock);
    return stream != nullptr && stream->running != 0;
}

// ---- Waits, flags, position ---------------------------------------------------------------------

NTSTATUS ControlClient::QueueWait(PIRP request)
{
    IoMarkIrpPending(request);
    KsAddIrpToCancelableQueue(&waitQueue, &waitLock, request, KsListEntryTail, nullptr);
    return STATUS_PENDING;
}

NTSTATUS ControlClient::ReleaseWait()
{
    PIRP request =
        KsRemoveIrpFromCancelableQueue(&waitQueue, &waitLock, KsListEntryHead, KsAcquireAndRemove);
    if (request != nullptr) {
        request->IoStatus.Status = STATUS_SUCCESS;
        request->IoStatus.Information = 0;
        IoCompleteRequest(request, IO_NO_INCREMENT);
    }
    return STATUS_SUCCESS;
}

void ControlClient::CompleteAllWaits()
{
    for (;;) {
        PIRP request = KsRemoveIrpFromCancelableQueue(&waitQueue, &waitLock, KsListEntryHead,
                                                      KsAcquireAndRemove);
        if (request == nullptr) {
            return;
        }
        request->IoStatus.Status = STATUS_SUCCESS;
        request->IoStatus.Information = 0;
        IoCompleteRequest(request, IO_NO_INCREMENT);
    }
}

ULONG ControlClient::TakeChangeFlags()
{
    return static_cast<ULONG>(InterlockedExchange(&changeFlags, 0));
}

void ControlClient::GetPosition(ULONGLONG* samples, ULONGLONG* timeNs)
{
    {
        MutexHold hold(&controlMutex);
        ManagedClientStream* running = stream;
        if (running == nullptr || running->running == 0) {
            position = 0;
            *samples = 0;
        } else {
            InStackLock period(&running->periodLock);
            *samples = position;
        }
    }
    LARGE_INTEGER frequency;
    const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
    *timeNs = QpcToNs(static_cast<ULONGLONG>(counter.QuadPart),
                      static_cast<ULONGLONG>(frequency.QuadPart));
}

void ControlClient::RecordOwner(PVOID fileObject)
{
    InterlockedCompareExchangePointer(const_cast<PVOID*>(&owner), fileObject, nullptr);
}

bool ControlClient::HasOwner() const
{
    return owner != nullptr;
}

// ---- Teardown -----------------------------------------------------------------------------------

void ControlClient::TearDownStreaming()
{
    CompleteAllWaits();
    {
        MutexHold hold(&controlMutex);
        StopLocked(stream);
    }
    FireGeneralEvent();
    UnmapClientBuffers(kControlInput);
    UnmapClientBuffers(kControlOutput);
    ReleaseEvents();
    owner = nullptr;
}
