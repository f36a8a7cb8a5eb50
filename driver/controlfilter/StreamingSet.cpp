// The low-latency streaming set: each item maps onto one operation of the handle's client or one
// device-model query. Buffer tables and event handles are read in the caller's layout.
#include <iterator>

#include "CallerLayout.h"
#include "ControlFilterRequest.h"
#include "ControlFilterSets.h"
#include "ControlFilterWire.h"
#include "StreamingSetParts.h"
#include "control/ControlClient.h"
#include "device/DeviceModel.h"
#include "device/DeviceModelRecords.h"

namespace {

void WriteU32(void* answer, ULONG value)
{
    RtlCopyMemory(answer, &value, sizeof value);
}

ULONG ReadU32(const void* data, ULONG at = 0)
{
    ULONG value;
    RtlCopyMemory(&value, static_cast<const UCHAR*>(data) + at, sizeof value);
    return value;
}

NTSTATUS FillClockSources(const ControlRequest& request, void* answer, const void*)
{
    request.model->GetClockSourceRecord(static_cast<ClockSourceRecord*>(answer));
    return STATUS_SUCCESS;
}

NTSTATUS FillRunning(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->IsRunning() ? 1 : 0);
    return STATUS_SUCCESS;
}

NTSTATUS Refuse(const ControlRequest&, void*, const void*)
{
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS FillChangeFlags(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->TakeChangeFlags());
    return STATUS_SUCCESS;
}

NTSTATUS QueueWait(const ControlRequest& request, void*, const void*)
{
    if (GetPnpState(request.device) != kPnpStarted) {
        return STATUS_UNSUCCESSFUL;
    }
    return request.client->QueueWait(request.irp);
}

NTSTATUS FillPosition(const ControlRequest& request, void* answer, const void*)
{
    auto* position = static_cast<PositionBlock*>(answer);
    request.client->GetPosition(&position->samples, &position->nanoseconds);
    return STATUS_SUCCESS;
}

NTSTATUS FillInputChannelName(const ControlRequest& request, void* answer, const void*)
{
    return FillChannelName(request, false, static_cast<NameRecord*>(answer));
}

NTSTATUS FillOutputChannelName(const ControlRequest& request, void* answer, const void*)
{
    return FillChannelName(request, true, static_cast<NameRecord*>(answer));
}

NTSTATUS FillLatencies(const ControlRequest& request, void* answer, const void*)
{
    const ULONG own = request.client->BufferSize();
    const ULONG size = request.client->HasOwner() && own != 0 ? own : ControlBufferSize;
    auto* latencies = static_cast<LatenciesBlock*>(answer);
    return request.model->GetLatencies(ControlSampleRate, size, &latencies->input,
                                       &latencies->output);
}

// ---- SET -------------------------------------------------------------------------------------

