// What the device context calls besides the control client, for the control client's tests: a
// control filter whose open builds a ControlClient as the control filter does (object bag, filter
// context, list of open control filters) and whose close takes it off the list, with the general
// event set so its event fan-out runs; no wave or MIDI filters; endpoint naming that does nothing.
#include <ks.h>

#include <iterator>

#include "control/ControlClient.h"
#include "device/DeviceLifecycle.h"
#include "device/EndpointNaming.h"

namespace {

NTSTATUS ControlCreate(PKSFILTER filter, PIRP)
{
    auto* context = static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
    ControlClient* client = nullptr;
    NTSTATUS status = ControlClient::Create(filter, context, &client);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KsAcquireControl(filter);
    status = KsAddItemToObjectBag(filter->Bag, client, &ControlClient::FreeFromObjectBag);
    KsReleaseControl(filter);
    if (!NT_SUCCESS(status)) {
        ControlClient::Destroy(client);
        return status;
    }
    filter->Context = static_cast<ControlClientLink*>(client);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return AddOpenControlFilter(context, filter);
}

NTSTATUS ControlClose(PKSFILTER filter, PIRP)
{
    auto* context = static_cast<DeviceContext*>(KsGetDevice(filter)->Context);
    if (context != nullptr) {
        RemoveOpenControlFilter(context, filter);
    }
    return STATUS_SUCCESS;
}

const KSEVENT_ITEM kEventItem = {0, sizeof(KSEVENTDATA), 0, nullptr, nullptr, nullptr};

const KSEVENT_SET kEventSets[] = {
    {&kPropSetControlGeneral, 1, &kEventItem},
    {&kPropSetControlRaw, 1, &kEventItem},
};

const KSAUTOMATION_TABLE kControlAutomation = {
    .PropertySetsCount = 0,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = nullptr,
    .MethodSetsCount = 0,
    .MethodItemSize = 0,
    .MethodSets = nullptr,
    .EventSetsCount = static_cast<ULONG>(std::size(kEventSets)),
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = kEventSets,
    .Alignment = nullptr,
};

const KSFILTER_DISPATCH kControlDispatch = {ControlCreate, ControlClose, nullptr, nullptr};

constexpr GUID kControlReference = {
    0x6242F6B0, 0x04E7, 0x497F, {0xAE, 0x8D, 0x28, 0x7E, 0x12, 0xD1, 0x94, 0x20}};

}  // namespace

const KSFILTER_DESCRIPTOR ControlFilterDescriptor = {
    .Dispatch = &kControlDispatch,
    .AutomationTable = &kControlAutomation,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = &kControlReference,
    .PinDescriptorsCount = 0,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = nullptr,
    .CategoriesCount = 1,
    .Categories = &KSCATEGORY_TOPOLOGY,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = nullptr,
};

NTSTATUS CreateFilterFactories(DeviceContext*)
{
    return STATUS_SUCCESS;
}

NTSTATUS NameEndpoints(DeviceContext*)
{
    return STATUS_SUCCESS;
}

NTSTATUS RegisterMediaCategories(DeviceContext*)
{
    return STATUS_SUCCESS;
}

NTSTATUS RenameMmDeviceEndpoints(DeviceContext*, ULONG)
{
    return STATUS_SUCCESS;
}
