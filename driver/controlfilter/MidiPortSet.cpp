// The private MIDI port set: port counts, masks, open and close by port number, and reads and
// writes from user buffers whose addresses come in the caller's layout.
#include <iterator>

#include "CallerLayout.h"
#include "ControlFilterRequest.h"
#include "ControlFilterSets.h"
#include "ControlFilterWire.h"
#include "StreamingSetParts.h"
#include "control/ControlClient.h"
#include "device/DeviceModel.h"
#include "midi/MidiConfiguration.h"

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

NTSTATUS FillOutputCount(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->GetOutputPortCount());
    return STATUS_SUCCESS;
}

NTSTATUS FillInputCount(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->GetInputPortCount());
    return STATUS_SUCCESS;
}

NTSTATUS FillOpenOutputMask(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->GetOpenOutputMask());
    return STATUS_SUCCESS;
}

NTSTATUS FillOpenInputMask(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->GetOpenInputMask());
    return STATUS_SUCCESS;
}

NTSTATUS FillInputDataMask(const ControlRequest& request, void* answer, const void*)
{
    WriteU32(answer, request.client->GetInputDataMask());
    return STATUS_SUCCESS;
}

// The result goes straight into the request's data: a read that pends is completed with it.
NTSTATUS ReadMidi(const ControlRequest& request, void* data, const void*)
{
    const auto* property = reinterpret_cast<const UCHAR*>(request.property);
    const ULONG port = ReadU32(property, offsetof(MidiReadProperty, port));
    PVOID buffer = ReadUserAddress(property, offsetof(MidiReadProperty, buffer), request.narrow);
    const ULONG length = ReadU32(property, offsetof(MidiReadProperty, length));
    const NTSTATUS status = request.client->ReadMidi(request.irp, port, buffer, length,
                                                     static_cast<ControlMidiReadResult*>(data));
    if (status != STATUS_PENDING && NT_SUCCESS(status)) {
        request.irp->IoStatus.Information = sizeof(MidiReadResult);
    }
    return status;
}

// The n-th entry of a direction whose id is negative (a private port), or null.
PCWSTR PrivatePortName(ULONG count, const PCWSTR* names, const ULONG* ids, ULONG n, LONG* id)
{
    for (ULONG i = 0; ids != nullptr && i < count; ++i) {
        if (static_cast<LONG>(ids[i]) >= 0) {
            continue;
        }
        if (n-- == 0) {
            *id = static_cast<LONG>(ids[i]);
            return names != nullptr && names[i] != nullptr ? names[i] : u"";
        }
    }
    return nullptr;
}

NTSTATUS FillPortName(const ControlRequest& request, void* answer, bool output)
{
    MidiConfiguration table = {};
    const NTSTATUS status = request.model->GetMidiPortInfo(&table);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    LONG id = 0;
    PCWSTR name = output ? PrivatePortName(table.outputPortCount, table.outputPortNames,
                                           table.outputPortIds, PropertyIndex(request), &id)
                         : PrivatePortName(table.inputPortCount, table.inputPortNames,
                                           table.inputPortIds, PropertyIndex(request), &id);
    if (name == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    auto* record = static_cast<NameRecord*>(answer);
    CopyRecordName(record, name);
    record->value = id;
    return STATUS_SUCCESS;
}

NTSTATUS FillOutputPortName(const ControlRequest& request, void* answer, const void*)
{
    return FillPortName(request, answer, true);
}

NTSTATUS FillInputPortName(const ControlRequest& request, void* answer, const void*)
{
    return FillPortName(request, answer, false);
}

// ---- SET -------------------------------------------------------------------------------------

NTSTATUS SetEvent(const ControlRequest& request, void* data)
{
    return request.client->SetMidiEvent(ReadUserHandle(data, 0, request.narrow));
}

NTSTATUS ReleaseEvent(const ControlRequest& request, void*)
{
    request.client->ReleaseMidiEvent();
    return STATUS_SUCCESS;
}

NTSTATUS OpenOutput(const ControlRequest& request, void* data)
{
    return request.client->OpenOutputPort(ReadU32(data));
}

NTSTATUS OpenInput(const ControlRequest& request, void* data)
{
    return request.client->OpenInputPort(ReadU32(data));
}

NTSTATUS CloseOutput(const ControlRequest& request, void* data)
{
    request.client->CloseOutputPort(ReadU32(data));
    return STATUS_SUCCESS;
}

NTSTATUS CloseInput(const ControlRequest& request, void* data)
{
    request.client->CloseInputPort(ReadU32(data));
    return STATUS_SUCCESS;
}

NTSTATUS CloseAll(const ControlRequest& request, void*)
{
    request.client->CloseAllPorts();
    return STATUS_SUCCESS;
}

NTSTATUS WriteMidi(const ControlRequest& request, void* data)
{
    const ULONG port = ReadU32(data, offsetof(MidiWriteData, port));
    PVOID buffer = ReadUserAddress(data, offsetof(MidiWriteData, buffer), request.narrow);
    const ULONG length = ReadU32(data, offsetof(MidiWriteData, length));
    return request.client->WriteMidi(port, buffer, length, request.irp->RequestorMode);
}

const GetItem kGetItems[] = {
    {kPropMidiOutputPortCount, Needs::Started, sizeof(ULONG), FillOutputCount},
    {kPropMidiInputPortCount, Needs::Started, sizeof(ULONG), FillInputCount},
    {kPropMidiOpenOutputMask, Needs::Started, sizeof(ULONG), FillOpenOutputMask},
    {kPropMidiOpenInputMask, Needs::Started, sizeof(ULONG), FillOpenInputMask},
    {kPropMidiInputDataMask, Needs::Started, sizeof(ULONG), FillInputDataMask},
    {kPropMidiRead, Needs::Started, sizeof(MidiReadResult), ReadMidi, true},
    {kPropMidiOutputPortName, Needs::Model, sizeof(NameRecord), FillOutputPortName},
    {kPropMidiInputPortName, Needs::Model, sizeof(NameRecord), FillInputPortName},
};

const SetItem kSetItems[] = {
    {kPropMidiEvent, Needs::Started, SetEvent},
    {kPropMidiReleaseEvent, Needs::Handle, ReleaseEvent},
    {kPropMidiOpenOutput, Needs::Started, OpenOutput},
    {kPropMidiOpenInput, Needs::Started, OpenInput},
    {kPropMidiCloseOutput, Needs::Handle, CloseOutput},
    {kPropMidiCloseInput, Needs::Handle, CloseInput},
    {kPropMidiCloseAll, Needs::Handle, CloseAll},
    {kPropMidiWrite, Needs::Started, WriteMidi},
};

}  // namespace

NTSTATUS MidiPortsGet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunGet(irp, property, data, kGetItems, static_cast<ULONG>(std::size(kGetItems)));
}

NTSTATUS MidiPortsSet(PIRP irp, PKSIDENTIFIER property, PVOID data)
{
    return RunSet(irp, property, data, kSetItems, static_cast<ULONG>(std::size(kSetItems)));
}