NTSTATUS RefuseSet(const ControlRequest&, void*)
{
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS ApplyClockSource(const ControlRequest& request, void* data)
{
    return request.model->SetClockSource(static_cast<LONG>(ReadU32(data, 4)));
}

NTSTATUS MapBuffers(const ControlRequest& request, void* data, ControlDirection direction)
{
    ClientBufferTable table;
    const NTSTATUS status = ReadBufferTable(data, request.dataBytes, request.narrow, &table);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    request.client->RecordOwner(RequestFileObject(request));
    return request.client->MapClientBuffers(direction, table.halves, table.halfBytes,
                                            request.irp->RequestorMode);
}

NTSTATUS MapInputBuffers(const ControlRequest& request, void* data)
{
    return MapBuffers(request, data, kControlInput);
}

NTSTATUS MapOutputBuffers(const ControlRequest& request, void* data)
{
    return MapBuffers(request, data, kControlOutput);
}

NTSTATUS SetEvents(const ControlRequest& request, void* data)
{
    const ULONG second = request.narrow ? sizeof(ULONG) : sizeof(ULONGLONG);
    const HANDLE event0 = ReadUserHandle(data, 0, request.narrow);
    const HANDLE event1 = ReadUserHandle(data, second, request.narrow);
    request.client->RecordOwner(RequestFileObject(request));
    return request.client->SetEvents(event0, event1);
}

NTSTATUS ReleaseEvents(const ControlRequest& request, void*)
{
    request.client->RecordOwner(RequestFileObject(request));
    request.client->ReleaseEvents();
    return STATUS_SUCCESS;
}

NTSTATUS UnmapInput(const ControlRequest& request, void*)
{
    request.client->UnmapClientBuffers(kControlInput);
    return STATUS_SUCCESS;
}

NTSTATUS UnmapOutput(const ControlRequest& request, void*)
{
    request.client->UnmapClientBuffers(kControlOutput);
    return STATUS_SUCCESS;
}

NTSTATUS BufferDone(const ControlRequest& request, void*)
{
    return request.client->BufferDone();
}

NTSTATUS Start(const ControlRequest& request, void*)
{
    return request.client->StartStreaming();
}

NTSTATUS Stop(const ControlRequest& request, void*)
{
    return request.client->StopStreaming();
}

NTSTATUS ReleaseWait(const ControlRequest& request, void*)
{
    request.client->ReleaseWait();
    return STATUS_SUCCESS;
}

NTSTATUS CanSampleRate(const ControlRequest& request, void* data)
{
    return IsRateUsableFor(request, ReadU32(data));
}

const GetItem kGetItems[] = {
    {kPropStreamingClockSources, Needs::Model, kClockSourceRecordBytes, FillClockSources},
    {kPropStreamingRunning, Needs::Handle, sizeof(ULONG), FillRunning},
    {kPropStreamingReserved2, Needs::Handle, sizeof(ULONG), Refuse},
    {kPropStreamingChangeFlags, Needs::Started, sizeof(ULONG), FillChangeFlags},
    {kPropStreamingWait, Needs::Started, 24, QueueWait, true},
    {kPropStreamingPosition, Needs::Started, sizeof(PositionBlock), FillPosition},
    {kPropStreamingInputChannelName, Needs::Model, sizeof(NameRecord), FillInputChannelName},
    {kPropStreamingOutputChannelName, Needs::Model, sizeof(NameRecord), FillOutputChannelName},
    {kPropStreamingLatencies, Needs::Model, sizeof(LatenciesBlock), FillLatencies},
    {kPropStreamingBufferSizeRange, Needs::Started, sizeof(BufferSizeRangeBlock),
     FillBufferSizeRange},
};

const SetItem kSetItems[] = {
    {kPropStreamingClockSources, Needs::Model, ApplyClockSource},
    {kPropStreamingReserved2, Needs::Handle, RefuseSet},
    {kPropStreamingInputBuffers, Needs::Started, MapInputBuffers},
    {kPropStreamingOutputBuffers, Needs::Started, MapOutputBuffers},
    {kPropStreamingEvents, Needs::Started, SetEvents},
    {kPropStreamingReleaseEvents, Needs::Started, ReleaseEvents},
    {kPropStreamingReleaseInputBuffers, Needs::Started, UnmapInput},
    {kPropStreamingReleaseOutputBuffers, Needs::Started, UnmapOutput},
    {kPropStreamingBufferDone, Needs::Started, BufferDone},
    {kPropStreamingStart, Needs::Started, Start},
    {kPropStreamingStop, Needs::Started, Stop},
    {kPropStreamingReleaseWait, Needs::Started, ReleaseWait},
    {kPropStreamingCanSampleRate, Needs::Model, CanSampleRate},
};

}  // namespace

NTSTATUS StreamingGet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunGet(irp, property, data, kGetItems, static_cast<ULONG>(std::size(kGetItems)));
}

NTSTATUS StreamingSet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunSet(irp, property, data, kSetItems, static_cast<ULONG>(std::size(kSetItems)));
}
