#include "EngineStreaming.h"

#include "StreamingEngine.h"
#include "common/InStackLock.h"
#include "device/PersistedSetting.h"
#include "device/PoolTag.h"

namespace {

constexpr ULONG kTagQueue = PoolTag("Queu");
constexpr ULONG kTagEngine = PoolTag("XiMw");
constexpr ULONG kCallSetRate = 10;
// A start whose transfers could not be had is tried again this often, this far apart: an
// allocation that failed once usually succeeds a moment later, and a client whose open succeeded
// must not stay silent for it.
constexpr ULONG kStartRetries = 20;
constexpr LONGLONG kStartRetryMs = 10;

bool AtPassive()
{
    return KeGetCurrentIrql() == PASSIVE_LEVEL;
}

// The leading items of a layout list that lie wholly within channelLimit channels: their channels
// and the byte size of their common sample format (0 when they have none in common).
void LayoutShape(const ChannelLayoutList& list, ULONG channelLimit, ULONG* channels,
                 ULONG* sampleBytes)
{
    *channels = 0;
    *sampleBytes = 0;
    for (ULONG i = 0; list.items != nullptr && i < list.count &&
                      list.items[i].channelCount <= channelLimit - *channels;
         ++i) {
        const ULONG bytes = BytesPerSample(list.items[i].format);
        *sampleBytes = i == 0 || *sampleBytes == bytes ? bytes : 0;
        *channels += list.items[i].channelCount;
    }
}

}  // namespace

EngineStreaming::EngineStreaming(DeviceContext* deviceContext, UsbTransport* usb,
                                 EnginePeriodRouting* periodRouting, EngineHost* engineHost)
    : context(deviceContext), transport(usb), routing(periodRouting), host(engineHost)
{
    KeInitializeMutex(&mutex, 0);
    KeInitializeSpinLock(&gatherLock);
    KeInitializeSpinLock(&workLock);
    KeInitializeTimer(&retryTimer);
    KeInitializeDpc(&retryDpc, &RetryTimerDpc, this);
    for (ULONG i = 0; i < kWorkSlots; ++i) {
        work[i].engine = this;
        work[i].kind = i;
    }
    configuration.index = static_cast<ULONG>(-1);
}

EngineStreaming::~EngineStreaming()
{
    CancelRetry();
    FreeGatherArrays();
    FreeWorkSlots();
}

bool EngineStreaming::Live() const
{
    return ReadUCharAcquire(&initialized) && GetPnpState(context) == kPnpStarted;
}

void EngineStreaming::Lock()
{
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
}

void EngineStreaming::Unlock()
{
    KeReleaseMutex(&mutex, FALSE);
}

ULONGLONG EngineStreaming::NowMs() const
{
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    return static_cast<ULONGLONG>(ticks.QuadPart) * KeQueryTimeIncrement() / 10000;
}

ULONG EngineStreaming::RateInForce() const
{
    if (configuration.rates == nullptr || rateIndex >= configuration.rateCount) {
        return 0;
    }
    return configuration.rates[rateIndex];
}

NTSTATUS EngineStreaming::InitializeEngine(const UsbConfigRecord& record)
{
    if (ReadUCharAcquire(&initialized)) {
        return STATUS_SUCCESS;
    }
    // Made before anything starts: a request at raised IRQL must not depend on an allocation.
    const NTSTATUS made = AllocateWorkSlots();
    if (!NT_SUCCESS(made)) {
        return made;
    }
    rateNotApplied = 1;
    const NTSTATUS status = transport->InitializeUsb(record);
    WriteUCharRelease(&initialized, NT_SUCCESS(status) ? 1 : 0);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (ReadUCharAcquire(&streaming)) {
        // A stop that kept streaming: the first period after it says the data broke off.
        WriteUCharRelease(&restartMarker, 1);
        if (!ReadUCharAcquire(&startPending) && !ReadUCharAcquire(&restartPending)) {
            if (!AtPassive()) {
                WriteUCharRelease(&restartPending, 1);
                if (!QueueSlot(kStreamingRestart)) {
                    WriteUCharRelease(&restartPending, 0);
                }
            } else {
                // At PASSIVE_LEVEL (the engine mutex is not held here).
                RestartLocked();
            }
        }
    }
    return status;
}

