// The general property set: device information, versions, clock, output mode and the other
// settings the device model answers, passed through as they are.
#include <iterator>

#include "CallerLayout.h"
#include "ControlFilterRequest.h"
#include "ControlFilterSets.h"
#include "ControlFilterWire.h"
#include "GeneralSetParts.h"
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

void CopyKinds(ULONG* out, const ULONG* kinds, ULONG count)
{
    for (ULONG i = 0; kinds != nullptr && i < count && i < kDeviceInfoTagSlots; ++i) {
        out[i] = kinds[i];
    }
}

NTSTATUS FillDeviceInfo(const ControlRequest& request, void* answer, const void*)
{
    auto* info = static_cast<DeviceInfoBlock*>(answer);
    StreamConfiguration configuration = {};
    request.model->GetCurrentConfiguration(&configuration);
    info->inputChannels = configuration.inputChannels;
    info->outputChannels = configuration.outputChannels;
    info->productId = request.model->GetProductId();
    info->one = 1;
    info->defaultBufferSize = request.model->GetDefaultBufferSize();
    PCSTR name = request.model->GetProductNameNarrow();
    for (ULONG i = 0; name != nullptr && i + 1 < kProductNameBytes && name[i] != 0; ++i) {
        info->productName[i] = name[i];
    }
    CopyKinds(info->inputKinds, configuration.inputChannelKinds, configuration.inputChannels);
    CopyKinds(info->outputKinds, configuration.outputChannelKinds, configuration.outputChannels);
    info->maxRateKilohertz = request.model->GetMaxRateKilohertz();
    return STATUS_SUCCESS;
}

NTSTATUS FillVersions(const ControlRequest& request, void* answer, const void*)
{
    auto* versions = static_cast<VersionsBlock*>(answer);
    versions->driver[0] = 7;
    versions->driver[3] = 3505;
    request.model->GetFirmwareVersion(&versions->firmware[0], &versions->firmware[1],
                                      &versions->firmware[2], &versions->firmware[3]);
    return STATUS_SUCCESS;
}

NTSTATUS FillSampleRate(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.model->GetCurrentRate());
    return STATUS_SUCCESS;
}

NTSTATUS FillBufferSize(const ControlRequest& request, void* answer, const void*)
{
    const ULONG own = request.client->BufferSize();
    WriteU32(answer, request.client->HasOwner() && own != 0 ? own : ControlBufferSize);
    return STATUS_SUCCESS;
}

NTSTATUS FillStreaming(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, IsAnyStreamRunningOn(request.device) ? 1 : 0);
    return STATUS_SUCCESS;
}

NTSTATUS FillSyncStatus(const ControlRequest& request, void* answer, const void*)
{
    const LONG status = request.model->EvaluateClockStatus();
    WriteU32(answer, status == 1 || status == 2 ? static_cast<ULONG>(status) : 0);
    return STATUS_SUCCESS;
}

NTSTATUS FillClockSource(const ControlRequest& request, void* answer, const void*)
{
    ClockSourceInfo info = {};
    const NTSTATUS status = request.model->GetClockSourceInfo(&info);
    auto* block = static_cast<ClockSourceBlock*>(answer);
    block->reserved = info.reserved;
    block->sourceCount = info.sourceCount;
    block->selectedSource = info.selectedSource;
    return status;
}

NTSTATUS FillClockSourceId(const ControlRequest& request, void* answer, const void*)
{
    GUID guid = {};
    const NTSTATUS status = request.model->GetClockSourceGuid(PropertyIndex(request), &guid);
    RtlCopyMemory(answer, &guid, sizeof guid);
    return status;
}

// Ids 17, 18 and 20 answer 0 with success on a device that is not started.
NTSTATUS FillOutputModeActive(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, IsStarted(request) && request.model->IsOutputModeActive());
    return STATUS_SUCCESS;
}

NTSTATUS FillHighSpeed(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, IsStarted(request) && request.model->IsHighSpeed());
    return STATUS_SUCCESS;
}

NTSTATUS FillControlValue(const ControlRequest& request, void* answer, const void*)
{
    ULONG value = 0;
    if (IsStarted(request)) {
        request.model->GetControlValue(&value);
    }
    WriteU32(answer, value);
    return STATUS_SUCCESS;
}

NTSTATUS FillExtendedInfo(const ControlRequest& request, void* answer, const void*)
{
    return request.model->GetExtendedInfo(answer);
}

// The caller's block names the rectangle; the answer carries it back with the rectangle's cells.
NTSTATUS FillMixer(const ControlRequest& request, void* answer, const void* data)
{
    RtlCopyMemory(answer, data, offsetof(MixerBlock, gains));
    return request.model->GetMixer(static_cast<MixerBlock*>(answer), kMixerBlockBytes);
}

NTSTATUS FillInputPeaks(const ControlRequest& request, void* answer, const void*)
{
    return request.model->GetInputPeaks(static_cast<ULONG*>(answer));
}

NTSTATUS FillOutputPeaks(const ControlRequest& request, void* answer, const void*)
{
    return request.model->GetOutputPeaks(static_cast<ULONG*>(answer));
}

NTSTATUS FillKeepRunning(const ControlRequest& request, void* answer, const void*)
{
    UCHAR on = 0;
    const NTSTATUS status = request.model->GetKeepRunning(&on);
    WriteU32(answer, on != 0 ? 1 : 0);
    return status;
}

