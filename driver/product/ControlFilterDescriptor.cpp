// The device's private control filter, its descriptor's only filter: user-mode software opens it
// by its reference string and talks to it through property requests and events.
#include <ks.h>

#include <iterator>

#include "controlfilter/ControlFilter.h"
#include "device/DeviceLifecycle.h"

const KSFILTER_DESCRIPTOR ControlFilterDescriptor = {
    .Dispatch = &kControlFilterDispatch,
    .AutomationTable = &kControlFilterAutomation,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = &kControlFilterReferenceGuid,
    .PinDescriptorsCount = std::size(kControlFilterPins),
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = kControlFilterPins,
    .CategoriesCount = 1,
    .Categories = &KSCATEGORY_TOPOLOGY,
    .NodeDescriptorsCount = 0,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = nullptr,
    .ConnectionsCount = 0,
    .Connections = nullptr,
    .ComponentId = &kControlFilterComponentId,
};
