// Creation and teardown of the control client. The operations are filled in step by step; until
// then every one of them refuses, so nothing reaches an unfinished path.
#include "ControlClient.h"

#include <new>

#include "device/PoolTag.h"

namespace {
constexpr ULONG kTagControlClient = PoolTag("PcNw");
}

ControlClient::ControlClient(PKSFILTER owningFilter, DeviceContext* deviceContext)
    : filter(owningFilter), context(deviceContext)
{
}

ControlClient::~ControlClient() = default;

NTSTATUS ControlClient::Create(PKSFILTER filter, DeviceContext* context, ControlClient** client)
{
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ControlClient), kTagControlClient);
    if (memory == nullptr) {
        *client = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(memory, sizeof(ControlClient));
    *client = new (memory) ControlClient(filter, context);
    return STATUS_SUCCESS;
}

void ControlClient::Destroy(ControlClient* client)
{
    if (client == nullptr) {
        return;
    }
    client->~ControlClient();
    ExFreePoolWithTag(client, kTagControlClient);
}

void ControlClient::FreeFromObjectBag(PVOID client)
{
    Destroy(static_cast<ControlClient*>(client));
}

NTSTATUS ControlClient::RegisterRemovalEvent(HANDLE, PVOID)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::ReleaseRemovalEvent()
{
    return STATUS_SUCCESS;
}
PRKEVENT ControlClient::RegisteredNotificationEvent()
{
    return nullptr;
}
bool ControlClient::HasRunningClientStream()
{
    return false;
}
void ControlClient::RaiseChangeFlags(ULONG) {}
void ControlClient::RecordOwner(PVOID fileObject)
{
    if (owner == nullptr) {
        owner = fileObject;
    }
}
bool ControlClient::HasOwner() const
{
    return owner != nullptr;
}
NTSTATUS ControlClient::MapClientBuffers(ControlDirection,
                                         PVOID const (&)[kControlChannels][kControlHalves], ULONG,
                                         KPROCESSOR_MODE)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::UnmapClientBuffers(ControlDirection)
{
    return STATUS_SUCCESS;
}
NTSTATUS ControlClient::SetEvents(HANDLE, HANDLE)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::ReleaseEvents()
{
    return STATUS_SUCCESS;
}
NTSTATUS ControlClient::StartStreaming()
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::StopStreaming()
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::BufferDone()
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::QueueWait(PIRP)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::ReleaseWait()
{
    return STATUS_SUCCESS;
}
ULONG ControlClient::TakeChangeFlags()
{
    return 0;
}
void ControlClient::GetPosition(ULONGLONG* position, ULONGLONG* timeNs)
{
    *position = 0;
    *timeNs = 0;
}
bool ControlClient::IsRunning()
{
    return false;
}
ULONG ControlClient::SnapBufferSize(ULONG)
{
    return 0;
}
NTSTATUS ControlClient::SetBufferSize(ULONG)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::OnControlRateChanged(ULONG)
{
    return STATUS_SUCCESS;
}
void ControlClient::OnDevicePeriod(ClientStream*) {}
void ControlClient::OnStreamConfigurationChanged(ClientStream*, LONG) {}
void ControlClient::OnFlags(ClientStream*, ULONG) {}
ULONG ControlClient::GetOutputPortCount()
{
    return 0;
}
ULONG ControlClient::GetInputPortCount()
{
    return 0;
}
NTSTATUS ControlClient::OpenOutputPort(ULONG)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::OpenInputPort(ULONG)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::CloseOutputPort(ULONG)
{
    return STATUS_SUCCESS;
}
NTSTATUS ControlClient::CloseInputPort(ULONG)
{
    return STATUS_SUCCESS;
}
NTSTATUS ControlClient::CloseAllPorts()
{
    return STATUS_SUCCESS;
}
ULONG ControlClient::GetOpenOutputMask()
{
    return 0;
}
ULONG ControlClient::GetOpenInputMask()
{
    return 0;
}
ULONG ControlClient::GetInputDataMask()
{
    return 0;
}
NTSTATUS ControlClient::SetMidiEvent(HANDLE)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::ReleaseMidiEvent()
{
    return STATUS_SUCCESS;
}
NTSTATUS ControlClient::ReadMidi(PIRP, ULONG, PVOID, ULONG, ControlMidiReadResult*)
{
    return STATUS_UNSUCCESSFUL;
}
NTSTATUS ControlClient::WriteMidi(ULONG, PVOID, ULONG, KPROCESSOR_MODE)
{
    return STATUS_UNSUCCESSFUL;
}
void ControlClient::OnInputData(MidiReader*) {}
void ControlClient::OnOutputDone(MidiWriter*, const UCHAR*) {}
ULONG ControlClient::OnPortTableChanged(ULONG generation)
{
    return generation;
}
LONG ControlClient::Deliver(MidiReader*, LONGLONG, const UCHAR*, ULONG, bool)
{
    return 1;
}
void ControlClient::DataAvailable(MidiReader*) {}
void ControlClient::PortTableChanged(MidiReader*, ULONG) {}
void ControlClient::BufferDone(MidiWriter*, const UCHAR*) {}
void ControlClient::PortTableChanged(MidiWriter*, ULONG) {}