void EngineStreaming::StopEngine()
{
    CancelRetry();
    Lock();
    if (ReadUCharAcquire(&initialized)) {
        ChangeStreaming(kStreamingStop, true);
        WriteUCharRelease(&initialized, 0);
        transport->ReleaseUsb();
    }
    Unlock();
}

void EngineStreaming::FreeGatherArrays()
{
    for (GatherSlot& slot : gather) {
        if (slot.buffers != nullptr) {
            ExFreePoolWithTag(slot.buffers, kTagEngine);
        }
        slot = GatherSlot{};
    }
}

void EngineStreaming::SetRateIndex(ULONG value)
{
    InStackLock lock(&gatherLock);
    rateIndex = value;
}

// The stop before the change may only be queued (at raised IRQL, or too soon after a start), so
// periods can still run: what they read is replaced under the gather lock once none is under
// way, and the old gather arrays are freed after.
void EngineStreaming::ApplyStreamConfiguration(const StreamConfiguration* record,
                                               ULONG rateIndexInForce)
{
    // The rate index follows the stream set's whatever the configuration: starts use it.
    SetRateIndex(rateIndexInForce);
    if (record->index == configuration.index) {
        return;
    }
    if (ReadUCharAcquire(&initialized)) {
        ChangeStreaming(kStreamingStop);
    }
    ULONG layouts = 0;
    ULONG channels = 0;
    const ChannelLayoutList& inputs = record->inputLayouts;
    while (layouts < inputs.count && inputs.items != nullptr &&
           channels + inputs.items[layouts].channelCount <= record->deviceInputChannels) {
        channels += inputs.items[layouts].channelCount;
        ++layouts;
    }
    PVOID* arrays[kGatherSlots] = {};
    if (record->deviceInputChannels != 0 && inputs.count != 0) {
        for (PVOID*& array : arrays) {
            array = static_cast<PVOID*>(
                ExAllocatePoolWithTag(NonPagedPool, sizeof(PVOID) * inputs.count, kTagEngine));
            if (array == nullptr) {
                // Without every array no frame can be gathered: run as if there were one layout.
                for (PVOID*& made : arrays) {
                    if (made != nullptr) {
                        ExFreePoolWithTag(made, kTagEngine);
                        made = nullptr;
                    }
                }
                layouts = layouts > 1 ? 1 : layouts;
                break;
            }
            RtlZeroMemory(array, sizeof(PVOID) * inputs.count);
        }
    }
    PVOID* old[kGatherSlots] = {};
    for (bool swapped = false; !swapped;) {
        InStackLock lock(&gatherLock);
        if (periodsInFlight != 0) {
            continue;
        }
        configuration = *record;
        usbInputLayouts = layouts;
        for (ULONG i = 0; i < kGatherSlots; ++i) {
            old[i] = gather[i].buffers;
            gather[i] = GatherSlot{};
            gather[i].buffers = arrays[i];
        }
        swapped = true;
    }
    for (PVOID* array : old) {
        if (array != nullptr) {
            ExFreePoolWithTag(array, kTagEngine);
        }
    }
}

NTSTATUS EngineStreaming::AllocateWorkSlots()
{
    for (WorkSlot& slot : work) {
        if (slot.item == nullptr) {
            slot.item = IoAllocateWorkItem(context->device->FunctionalDeviceObject);
            if (slot.item == nullptr) {
                return STATUS_INSUFFICIENT_RESOURCES;
            }
        }
    }
    return STATUS_SUCCESS;
}

void EngineStreaming::FreeWorkSlots()
{
    for (WorkSlot& slot : work) {
        if (slot.item != nullptr) {
            IoFreeWorkItem(slot.item);
            slot.item = nullptr;
        }
    }
}

bool EngineStreaming::QueueSlot(ULONG index)
{
    WorkSlot& slot = work[index];
    if (slot.item == nullptr) {
        return false;
    }
    // Already in the queue: that one carries the request out when it runs.
    if (InterlockedExchange(&slot.queued, 1) != 0) {
        return true;
    }
    if (!NT_SUCCESS(IoAcquireRemoveLock(&context->removeLock, nullptr))) {
        InterlockedExchange(&slot.queued, 0);
        return false;
    }
    PIO_WORKITEM_ROUTINE routine = index == kRunControlSlot ? &RunControlWorkItem
                                   : index == kRetrySlot    ? &RetryWorkItem
                                                            : &StreamingWorkItem;
    IoQueueWorkItem(slot.item, routine, DelayedWorkQueue, &slot);
    return true;
}

