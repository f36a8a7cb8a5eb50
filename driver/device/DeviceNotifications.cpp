// The device context's sinks and the fan-out of change events to the open control filters.
#include <new>

#include "DeviceLifecycle.h"
#include "DeviceModel.h"
#include "DeviceNotifications.h"
#include "DeviceParts.h"
#include "EndpointNaming.h"
#include "FilterLinks.h"
#include "PoolTag.h"

volatile ULONG ControlSampleRate = 44100;
volatile ULONG ControlBufferSize = 512;

namespace {

void NotifyGeneralChange(DeviceContext* context)
{
    FireControlEvent(context, &kPropSetControlGeneral);
}

class GeneralSink final : public DeviceGeneralSink
{
public:
    explicit GeneralSink(DeviceContext* owner) : context(owner) {}

    void OnClockStateChanged(const ClockSourceInfo*, LONG, ULONG) override
    {
        NotifyGeneralChange(context);
    }
    void OnConfigurationChanged() override { NameEndpoints(context); }
    void OnClockRateChanged() override { NotifyGeneralChange(context); }
    void OnDeviceStarted() override { FireControlEvent(context, &kPropSetControlRaw); }
    void OnGeneralChange() override { NotifyGeneralChange(context); }

private:
    DeviceContext* context;
};

class StreamSink final : public DeviceStreamSink
{
public:
    explicit StreamSink(DeviceContext* owner) : context(owner) {}

    // Streaming stopped with no pin holding the rate: put the control clients' rate back in
    // force, when the current configuration has it.
    void OnStreamsReconfigured(LONG streamingState) override
    {
        NotifyGeneralChange(context);
        const ULONG rate = ControlSampleRate;
        DeviceParts* parts = GetDeviceParts();
        if (streamingState != 0 || ReadUCharAcquire(&context->rateFixedByPin) != 0 || rate == 0 ||
            parts == nullptr || context->streamManager == nullptr) {
            return;
        }
        const LONG index = parts->FindConfigurationRate(context->streamManager, rate);
        if (index >= 0) {
            parts->ApplyRateIndex(context->streamManager, index);
        }
    }

    void OnStreamRateApplied(ULONG, ULONG rate) override
    {
        QueryOsVersion(context);
        RenameMmDeviceEndpoints(context, rate);
    }

private:
    DeviceContext* context;
};

struct ContextBlock
{
    DeviceContext context;  // first: the block and the context share their address
    GeneralSink general;
    StreamSink stream;
};

// Unlinks the filter's node from a list whose lock the caller holds; null when it is not there.
FilterListNode* Unlink(FilterListNode** head, PKSFILTER filter)
{
    for (FilterListNode** link = head; *link != nullptr; link = &(*link)->next) {
        if ((*link)->filter == filter) {
            FilterListNode* node = *link;
            *link = node->next;
            return node;
        }
    }
    return nullptr;
}

ControlClientLink* ClientOf(PKSFILTER filter)
{
    return static_cast<ControlClientLink*>(filter->Context);
}

}  // namespace

DeviceContext* AllocateDeviceContext()
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ContextBlock), kTagDeviceObjects);
    if (memory == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(memory, sizeof(ContextBlock));
    auto* block = static_cast<ContextBlock*>(memory);
    new (&block->general) GeneralSink(&block->context);
    new (&block->stream) StreamSink(&block->context);
    block->context.generalSink = &block->general;
    block->context.streamSink = &block->stream;
    block->context.osVersion = kOsVersionNotProbed;
    return &block->context;
}

void ReleaseDeviceContext(DeviceContext* context)
{
    ExFreePoolWithTag(reinterpret_cast<ContextBlock*>(context), kTagDeviceObjects);
}

bool IsDeviceModelStarted(DeviceContext* context)
{
    return context->deviceModel != nullptr && context->deviceModel->IsStarted();
}

// The list lock is held across the walk: a filter that closes meanwhile waits to unlink its node,
// so no walker ever reaches a filter after its Close.
void FireControlEvent(DeviceContext* context, const GUID* eventSet)
{
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    for (FilterListNode* node = context->controlFilters; node != nullptr; node = node->next) {
        KsGenerateEvents(node->filter, eventSet, 0, 0, nullptr, nullptr, nullptr);
    }
    KeReleaseInStackQueuedSpinLock(&lock);
}

void WakeClientEvents(DeviceContext* context)
{
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    for (FilterListNode* node = context->controlFilters; node != nullptr; node = node->next) {
        ControlClientLink* client = ClientOf(node->filter);
        PRKEVENT event = client != nullptr ? client->RegisteredNotificationEvent() : nullptr;
        if (event != nullptr) {
            KeSetEvent(event, 8, FALSE);
        }
    }
    KeReleaseInStackQueuedSpinLock(&lock);
}

