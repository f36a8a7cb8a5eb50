// The kernel-streaming filters and endpoint naming the device context calls, which do not exist
// yet: a control filter without properties, no wave or MIDI filters, and naming that only notes
// the rates the stream manager reports.
#include <ks.h>

#include <vector>

#include "device/DeviceLifecycle.h"
#include "device/EndpointNaming.h"

std::vector<ULONG>& RenamedRates()
{
    static std::vector<ULONG> rates;
    return rates;
}

const KSFILTER_DESCRIPTOR ControlFilterDescriptor = {
    .Dispatch = nullptr,
    .AutomationTable = nullptr,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
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

NTSTATUS RenameMmDeviceEndpoints(DeviceContext*, ULONG rate)
{
    RenamedRates().push_back(rate);
    return STATUS_SUCCESS;
}