void EngineStreaming::RetryStart(LONG serial)
{
    WriteRelease(&retrySerial, serial);
    WriteRelease(&retriesLeft, static_cast<LONG>(kStartRetries));
    ArmRetry();
}

// Already set or queued: that one takes the serial and count just written.
void EngineStreaming::ArmRetry()
{
    if (!Live() || InterlockedExchange(&retryArmed, 1) != 0) {
        return;
    }
    if (!NT_SUCCESS(IoAcquireRemoveLock(&context->removeLock, nullptr))) {
        InterlockedExchange(&retryArmed, 0);
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = -kStartRetryMs * 10000;
    KeSetTimer(&retryTimer, due, &retryDpc);
}

// At PASSIVE_LEVEL, before the engine stops or goes: a set timer gives back its remove lock, and
// a DPC already under way finishes (its work item finds the engine stopped).
void EngineStreaming::CancelRetry()
{
    if (KeCancelTimer(&retryTimer)) {
        InterlockedExchange(&retryArmed, 0);
        IoReleaseRemoveLock(&context->removeLock, nullptr);
    }
    KeFlushQueuedDpcs();
}

void EngineStreaming::RetryTimerDpc(PKDPC, PVOID deferredContext, PVOID, PVOID)
{
    auto* self = static_cast<EngineStreaming*>(deferredContext);
    if (!self->QueueSlot(kRetrySlot)) {
        InterlockedExchange(&self->retryArmed, 0);
    }
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
}

void EngineStreaming::RetryWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* slot = static_cast<WorkSlot*>(parameter);
    EngineStreaming* self = slot->engine;
    InterlockedExchange(&slot->queued, 0);
    InterlockedExchange(&self->retryArmed, 0);
    // A later run-control request, a start queued behind the rate or a stopped device decides
    // instead.
    const LONG serial = ReadAcquire(&self->retrySerial);
    if (self->Live() && ReadAcquire(&self->runControlSerial) == serial && !self->IsStreaming() &&
        !ReadUCharAcquire(&self->startPending) && !ReadUCharAcquire(&self->restartPending) &&
        self->ChangeStreaming(kStreamingStart) == kChangeImpossible &&
        InterlockedDecrement(&self->retriesLeft) > 0) {
        self->ArmRetry();
    }
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
}

bool EngineStreaming::QueueWork(ULONG kind, ULONG argument1, ULONG argument2,
                                PIO_WORKITEM_ROUTINE routine)
{
    if (!NT_SUCCESS(IoAcquireRemoveLock(&context->removeLock, nullptr))) {
        return false;
    }
    auto* packet = static_cast<WorkPacket*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(WorkPacket), kTagQueue));
    PIO_WORKITEM item =
        packet != nullptr ? IoAllocateWorkItem(context->device->FunctionalDeviceObject) : nullptr;
    if (item == nullptr) {
        if (packet != nullptr) {
            ExFreePoolWithTag(packet, kTagQueue);
        }
        IoReleaseRemoveLock(&context->removeLock, nullptr);
        return false;
    }
    *packet = WorkPacket{item, this, kind, argument1, argument2};
    IoQueueWorkItem(item, routine, DelayedWorkQueue, packet);
    return true;
}

void EngineStreaming::StreamingWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* slot = static_cast<WorkSlot*>(parameter);
    EngineStreaming* self = slot->engine;
    // Out of the queue now: a request from here on queues it again.
    InterlockedExchange(&slot->queued, 0);
    const LONG serial = ReadAcquire(&self->runControlSerial);
    const bool live = self->Live();
    switch (slot->kind) {
        case kStreamingStop:
            if (live && self->ChangeStreaming(kStreamingStop) == kChangeTooSoon) {
                LARGE_INTEGER delay;
                delay.QuadPart = -static_cast<LONGLONG>(kStopGuardMs) * 10000;
                KeDelayExecutionThread(KernelMode, FALSE, &delay);
            }
            WriteUCharRelease(&self->stopPending, 0);
            break;
        case kStreamingStart:
            WriteUCharRelease(&self->startPending, 0);
            if (live && self->ChangeStreaming(kStreamingStart) == kChangeImpossible) {
                self->RetryStart(serial);
            }
            break;
        default:
            WriteUCharRelease(&self->restartPending, 0);
            if (live && self->ChangeStreaming(kStreamingRestart) == kChangeImpossible) {
                self->RetryStart(serial);
            }
            break;
    }
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
}

