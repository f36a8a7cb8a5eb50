// The raw device-request set: one USB class request to the audio control interface, checked
// before anything reaches the device.
#include "ControlFilterRequest.h"
#include "ControlFilterSets.h"
#include "ControlFilterWire.h"
#include "device/DeviceModel.h"
#include "engine/RawDeviceRequest.h"

namespace {

// The request as the caller sent it, or the reason it goes no further: a wrong version, or a
// transfer longer than the data buffer that would receive or supply it.
NTSTATUS CheckRawRequest(const ControlRequest& request, PVOID data, RawDeviceRequest* raw)
{
    RtlCopyMemory(raw, request.property, sizeof *raw);
    if (raw->tag != kRawDeviceRequestTag) {
        return STATUS_UNSUCCESSFUL;
    }
    if (data == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (raw->length > request.dataBytes || raw->length > kRawTransferLimit) {
        return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
}

NTSTATUS RawGetHandler(const ControlRequest& request, void* answer, const void* data)
{
    RawDeviceRequest raw;
    const NTSTATUS status = CheckRawRequest(request, const_cast<void*>(data), &raw);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return request.model->RawGet(&raw, answer);
}

NTSTATUS RawSetHandler(const ControlRequest& request, void* data)
{
    RawDeviceRequest raw;
    const NTSTATUS status = CheckRawRequest(request, data, &raw);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return request.model->RawSet(&raw, data);
}

const GetItem kGetItems[] = {
    {kPropRawClassRequest, Needs::Model, 0, RawGetHandler},
};
const SetItem kSetItems[] = {
    {kPropRawClassRequest, Needs::Model, RawSetHandler},
};

}  // namespace

NTSTATUS RawGet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunGet(irp, property, data, kGetItems, 1);
}

NTSTATUS RawSet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunSet(irp, property, data, kSetItems, 1);
}
