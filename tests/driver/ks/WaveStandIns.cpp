// Endpoint naming as far as these tests need it: the product's one endpoint, filled as the
// device's endpoint naming gives it, becomes a wave filter at device start. The control filter is
// a bare one.
#include <ks.h>

#include <vector>

#include "WaveFixture.h"
#include "device/DeviceLifecycle.h"
#include "device/EndpointNaming.h"
#include "ks/WaveFilter.h"

std::vector<ULONG>& RenamedRates()
{
    static std::vector<ULONG> rates;
    return rates;
}

WaveEndpoint& EndpointForNextStart()
{
    static WaveEndpoint endpoint = ProductEndpoint();
    return endpoint;
}

WaveEndpoint ProductEndpoint()
{
    WaveEndpoint endpoint{};
    const char16_t name[] = u"Corvane Quorvel Stereo Out 1-2";
    for (size_t i = 0; i < std::size(name); ++i) {
        endpoint.name[i] = name[i];
    }
    endpoint.firstChannel = 0;
    endpoint.channelCount = 2;
    endpoint.kind = kEndpointLine;
    endpoint.mainOutput = 1;
    endpoint.pinName = &kLine12PinName;
    endpoint.lowestRate = 44100;
    endpoint.highestRate = 96000;
    endpoint.interfaceState = 1;
    return endpoint;
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

NTSTATUS CreateFilterFactories(DeviceContext* context)
{
    WaveEndpoint endpoint = EndpointForNextStart();
    endpoint.systemVersion = QueryOsVersion(context);
    const std::optional<WaveTopology>& topology = TopologyForNextStart();
    CreatedWaveFilters().push_back(topology.has_value()
                                       ? CreateWaveFilterFactory(context, &endpoint, *topology)
                                       : CreateWaveFilterFactory(context, &endpoint));
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

std::optional<WaveTopology>& TopologyForNextStart()
{
    static std::optional<WaveTopology> topology;
    return topology;
}

std::vector<WaveFilter*>& CreatedWaveFilters()
{
    static std::vector<WaveFilter*> filters;
    return filters;
}
