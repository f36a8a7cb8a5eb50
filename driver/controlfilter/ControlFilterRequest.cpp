#include "ControlFilterRequest.h"

#include "ControlFilterWire.h"
#include "control/ControlClient.h"
#include "device/DeviceLifecycle.h"
#include "device/DeviceModel.h"
#include "device/PoolTag.h"

namespace {

constexpr ULONG kAnswerTag = PoolTag("PcfA");  // GET answers before they are copied out

DeviceContext* DeviceContextOf(PKSFILTER filter)
{
    PKSDEVICE device = KsGetDevice(filter);
    return device != nullptr ? static_cast<DeviceContext*>(device->Context) : nullptr;
}

bool HasWhatItNeeds(const ControlRequest& request, Needs needs)
{
    switch (needs) {
        case Needs::Handle:
            return true;
        case Needs::StreamManager:
            return request.device != nullptr && request.device->streamManager != nullptr;
        case Needs::Model:
            return request.device != nullptr && request.model != nullptr;
        case Needs::Started:
            return IsStarted(request);
    }
    return false;
}

template <typename Item>
const Item* FindItem(const Item* items, ULONG count, ULONG id)
{
    for (ULONG i = 0; i < count; ++i) {
        if (items[i].id == id) {
            return &items[i];
        }
    }
    return nullptr;
}

}  // namespace

ControlClient* ClientOfFilter(PKSFILTER filter)
{
    auto* link = static_cast<ControlClientLink*>(filter->Context);
    return static_cast<ControlClient*>(link);
}

NTSTATUS BeginControlRequest(PIRP irp, PKSIDENTIFIER property, Needs needs, ControlRequest* request)
{
    *request = {};
    request->irp = irp;
    request->property = property;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    request->propertyBytes = stack->Parameters.DeviceIoControl.InputBufferLength;
    request->dataBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
    request->narrow = IoIs32bitProcess(irp) != FALSE;
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    request->client = filter != nullptr ? ClientOfFilter(filter) : nullptr;
    if (request->client == nullptr) {
        return STATUS_INVALID_PARAMETER_1;
    }
    request->device = DeviceContextOf(filter);
    request->model = request->device != nullptr ? request->device->deviceModel : nullptr;
    return HasWhatItNeeds(*request, needs) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

NTSTATUS RunGet(PIRP irp, PKSIDENTIFIER property, PVOID data, const GetItem* items, ULONG count)
{
    irp->IoStatus.Information = 0;
    const GetItem* item = FindItem(items, count, property->Id);
    if (item == nullptr) {
        return STATUS_NOT_FOUND;
    }
    ControlRequest request;
    NTSTATUS status = BeginControlRequest(irp, property, item->needs, &request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (item->direct) {
        RtlZeroMemory(data, item->answerBytes);
        return item->fill(request, data, data);
    }
    const ULONG answerBytes = item->answerBytes != 0                  ? item->answerBytes
                              : request.dataBytes < kRawTransferLimit ? request.dataBytes
                                                                      : kRawTransferLimit;
    void* answer = ExAllocatePoolWithTag(NonPagedPoolNx, answerBytes, kAnswerTag);
    if (answer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(answer, answerBytes);
    status = item->fill(request, answer, data);
    if (NT_SUCCESS(status) && status != STATUS_PENDING) {
        RtlCopyMemory(data, answer, answerBytes);
        irp->IoStatus.Information = answerBytes;
    }
    ExFreePoolWithTag(answer, kAnswerTag);
    return status;
}

NTSTATUS RunSet(PIRP irp, PKSIDENTIFIER property, PVOID data, const SetItem* items, ULONG count)
{
    irp->IoStatus.Information = 0;
    const SetItem* item = FindItem(items, count, property->Id);
    if (item == nullptr) {
        return STATUS_NOT_FOUND;
    }
    ControlRequest request;
    const NTSTATUS status = BeginControlRequest(irp, property, item->needs, &request);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    return item->apply(request, data);
}

ULONG PropertyIndex(const ControlRequest& request)
{
    ULONG index;
    RtlCopyMemory(&index, reinterpret_cast<const UCHAR*>(request.property) + sizeof(KSPROPERTY),
                  sizeof index);
    return index;
}

bool IsStarted(const ControlRequest& request)
{
    return request.device != nullptr && request.model != nullptr &&
           IsDeviceModelStarted(request.device);
}

PVOID RequestFileObject(const ControlRequest& request)
{
    return IoGetCurrentIrpStackLocation(request.irp)->FileObject;
}