bool IsAnyClientStreaming(DeviceContext* context)
{
    bool streaming = false;
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    for (FilterListNode* node = context->controlFilters; node != nullptr && !streaming;
         node = node->next) {
        ControlClientLink* client = ClientOf(node->filter);
        streaming = client != nullptr && client->HasRunningClientStream();
    }
    KeReleaseInStackQueuedSpinLock(&lock);
    return streaming;
}

bool IsAnyWavePinRunning(DeviceContext* context)
{
    bool running = false;
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->waveFilterListLock, &lock);
    for (FilterListNode* node = context->waveFilters; node != nullptr && !running;
         node = node->next) {
        auto* pins = static_cast<WavePinSet*>(node->filter->Context);
        running = pins != nullptr && pins->IsAnyPinRunning();
    }
    KeReleaseInStackQueuedSpinLock(&lock);
    return running;
}

bool IsDeviceBusy(DeviceContext* context)
{
    if (IsAnyClientStreaming(context) || IsAnyWavePinRunning(context)) {
        return true;
    }
    return context->deviceModel != nullptr && context->deviceModel->IsExternalClockSelected();
}

bool IsRateSupported(DeviceContext* context, ULONG rate)
{
    if (context->deviceModel == nullptr) {
        return false;
    }
    ULONG count = 0;
    const ULONG* rates = nullptr;
    context->deviceModel->GetSupportedRates(&count, &rates);
    for (ULONG i = 0; rates != nullptr && i < count; ++i) {
        if (rates[i] == rate) {
            return true;
        }
    }
    return false;
}

ULONG QueryOsVersion(DeviceContext* context)
{
    static constexpr ULONG kProbed[] = {0x06020000, 0x06010000, 0x06000100,
                                        0x06000000, 0x05020000, 0x05010000};
    ULONG version = ReadULongAcquire(&context->osVersion);
    if (version != kOsVersionNotProbed) {
        return version;
    }
    version = 0x05000000;
    for (ULONG candidate : kProbed) {
        if (RtlIsNtDdiVersionAvailable(candidate)) {
            version = candidate;
            break;
        }
    }
    WriteULongRelease(&context->osVersion, version);
    return version;
}

NTSTATUS AddOpenControlFilter(DeviceContext* context, PKSFILTER filter)
{
    // A filter counted as open but off the list would never hear an event; refuse it before the
    // count, the all-closed event or the list change.
    auto* node = static_cast<FilterListNode*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(FilterListNode), kTagDeviceObjects));
    if (node == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    node->filter = filter;
    KeWaitForSingleObject(&context->controlFilterWalkMutex, Executive, KernelMode, FALSE, nullptr);
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    ++context->openControlFilters;
    KeClearEvent(&context->filtersClosedEvent);
    node->next = context->controlFilters;
    context->controlFilters = node;
    KeReleaseInStackQueuedSpinLock(&lock);
    KeReleaseMutex(&context->controlFilterWalkMutex, FALSE);
    return STATUS_SUCCESS;
}

void RemoveOpenControlFilter(DeviceContext* context, PKSFILTER filter)
{
    KeWaitForSingleObject(&context->controlFilterWalkMutex, Executive, KernelMode, FALSE, nullptr);
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    FilterListNode* removed = Unlink(&context->controlFilters, filter);
    const bool lastClosed = --context->openControlFilters < 1;
    KeReleaseInStackQueuedSpinLock(&lock);
    KeReleaseMutex(&context->controlFilterWalkMutex, FALSE);
    if (removed != nullptr) {
        ExFreePoolWithTag(removed, kTagDeviceObjects);
    }
    if (lastClosed) {
        KeSetEvent(&context->filtersClosedEvent, IO_NO_INCREMENT, FALSE);
    }
}

void ForEachOpenControlFilter(DeviceContext* context, void (*visit)(PKSFILTER filter, PVOID arg),
                              PVOID arg)
{
    KeWaitForSingleObject(&context->controlFilterWalkMutex, Executive, KernelMode, FALSE, nullptr);
    // Nodes change only under the mutex, which this walk holds: the list is stable without the
    // spin lock.
    for (FilterListNode* node = context->controlFilters; node != nullptr; node = node->next) {
        visit(node->filter, arg);
    }
    KeReleaseMutex(&context->controlFilterWalkMutex, FALSE);
}

bool AddOpenWaveFilter(DeviceContext* context, PKSFILTER filter)
{
    auto* node = static_cast<FilterListNode*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(FilterListNode), kTagDeviceObjects));
    if (node == nullptr) {
        return false;
    }
    node->filter = filter;
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->waveFilterListLock, &lock);
    node->next = context->waveFilters;
    context->waveFilters = node;
    KeReleaseInStackQueuedSpinLock(&lock);
    return true;
}

void RemoveOpenWaveFilter(DeviceContext* context, PKSFILTER filter)
{
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->waveFilterListLock, &lock);
    FilterListNode* removed = Unlink(&context->waveFilters, filter);
    KeReleaseInStackQueuedSpinLock(&lock);
    if (removed != nullptr) {
        ExFreePoolWithTag(removed, kTagDeviceObjects);
    }
}
