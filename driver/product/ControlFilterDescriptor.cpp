// The device's private control filter. Its properties come with the control filter itself; until
// then the descriptor is published (so the device has its control interface) and every open is
// refused.
#include <ks.h>

#include "device/DeviceLifecycle.h"

namespace {

NTSTATUS RefuseControlFilterCreate(PKSFILTER, PIRP)
{
    return STATUS_NOT_SUPPORTED;
}

const KSFILTER_DISPATCH kControlFilterDispatch = {
    .Create = RefuseControlFilterCreate,
    .Close = nullptr,
    .Process = nullptr,
    .Reset = nullptr,
};

}  // namespace

const KSFILTER_DESCRIPTOR ControlFilterDescriptor = {
    .Dispatch = &kControlFilterDispatch,
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