// ---- SET -------------------------------------------------------------------------------------

NTSTATUS Accept(const ControlRequest&, void*)
{
    return STATUS_SUCCESS;
}

NTSTATUS ApplyBufferSize(const ControlRequest& request, void* data)
{
    return request.client->SetBufferSize(ReadU32(data));
}

NTSTATUS ApplyRemovalEvent(const ControlRequest& request, void* data)
{
    const HANDLE handle = ReadUserHandle(data, 0, request.narrow);
    return request.client->RegisterRemovalEvent(handle, RequestFileObject(request));
}

NTSTATUS ApplyReleaseRemovalEvent(const ControlRequest& request, void*)
{
    return request.client->ReleaseRemovalEvent();
}

NTSTATUS ApplyControlSwitch(const ControlRequest& request, void* data)
{
    USHORT on;
    USHORT value;
    RtlCopyMemory(&on, data, sizeof on);
    RtlCopyMemory(&value, static_cast<const UCHAR*>(data) + 2, sizeof value);
    request.model->SetControlSwitch(on != 0, value);
    return STATUS_SUCCESS;
}

NTSTATUS ApplyClockSource(const ControlRequest& request, void* data)
{
    ClockSourceInfo info = {};
    const NTSTATUS status = request.model->GetClockSourceInfo(&info);
    if (!NT_SUCCESS(status) || info.reserved != ReadU32(data, 0)) {
        return status;
    }
    return request.model->SetClockSource(static_cast<LONG>(ReadU32(data, 8)));
}

NTSTATUS ApplyOutputModeValue(const ControlRequest& request, void* data)
{
    return request.model->SetOutputModeValue(ReadU32(data));
}

NTSTATUS ApplyMixer(const ControlRequest& request, void* data)
{
    return request.model->SetMixer(static_cast<const MixerBlock*>(data), kMixerBlockBytes);
}

NTSTATUS ApplyKeepRunning(const ControlRequest& request, void* data)
{
    return request.model->SetKeepRunning(ReadU32(data) != 0);
}

const GetItem kGetItems[] = {
    {kPropGeneralDeviceInfo, Needs::Model, sizeof(DeviceInfoBlock), FillDeviceInfo},
    {kPropGeneralVersions, Needs::Started, sizeof(VersionsBlock), FillVersions},
    {kPropGeneralSampleRate, Needs::Model, sizeof(ULONG), FillSampleRate},
    {kPropGeneralBufferSize, Needs::Handle, sizeof(ULONG), FillBufferSize},
    {kPropGeneralStreaming, Needs::StreamManager, sizeof(ULONG), FillStreaming},
    {kPropGeneralSyncStatus, Needs::Model, sizeof(ULONG), FillSyncStatus},
    {kPropGeneralClockSource, Needs::Started, sizeof(ClockSourceBlock), FillClockSource},
    {kPropGeneralClockSourceId, Needs::Started, sizeof(GUID), FillClockSourceId},
    {kPropGeneralRateStatus, Needs::Started, sizeof(RateStatusBlock), FillRateStatus},
    {kPropGeneralRateByIndex, Needs::Started, sizeof(RateByIndexBlock), FillRateByIndex},
    {kPropGeneralOutputModeActive, Needs::Handle, sizeof(ULONG), FillOutputModeActive},
    {kPropGeneralHighSpeed, Needs::Handle, sizeof(ULONG), FillHighSpeed},
    {kPropGeneralExtendedInfo, Needs::Started, kExtendedInfoBytes, FillExtendedInfo},
    {kPropGeneralControlValue, Needs::Handle, sizeof(ULONG), FillControlValue},
    {kPropGeneralMixer, Needs::Started, kMixerBlockBytes, FillMixer},
    {kPropGeneralInputPeaks, Needs::Started, kPeaksBytes, FillInputPeaks},
    {kPropGeneralOutputPeaks, Needs::Started, kPeaksBytes, FillOutputPeaks},
    {kPropGeneralKeepRunning, Needs::Started, sizeof(ULONG), FillKeepRunning},
};

const SetItem kSetItems[] = {
    {kPropGeneralFlag2, Needs::Handle, Accept},
    {kPropGeneralSampleRate, Needs::Started, ApplySampleRate},
    {kPropGeneralBufferSize, Needs::Handle, ApplyBufferSize},
    {kPropGeneralRemovalEvent, Needs::Handle, ApplyRemovalEvent},
    {kPropGeneralReleaseRemovalEvent, Needs::Handle, ApplyReleaseRemovalEvent},
    {kPropGeneralControlSwitch, Needs::Started, ApplyControlSwitch},
    {kPropGeneralClockSource, Needs::Started, ApplyClockSource},
    {kPropGeneralOutputModeValue, Needs::Started, ApplyOutputModeValue},
    {kPropGeneralMixer, Needs::Started, ApplyMixer},
    {kPropGeneralKeepRunning, Needs::Started, ApplyKeepRunning},
};

}  // namespace

NTSTATUS GeneralGet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunGet(irp, property, data, kGetItems, static_cast<ULONG>(std::size(kGetItems)));
}

NTSTATUS GeneralSet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunSet(irp, property, data, kSetItems, static_cast<ULONG>(std::size(kSetItems)));
}
