// What the engine's tests replace of the driver's own parts: the control filter is a bare one
// (these tests do not reach its properties), and the rename of the stored endpoint formats only
// notes the rates the stream manager reports, for the tests to read. Endpoint naming, the wave
// filters and the registration of the pin names are the driver's own.
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

NTSTATUS RenameMmDeviceEndpoints(DeviceContext*, ULONG rate)
{
    RenamedRates().push_back(rate);
    return STATUS_SUCCESS;
}