// Carries out the last request queued from raised IRQL, unless one came at PASSIVE_LEVEL since.
void EngineStreaming::RunControlWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* slot = static_cast<WorkSlot*>(parameter);
    EngineStreaming* self = slot->engine;
    InterlockedExchange(&slot->queued, 0);
    ULONG on = 0;
    LONG serial = 0;
    {
        InStackLock hold(&self->workLock);
        on = self->queuedRunControl;
        serial = self->queuedRunControlSerial;
    }
    if (GetPnpState(self->context) == kPnpStarted &&
        ReadAcquire(&self->runControlSerial) == serial &&
        self->RunControlNow(on) == kChangeImpossible && on != 0) {
        self->RetryStart(serial);
    }
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
}

void EngineStreaming::CallWorkItem(PDEVICE_OBJECT, PVOID parameter)
{
    auto* packet = static_cast<WorkPacket*>(parameter);
    EngineStreaming* self = packet->engine;
    if (GetPnpState(self->context) == kPnpStarted && packet->kind == kCallSetRate) {
        self->SetRate(static_cast<LONG>(packet->argument1), packet->argument2);
    }
    IoReleaseRemoveLock(&self->context->removeLock, nullptr);
    IoFreeWorkItem(packet->item);
    ExFreePoolWithTag(packet, kTagQueue);
}

