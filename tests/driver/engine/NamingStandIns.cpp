// Endpoint naming for the fixtures whose stream manager is a counting listener (replaced on
// purpose, to see what the engine hands it): the driver's naming reads the stream manager's
// configuration, so it stands in here too and creates no filters.
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
