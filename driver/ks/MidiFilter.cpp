// MIDI filter factories from the port table, the interface values they publish, and the open and
// close of their filters.
#include "ks/MidiFilter.h"

#include "common/InStackLock.h"
#include "device/DeviceLifecycle.h"
#include "midi/MidiRouter.h"

namespace {

constexpr WCHAR kNoBreakSpace = 0x00A0;
constexpr ULONG kFilterNodeTag = 0x774E6350;  // "PcNw"

// The name of the port that names the filter: the output's for kinds 1 and 2, the input's for 0.
// Empty when the table has no such entry.
PCWSTR PortName(DeviceContext* context, const MidiFilter& filter)
{
    if (context->midiRouter == nullptr) {
        return u"";
    }
    MidiConfiguration table{};
    context->midiRouter->CopyPortTable(&table);
    const bool output = filter.kind != kMidiKindInput;
    const ULONG index = static_cast<ULONG>(output ? filter.outputPort : filter.inputPort);
    const ULONG count = output ? table.outputPortCount : table.inputPortCount;
    const PCWSTR* names = output ? table.outputPortNames : table.inputPortNames;
    if (names == nullptr || index >= count || names[index] == nullptr) {
        return u"";
    }
    return names[index];
}

void WriteInterfaceValues(PKSFILTERFACTORY factory, PCWSTR portName)
{
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(factory);
    HANDLE key = nullptr;
    if (link == nullptr || !NT_SUCCESS(IoOpenDeviceInterfaceRegistryKey(link, KEY_WRITE, &key))) {
        return;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"CLSID");
    NTSTATUS status = ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<char16_t*>(kMidiFilterClsid),
                                    sizeof kMidiFilterClsid);
    if (NT_SUCCESS(status)) {
        ULONG length = 0;
        while (portName[length] != 0) {
            ++length;
        }
        RtlInitUnicodeString(&name, u"FriendlyName");
        ZwSetValueKey(key, &name, 0, REG_SZ, const_cast<PWSTR>(portName),
                      (length + 1) * sizeof(WCHAR));
    }
    ZwClose(key);
}

bool KindMatches(ULONG kind, LONG inputIndex, LONG outputIndex)
{
    switch (kind) {
        case kMidiKindInput:
            return inputIndex >= 0;
        case kMidiKindOutput:
            return outputIndex >= 0;
        case kMidiKindInputOutput:
            return inputIndex >= 0 && outputIndex >= 0;
        default:
            return false;
    }
}

// Publishes the filter as the factory's context under the device mutex; false leaves the factory
// without descriptors it could rely on, so it is taken down.
bool Publish(DeviceContext* context, MidiFilter* filter, PKSFILTERFACTORY factory)
{
    KsAcquireDevice(context->device);
    NTSTATUS status = KsAddItemToObjectBag(factory->Bag, filter, FreeMidiFilter);
    if (NT_SUCCESS(status)) {
        factory->Context = filter;
    }
    KsReleaseDevice(context->device);
    if (NT_SUCCESS(status)) {
        return true;
    }
    KsFilterFactorySetDeviceClassesState(factory, FALSE);
    KsFreeObjectCreateItemsByContext(
        *static_cast<KSDEVICE_HEADER*>(context->device->FunctionalDeviceObject->DeviceExtension),
        factory);
    return false;
}

void CountOpenFilter(DeviceContext* context, bool open)
{
    bool lastClosed = false;
    {
        InStackLock hold(&context->controlFilterListLock);
        if (open) {
            ++context->openControlFilters;
            KeClearEvent(&context->filtersClosedEvent);
        } else {
            lastClosed = --context->openControlFilters < 1;
        }
    }
    if (lastClosed) {
        KeSetEvent(&context->filtersClosedEvent, IO_NO_INCREMENT, FALSE);
    }
}

void FreeFilterContext(PVOID context)
{
    ExFreePoolWithTag(context, kMidiFilterTag);
}

DeviceContext* DeviceContextOf(PVOID object)
{
    PKSDEVICE device = KsGetDevice(object);
    return device != nullptr ? static_cast<DeviceContext*>(device->Context) : nullptr;
}

bool ListOpenFilter(DeviceContext* context, PKSFILTER filter)
{
    auto* node = static_cast<FilterListNode*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(FilterListNode), kFilterNodeTag));
    if (node == nullptr) {
        return false;
    }
    node->filter = filter;
    InStackLock hold(&context->midiFilterListLock);
    node->next = context->midiFilters;
    context->midiFilters = node;
    return true;
}

