// Wave filter factories from endpoints, the interface values they publish, and the open and close
// of their filters.
#include "ks/WaveFilter.h"

#include <new>

#include "device/DeviceLifecycle.h"
#include "ks/PinStream.h"

namespace {

constexpr WCHAR kNoBreakSpace = 0x00A0;

void WriteInterfaceValues(PKSFILTERFACTORY factory, const WaveEndpoint& endpoint)
{
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(factory);
    HANDLE key = nullptr;
    if (link == nullptr || !NT_SUCCESS(IoOpenDeviceInterfaceRegistryKey(link, KEY_WRITE, &key))) {
        return;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"CLSID");
    NTSTATUS status = ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<char16_t*>(kWaveFilterClsid),
                                    sizeof kWaveFilterClsid);
    if (NT_SUCCESS(status)) {
        ULONG length = 0;
        while (length < kEndpointNameCharacters && endpoint.name[length] != 0) {
            ++length;
        }
        // The endpoint name may fill its buffer without a terminator: write at most its
        // characters and one NUL.
        WCHAR value[kEndpointNameCharacters + 1] = {};
        RtlCopyMemory(value, endpoint.name, length * sizeof(WCHAR));
        RtlInitUnicodeString(&name, u"FriendlyName");
        ZwSetValueKey(key, &name, 0, REG_SZ, value, (length + 1) * sizeof(WCHAR));
    }
    ZwClose(key);
}

void CountOpenFilter(DeviceContext* context, bool open)
{
    bool lastClosed = false;
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&context->controlFilterListLock, &lock);
    if (open) {
        ++context->openControlFilters;
        KeClearEvent(&context->filtersClosedEvent);
    } else {
        lastClosed = --context->openControlFilters < 1;
    }
    KeReleaseInStackQueuedSpinLock(&lock);
    if (lastClosed) {
        KeSetEvent(&context->filtersClosedEvent, IO_NO_INCREMENT, FALSE);
    }
}

void FreeFilterContext(PVOID context)
{
    auto* filter = static_cast<WaveFilterContext*>(context);
    filter->~WaveFilterContext();
    ExFreePoolWithTag(context, kWaveFilterTag);
}

bool AnyRunning(WavePinNode* node)
{
    for (; node != nullptr; node = node->next) {
        auto* stream = static_cast<WavePinStream*>(static_cast<PinStream*>(node->pin->Context));
        if (stream != nullptr && stream->IsPinRunning()) {
            return true;
        }
    }
    return false;
}

}  // namespace

void WaveReferenceString(const WCHAR* name, WCHAR* out)
{
    ULONG length = 0;
    for (ULONG i = 0; i < kEndpointNameCharacters && name[i] != 0; ++i) {
        WCHAR c = name[i];
        if (c >= u'a' && c <= u'z') {
            c = static_cast<WCHAR>(c - u'a' + u'A');
        } else if (c == kNoBreakSpace) {
            c = u'_';
        }
        if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_') {
            out[length++] = c;
        }
    }
    out[length] = 0;
}

DeviceContext* WaveDeviceContext(PVOID object)
{
    PKSDEVICE device = KsGetDevice(object);
    return device != nullptr ? static_cast<DeviceContext*>(device->Context) : nullptr;
}

WaveFilter* WaveFilterOf(PKSFILTER filter)
{
    return static_cast<WaveFilter*>(KsFilterGetParentFilterFactory(filter)->Context);
}

bool WaveFilterContext::IsAnyPinRunning()
{
    KLOCK_QUEUE_HANDLE lock;
    KeAcquireInStackQueuedSpinLock(&pinListLock, &lock);
    const bool running = AnyRunning(renderPins) || AnyRunning(capturePins);
    KeReleaseInStackQueuedSpinLock(&lock);
    return running;
}

WaveFilter* CreateWaveFilterFactory(DeviceContext* context, const WaveEndpoint* endpoint)
{
    return CreateWaveFilterFactory(context, endpoint, TopologyOf(*endpoint));
}

WaveFilter* CreateWaveFilterFactory(DeviceContext* context, const WaveEndpoint* endpoint,
                                    WaveTopology topology)
{
    if (endpoint->channelCount == 0) {
        return nullptr;
    }
    auto* filter = static_cast<WaveFilter*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(WaveFilter), kWaveFilterTag));
    if (filter == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(filter, sizeof *filter);
    filter->endpoint = *endpoint;
    filter->topology = topology;
    // A descriptor that points at arrays that could not be built is never published.
    if (!BuildWaveDataRanges(filter) || !BuildWavePinDescriptors(filter) ||
        !BuildWaveFilterDescriptor(filter)) {
        FreeWaveFilter(filter);
        return nullptr;
    }
    WCHAR reference[kEndpointNameCharacters + 1];
    WaveReferenceString(endpoint->name, reference);
    PKSFILTERFACTORY factory = nullptr;
    NTSTATUS status = KsCreateFilterFactory(context->device->FunctionalDeviceObject,
                                            filter->descriptor, reference, nullptr,
                                            KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, &factory);
    if (!NT_SUCCESS(status)) {
        FreeWaveFilter(filter);
        return nullptr;
    }
    filter->factory = factory;
    WriteInterfaceValues(factory, filter->endpoint);
    if (NT_SUCCESS(KsFilterFactorySetDeviceClassesState(factory, endpoint->interfaceState != 0))) {
        filter->interfaceEnabled = endpoint->interfaceState != 0 ? 1 : 0;
    }
    KsAcquireDevice(context->device);
    status = KsAddItemToObjectBag(factory->Bag, filter, FreeWaveFilter);
    if (NT_SUCCESS(status)) {
        factory->Context = filter;
    }
    KsReleaseDevice(context->device);
    if (!NT_SUCCESS(status)) {
        // The factory cannot outlive its descriptors: take its interfaces down with it.
        KsFilterFactorySetDeviceClassesState(factory, FALSE);
        KsFreeObjectCreateItemsByContext(
            *static_cast<KSDEVICE_HEADER*>(
                context->device->FunctionalDeviceObject->DeviceExtension),
            factory);
        FreeWaveFilter(filter);
        return nullptr;
    }
    return filter;
}

NTSTATUS OpenWaveFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = WaveDeviceContext(filter);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(WaveFilterContext), kWaveFilterTag);
    if (memory == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(memory, sizeof(WaveFilterContext));
    auto* pins = new (memory) WaveFilterContext();
    pins->filter = filter;
    KeInitializeSpinLock(&pins->pinListLock);
    KsAcquireControl(filter);
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, pins, FreeFilterContext);
    KsReleaseControl(filter);
    if (!NT_SUCCESS(status)) {
        FreeFilterContext(pins);
        return status;
    }
    filter->Context = static_cast<WavePinSet*>(pins);
    // The list node first: a filter that cannot be listed must leave the count and the event as
    // they were.
    if (!AddOpenWaveFilter(context, filter)) {
        filter->Context = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    CountOpenFilter(context, true);
    return STATUS_SUCCESS;
}

NTSTATUS CloseWaveFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = WaveDeviceContext(filter);
    if (context != nullptr && filter->Context != nullptr) {
        RemoveOpenWaveFilter(context, filter);
        CountOpenFilter(context, false);
    }
    return STATUS_SUCCESS;
}

WaveFilterContext* WaveFilterContextOf(PKSFILTER filter)
{
    return static_cast<WaveFilterContext*>(static_cast<WavePinSet*>(filter->Context));
}
