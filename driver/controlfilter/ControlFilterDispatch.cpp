// Create and Close of the control filter: one ControlClient per open handle, kept in the filter's
// object bag, and the device's list of open control filters that events are fanned out to.
#include "ControlFilter.h"
#include "control/ControlClient.h"
#include "device/DeviceLifecycle.h"

namespace {

DeviceContext* DeviceContextOf(PKSFILTER filter)
{
    PKSDEVICE device = KsGetDevice(filter);
    return device != nullptr ? static_cast<DeviceContext*>(device->Context) : nullptr;
}

// PASSIVE_LEVEL. The client is in the bag (its cleanup in place) before the filter publishes it
// as its context or the device lists the filter.
NTSTATUS CreateControlFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = DeviceContextOf(filter);
    ControlClient* client = nullptr;
    NTSTATUS status = ControlClient::Create(filter, context, &client);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KsAcquireControl(filter);
    status = KsAddItemToObjectBag(filter->Bag, client, ControlClient::FreeFromObjectBag);
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

// PASSIVE_LEVEL. The client itself goes with the object bag.
NTSTATUS CloseControlFilter(PKSFILTER filter, PIRP)
{
    DeviceContext* context = DeviceContextOf(filter);
    if (context != nullptr && filter->Context != nullptr) {
        RemoveOpenControlFilter(context, filter);
    }
    return STATUS_SUCCESS;
}

}  // namespace

const KSFILTER_DISPATCH kControlFilterDispatch = {
    .Create = CreateControlFilter,
    .Close = CloseControlFilter,
    .Process = nullptr,
    .Reset = nullptr,
};