void UnlistOpenFilter(DeviceContext* context, PKSFILTER filter)
{
    FilterListNode* removed = nullptr;
    {
        InStackLock hold(&context->midiFilterListLock);
        for (FilterListNode** link = &context->midiFilters; *link != nullptr;
             link = &(*link)->next) {
            if ((*link)->filter == filter) {
                removed = *link;
                *link = removed->next;
                break;
            }
        }
    }
    if (removed != nullptr) {
        ExFreePoolWithTag(removed, kFilterNodeTag);
    }
}

}  // namespace

void MidiReferenceString(const WCHAR* name, ULONG kind, WCHAR* out)
{
    ULONG length = 0;
    for (ULONG i = 0; i < kMidiReferenceCharacters && name[i] != 0; ++i) {
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
    if (kind == kMidiKindInput) {
        out[length++] = u'I';
    } else if (kind == kMidiKindOutput) {
        out[length++] = u'O';
    }
    out[length] = 0;
}

MidiFilter* CreateMidiFilterFactory(DeviceContext* context, ULONG kind, LONG inputIndex,
                                    LONG outputIndex)
{
    if ((inputIndex < 0 && outputIndex < 0) || !KindMatches(kind, inputIndex, outputIndex)) {
        return nullptr;
    }
    auto* filter = static_cast<MidiFilter*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MidiFilter), kMidiFilterTag));
    if (filter == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(filter, sizeof *filter);
    filter->kind = kind;
    filter->inputPort = kind == kMidiKindOutput ? -1 : inputIndex;
    filter->outputPort = kind == kMidiKindInput ? -1 : outputIndex;
    // A descriptor that points at arrays that could not be built is never published.
    if (!BuildMidiPinDescriptors(filter) || !BuildMidiFilterDescriptor(filter)) {
        FreeMidiFilter(filter);
        return nullptr;
    }
    const PCWSTR portName = PortName(context, *filter);
    WCHAR reference[kMidiReferenceCharacters + 2];
    MidiReferenceString(portName, kind, reference);
    PKSFILTERFACTORY factory = nullptr;
    const NTSTATUS status = KsCreateFilterFactory(
        context->device->FunctionalDeviceObject, filter->descriptor, reference, nullptr,
        KSCREATE_ITEM_FREEONSTOP, nullptr, nullptr, &factory);
    if (!NT_SUCCESS(status)) {
        FreeMidiFilter(filter);
        return nullptr;
    }
    filter->factory = factory;
    WriteInterfaceValues(factory, portName);
    if (NT_SUCCESS(KsFilterFactorySetDeviceClassesState(factory, TRUE))) {
        filter->enabled = 1;
    }
    if (!Publish(context, filter, factory)) {
        FreeMidiFilter(filter);
        return nullptr;
    }
    return filter;
}

MidiFilter* MidiFilterOfFactory(PKSFILTERFACTORY factory)
{
    const KSFILTER_DESCRIPTOR* descriptor = factory->FilterDescriptor;
    if (factory->Context == nullptr || descriptor == nullptr ||
        descriptor->ReferenceGuid == nullptr ||
        !IsEqualGUIDAligned(*descriptor->ReferenceGuid, kMidiFilterReferenceGuid)) {
        return nullptr;
    }
    return static_cast<MidiFilter*>(factory->Context);
}

MidiFilter* MidiFilterOf(PKSFILTER filter)
{
    return static_cast<MidiFilter*>(KsFilterGetParentFilterFactory(filter)->Context);
}

MidiFilterContext* MidiFilterContextOf(PKSFILTER filter)
{
    return static_cast<MidiFilterContext*>(filter->Context);
}

NTSTATUS OpenMidiFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = DeviceContextOf(filter);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto* pins = static_cast<MidiFilterContext*>(
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(MidiFilterContext), kMidiFilterTag));
    if (pins == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(pins, sizeof *pins);
    pins->filter = filter;
    KeInitializeSpinLock(&pins->pinListLock);
    KsAcquireControl(filter);
    NTSTATUS status = KsAddItemToObjectBag(filter->Bag, pins, FreeFilterContext);
    KsReleaseControl(filter);
    if (!NT_SUCCESS(status)) {
        FreeFilterContext(pins);
        return status;
    }
    // The list node first: a filter that cannot be listed leaves the count and the event as they
    // were.
    filter->Context = pins;
    if (!ListOpenFilter(context, filter)) {
        filter->Context = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    CountOpenFilter(context, true);
    return STATUS_SUCCESS;
}

NTSTATUS CloseMidiFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = DeviceContextOf(filter);
    if (context != nullptr && filter->Context != nullptr) {
        UnlistOpenFilter(context, filter);
        CountOpenFilter(context, false);
    }
    return STATUS_SUCCESS;
}