NTSTATUS EngineStreaming::SetRate(LONG configurationIndex, ULONG newRateIndex)
{
    if (configurationIndex != ConfigurationIndex()) {
        return STATUS_UNSUCCESSFUL;
    }
    if (!AtPassive()) {
        // The caller must learn that the rate will not change: a success here would leave the
        // device on the old rate while everyone above believes the new one.
        return QueueWork(kCallSetRate, static_cast<ULONG>(configurationIndex), newRateIndex,
                         &CallWorkItem)
                   ? STATUS_SUCCESS
                   : STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = STATUS_SUCCESS;
    bool retry = false;
    const LONG serial = ReadAcquire(&runControlSerial);
    Lock();
    const ULONG previousRateIndex = rateIndex;
    if (newRateIndex < configuration.rateCount) {
        // The stream set takes the index on success even when nothing goes to the device yet;
        // the next start must use it.
        SetRateIndex(newRateIndex);
    }
    if (ReadUCharAcquire(&initialized) && !host->IsExternalClockSelected() &&
        newRateIndex < configuration.rateCount) {
        const ULONG rate = configuration.rates[newRateIndex];
        if (rate != transport->CurrentRate() || rateNotApplied) {
            // Running transfers are sized for the old rate: they stop for the request and start
            // again at the new one.
            const bool resume = ReadUCharAcquire(&streaming) && transport->IsStreaming();
            if (resume) {
                StopUsbStreaming(1, true);
            }
            status = transport->SetSampleRate(rate);
            rateNotApplied = 0;
            if (!NT_SUCCESS(status)) {
                // The stream set keeps its index on a failure: a start must not bring the
                // refused rate to the device behind its back.
                SetRateIndex(previousRateIndex);
            }
            if (resume) {
                WriteUCharRelease(&restartMarker, 1);
                InterlockedExchange(&credit, 1);
                // A refused rate leaves the device at the rate it had, which the index is back
                // to: the streams, which still run, go on at that one.
                const NTSTATUS started = StartDeviceStreaming(
                    NT_SUCCESS(status) ? rate : transport->CurrentRate(), true);
                if (NT_SUCCESS(started) && started != kStartQueuedBehindRate) {
                    lastStartMs = NowMs();
                } else {
                    StopUsbStreaming(0, false);
                    // The streams still run, at the new rate or the old: their start is tried
                    // again.
                    retry = true;
                }
            }
        }
    }
    Unlock();
    if (retry) {
        RetryStart(serial);
    }
    return status;
}

LONG EngineStreaming::RunControl(ULONG on)
{
    if (!AtPassive()) {
        {
            // The serial and the request it belongs to change together, or a request numbered
            // before another could be the one left for the work item.
            InStackLock hold(&workLock);
            queuedRunControlSerial = InterlockedIncrement(&runControlSerial);
            queuedRunControl = on;
        }
        return QueueSlot(kRunControlSlot) ? kChangeQueued : kChangeImpossible;
    }
    InterlockedIncrement(&runControlSerial);
    return RunControlNow(on);
}

LONG EngineStreaming::RunControlNow(ULONG on)
{
    Lock();
    LONG answer;
    if (!on) {
        InterlockedExchange(&credit, 1);
        answer = ChangeStreaming(kStreamingStop);
    } else if (ReadUCharAcquire(&streaming)) {
        InterlockedExchange(&credit, 1);
        answer = kChangeNothingToDo;
    } else {
        answer = ChangeStreaming(kStreamingStart);
    }
    Unlock();
    return answer;
}

void EngineStreaming::StopUsbStreaming(LONG managerState, bool keep)
{
    transport->StopIsoStreaming();
    routing->ResetRings();
    routing->NotifyStreamManager(managerState);
    if (!keep) {
        SetTransfersAhead(static_cast<ULONG>(transport->QueueAhead()), false);
        host->StoreTransfersAhead(transfersAhead);
        WriteUCharRelease(&streaming, 0);
    }
}

LONG EngineStreaming::ChangeStreaming(ULONG kind, bool keep)
{
    if (!ReadUCharAcquire(&initialized)) {
        return kChangeImpossible;
    }
    if (kind == kStreamingRestart && ReadUCharAcquire(&restartPending)) {
        return kChangeAlreadyPending;
    }
    if (kind == kStreamingStop && ReadUCharAcquire(&stopPending) && !AtPassive()) {
        return kChangeAlreadyPending;
    }
    if (ReadUCharAcquire(&startPending)) {
        // A start queued behind the rate is on its way: a start asked meanwhile is that one.
        return kind == kStreamingStart ? kChangeAlreadyPending : kChangeImpossible;
    }
    if (!AtPassive()) {
        volatile UCHAR* pending = kind == kStreamingStop    ? &stopPending
                                  : kind == kStreamingStart ? &startPending
                                                            : &restartPending;
        WriteUCharRelease(pending, 1);
        if (!QueueSlot(kind)) {
            WriteUCharRelease(pending, 0);
            return kChangeImpossible;
        }
        return kChangeQueued;
    }
    Lock();
    LONG answer = kChangeDone;
    if (!ReadUCharAcquire(&initialized)) {
        answer = kChangeImpossible;
    } else if (kind == kStreamingStart && ReadUCharAcquire(&streaming)) {
        lastStartMs = NowMs();
        answer = kChangeNothingToDo;
    } else if (kind != kStreamingStart && !ReadUCharAcquire(&streaming)) {
        answer = kChangeNothingToDo;
    } else if (kind == kStreamingStop && !keep && NowMs() - lastStartMs <= kStopGuardMs) {
        answer = kChangeTooSoon;
    } else {
        if (kind != kStreamingStart) {
            StopUsbStreaming(keep ? 1 : 0, keep);
        }
        if (kind != kStreamingStop && !NT_SUCCESS(StartLocked(kind == kStreamingRestart))) {
            answer = kChangeImpossible;
        }
    }
    Unlock();
    return answer;
}

NTSTATUS EngineStreaming::StartDeviceStreaming(ULONG rate, bool restart)
{
    if (!ReadUCharAcquire(&initialized)) {
        return kEngineFail;
    }
    if (transport->IsStreaming()) {
        return STATUS_SUCCESS;
    }
    routing->ResetForStart(restart);
    routing->NotifyStreamManager(2);
    NTSTATUS status;
    if (rate == transport->CurrentRate() && !rateNotApplied) {
        IsoEngineCallbacks routines{};
        routines.onFillOutput = &FillOutput;
        routines.onCancelPacket = &CancelPacket;
        routines.fillContext = this;
        routines.onUsbPeriod = &UsbPeriod;
        routines.periodContext = this;
        routines.onPeriodsLost = &PeriodsLost;
        routines.restartStreaming = &Restart;
        routines.restartContext = this;
        transport->SetEngineCallbacks(routines);
        IsoStreamShape shape{};
        LayoutShape(configuration.outputLayouts, 0xFFFFFFFF, &shape.outChannels,
                    &shape.outSampleBytes);
        LayoutShape(configuration.inputLayouts, configuration.deviceInputChannels,
                    &shape.inChannels, &shape.inSampleBytes);
        transport->SetStreamShape(shape);
        transport->SetQueueAhead(static_cast<LONG>(transfersAhead));
        status = transport->StartIsoStreaming();
    } else {
        status = SetRate(ConfigurationIndex(), rateIndex);
        if (NT_SUCCESS(status)) {
            WriteUCharRelease(&startPending, 1);
            status = kStartQueuedBehindRate;
            if (!QueueSlot(kStreamingStart)) {
                WriteUCharRelease(&startPending, 0);
                status = STATUS_UNSUCCESSFUL;
            }
        }
    }
    if (!NT_SUCCESS(status)) {
        routing->ResetRings();
        routing->NotifyStreamManager(0);
    }
    return status;
}

void EngineStreaming::SetTransfersAhead(ULONG value, bool markLoaded)
{
    transfersAhead = value > kMaxTransfersAhead ? kMaxTransfersAhead : value;
    if (markLoaded) {
        transfersAheadLoaded = 1;
    }
}

NTSTATUS EngineStreaming::GetCallbackDelay(ULONG* value) const
{
    if (!transfersAheadLoaded) {
        *value = 0;
        return STATUS_DEVICE_NOT_READY;
    }
    *value = transfersAhead;
    return STATUS_SUCCESS;
}

EngineStreaming::GatherSlot* EngineStreaming::FindGatherSlot(ULONG frameKey, ULONG layouts)
{
    // A complete slot is being handed to the routing by another completion: never take it over.
    GatherSlot* free = nullptr;
    GatherSlot* oldest = nullptr;
    for (GatherSlot& slot : gather) {
        const bool complete = slot.count >= layouts;
        if (slot.count != 0 && !complete && slot.frameKey == frameKey) {
            return &slot;
        }
        if (slot.count == 0 && free == nullptr) {
            free = &slot;
        }
        if (slot.count != 0 && !complete &&
            (oldest == nullptr || frameKey - slot.frameKey > frameKey - oldest->frameKey)) {
            oldest = &slot;
        }
    }
    return free != nullptr ? free : oldest;
}

void EngineStreaming::OnUsbPeriod(ULONG frameKey, ULONG framesIn, ULONG layoutIndex, PVOID buffer,
                                  LONG flags, ULONG framesOut, ULONG multiplier)
{
    PeriodShape shape{};
    {
        // Counted in flight: a configuration change waits for the period before it replaces
        // what the period reads.
        InStackLock lock(&gatherLock);
        ++periodsInFlight;
        shape.layouts = usbInputLayouts;
        shape.layoutCount = configuration.inputLayouts.count;
        shape.framesPerMs =
            configuration.framesPerMs != nullptr && rateIndex < configuration.rateCount
                ? configuration.framesPerMs[rateIndex]
                : 0;
        shape.gathered = usbInputLayouts >= 2 && gather[0].buffers != nullptr;
    }
    const LONG answer =
        RunPeriod(shape, frameKey, framesIn, layoutIndex, buffer, flags, framesOut, multiplier);
    {
        InStackLock lock(&gatherLock);
        --periodsInFlight;
    }
    if (answer < 0) {
        ChangeStreaming(kStreamingStop);
    }
}

LONG EngineStreaming::RunPeriod(const PeriodShape& shape, ULONG frameKey, ULONG framesIn,
                                ULONG layoutIndex, PVOID buffer, LONG flags, ULONG framesOut,
                                ULONG multiplier)
{
    InterlockedExchangeAdd(&credit, -static_cast<LONG>(framesIn));
    if (ReadUCharAcquire(&restartMarker)) {
        flags |= kDiscontinuityFlag;
        WriteUCharRelease(&restartMarker, 0);
    }
    // The routing fills the entries of the layouts after the device's own (loopback inputs read
    // back from the output ring), so the period's array holds one entry per input layout even
    // when the device's input is a single buffer.
    // Sized by the configuration's layouts, not the device's count: that count drops to one when
    // the gather arrays could not be had, while the routing still fills every layout's entry.
    PVOID periodInputs[kMaxPeriodInputs] = {buffer};
    PVOID* inputs = shape.layoutCount <= kMaxPeriodInputs ? periodInputs : nullptr;
    GatherSlot* slot = nullptr;
    if (shape.gathered) {
        if (layoutIndex >= shape.layouts) {
            return 0;
        }
        InStackLock lock(&gatherLock);
        slot = FindGatherSlot(frameKey, shape.layouts);
        if (slot == nullptr) {
            return 0;  // every slot is being handed on: this part of the frame is lost
        }
        if (slot->count == 0 || slot->frameKey != frameKey) {
            // A slot taken over from an older frame starts empty.
            RtlZeroMemory(slot->buffers, sizeof(PVOID) * shape.layoutCount);
            slot->count = 0;
            slot->flags = 0;
        }
        slot->frameKey = frameKey;
        slot->buffers[layoutIndex] = buffer;
        ++slot->count;
        slot->flags |= flags;
        if (slot->count < shape.layouts) {
            return 0;
        }
        // Complete: this completion hands the frame on; the slot stays taken until it is done.
        inputs = slot->buffers;
        flags = slot->flags;
    }
    const LONG answer = routing->RoutingTick(frameKey, inputs, framesIn, flags, framesOut,
                                             shape.framesPerMs * multiplier);
    InterlockedExchange(&credit, answer);
    if (slot != nullptr) {
        InStackLock lock(&gatherLock);
        slot->frameKey = 0;
        slot->count = 0;
        slot->flags = 0;
    }
    return answer;
}

void EngineStreaming::RestartStreaming()
{
    if (!ReadUCharAcquire(&initialized) || ReadUCharAcquire(&restartPending) ||
        ReadUCharAcquire(&startPending)) {
        return;
    }
    if (!AtPassive()) {
        WriteUCharRelease(&restartPending, 1);
        if (!QueueSlot(kStreamingRestart)) {
            WriteUCharRelease(&restartPending, 0);
        }
        return;
    }
    RestartLocked();
}

void EngineStreaming::RestartLocked()
{
    const LONG serial = ReadAcquire(&runControlSerial);
    bool failed = false;
    Lock();
    if (ReadUCharAcquire(&initialized) && ReadUCharAcquire(&streaming)) {
        StopUsbStreaming(0, false);
        failed = !NT_SUCCESS(StartLocked(true));
    }
    Unlock();
    if (failed) {
        RetryStart(serial);
    }
}

NTSTATUS EngineStreaming::StartLocked(bool restart)
{
    InterlockedExchange(&credit, 1);
    const NTSTATUS status = StartDeviceStreaming(RateInForce(), restart);
    if (NT_SUCCESS(status) && status != kStartQueuedBehindRate) {
        WriteUCharRelease(&streaming, 1);
        lastStartMs = NowMs();
    }
    return status;
}

void EngineStreaming::FillOutput(PVOID engine, ULONG startFrame, ULONG samples, ULONG column,
                                 PVOID* buffer, ULONG reserved, ULONG previousStartFrame,
                                 ULONG previousSamples)
{
    static_cast<EngineStreaming*>(engine)->routing->GetDeviceOutputData(
        startFrame, samples, column, buffer, reserved != 0, previousStartFrame, previousSamples);
}

void EngineStreaming::CancelPacket(PVOID engine, ULONG, ULONG, ULONG column, PVOID buffer)
{
    static_cast<EngineStreaming*>(engine)->routing->CancelPacket(column, buffer);
}

// The transport's last argument is its queue-ahead: the routing looks that many milliseconds of
// frames further ahead.
void EngineStreaming::UsbPeriod(PVOID engine, ULONG startFrame, ULONG samples, ULONG column,
                                PVOID data, LONG errorFlags, ULONG slotSamples, LONG queueAhead)
{
    static_cast<EngineStreaming*>(engine)->OnUsbPeriod(
        startFrame, samples, column, data, errorFlags, slotSamples,
        queueAhead > 0 ? static_cast<ULONG>(queueAhead) : 0);
}

void EngineStreaming::Restart(PVOID engine)
{
    static_cast<EngineStreaming*>(engine)->RestartStreaming();
}

void EngineStreaming::PeriodsLost(PVOID engine, ULONG frames)
{
    InterlockedExchangeAdd(&static_cast<EngineStreaming*>(engine)->lostPeriods,
                           static_cast<LONG>(frames));
}
