// What the device calls besides the control filter, for the tests that drive the real control
// filter on a device of the tests: no wave or MIDI filters, naming that does nothing.
#include "device/DeviceLifecycle.h"
#include "device/EndpointNaming.h"

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
