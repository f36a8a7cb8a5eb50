#include "ControlTestDevice.h"

#include <gtest/gtest.h>

#include <new>

#include "InputDeviceModel.h"
#include "device/DeviceLifecycle.h"
#include "device/PoolTag.h"
#include "engine/StreamManagerParts.h"
#include "midi/MidiConfiguration.h"

namespace {

using namespace std::chrono_literals;

constexpr ULONG kTagControlParts = PoolTag("TsCc");

const ULONG kInputKinds[] = {ChannelKindTag("line"), ChannelKindTag("line")};
const PCWSTR kInputNames[] = {u"In 1", u"In 2"};
const ChannelLayout kInputLayouts[] = {{kSampleInt24LE, 2, 0, 0}};

const PCWSTR kPortNames[kControlTestMidiPorts] = {u"MIDI 1", u"Private 1", u"MIDI 2", u"Private 2"};
const ULONG kPortIds[kControlTestMidiPorts] = {0, static_cast<ULONG>(-1), 1,
                                               static_cast<ULONG>(-2)};
const ULONG kPortRates[kControlTestMidiPorts] = {3125, 3125, 3125, 3125};

}  // namespace

void ControlDeviceModel::GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs)
{
    *outputs = 2;
    *inputs = 2;
}

LONG ControlDeviceModel::GetConfiguration(ULONG index, StreamConfiguration* record)
{
    const LONG result = DeviceModel::GetConfiguration(index, record);
    record->deviceInputChannels = 2;
    record->inputChannels = 2;
    record->inputChannelKinds = kInputKinds;
    record->inputChannelNames = kInputNames;
    record->inputLayouts = {1, kInputLayouts};
    return result;
}

void ControlDeviceModel::GetMidiPortCounts(ULONG* ports, ULONG* second)
{
    *ports = kControlTestMidiPorts;
    *second = 0;
}

MidiConfiguration ControlMidiTable(ULONG generation)
{
    MidiConfiguration record{};
    record.index = generation;
    record.inputPortCount = kControlTestMidiPorts;
    record.inputPortNames = kPortNames;
    record.inputPortIds = kPortIds;
    record.outputPortCount = kControlTestMidiPorts;
    record.outputPortNames = kPortNames;
    record.outputPortIds = kPortIds;
    record.outputByteRates = kPortRates;
    return record;
}

NTSTATUS ControlDeviceModel::GetMidiConfiguration(ULONG index, MidiConfiguration* record)
{
    *record = ControlMidiTable(index);
    return STATUS_SUCCESS;
}

ULONG ControlDeviceModel::GetBufferGranularity(ULONG rateIndex)
{
    if (onNextGranularity) {
        std::function<void()> hook = std::move(onNextGranularity);
        onNextGranularity = nullptr;
        hook();
    }
    return EngineTestDeviceModel::GetBufferGranularity(rateIndex);
}

ControlDeviceParts::ControlDeviceParts() : engines(InputDeviceUsbRecord(true, false)) {}

DeviceModel* ControlDeviceParts::CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath)
{
    void* memory =
        ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(ControlDeviceModel), kTagControlParts);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* model = new (memory) ControlDeviceModel(deviceLink, registryPath, &engines);
    if (!model->CreateEngine()) {
        DestroyDeviceModel(model);
        return nullptr;
    }
    return model;
}

void ControlDeviceParts::DestroyDeviceModel(DeviceModel* model)
{
    auto* controlModel = static_cast<ControlDeviceModel*>(model);
    controlModel->~ControlDeviceModel();
    ExFreePoolWithTag(controlModel, kTagControlParts);
}

// ---- The fixture --------------------------------------------------------------------------------

void ControlClientFixture::SetUp()
{
    LoadDriver(parts, DriverKey::Installed);
    attached = std::make_unique<Platform::Kernel::AttachedToProcess>(process);
}

void ControlClientFixture::TearDown()
{
    while (!handles.empty()) {
        CloseClient(handles.back().client);
    }
    if (device != nullptr) {
        Run(20ms);  // the MIDI tick stops at its next run once no port is open
    }
    attached.reset();
    LoadedDriverFixture::TearDown();
}

void ControlClientFixture::PlugIn(ULONG rateIndex, int audioClass)
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    device = PlugInDevice(UsbSim::BuildProductDescriptors({.audioClass = audioClass,
                                                           .inChannels = 2,
                                                           .midi = true,
                                                           .midiCables = kControlTestMidiPorts}),
                          true, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_NE(device, nullptr);
    Platform::Kernel::RunPending();
    ASSERT_NE(Context()->streamManager, nullptr);
    const ULONG rates[] = {44100, 48000, 96000};
    ASSERT_EQ(ApplyRateIndex(Context()->streamManager, static_cast<LONG>(rateIndex)),
              rates[rateIndex]);
}

void ControlClientFixture::Run(std::chrono::milliseconds duration)
{
    Platform::Kernel::AdvanceTime(duration);
    Platform::Kernel::RunPending();
}

UsbStreamingEngine* ControlClientFixture::Engine()
{
    return static_cast<UsbStreamingEngine*>(Context()->deviceModel->GetEngine());
}

ControlClient* ControlClientFixture::OpenClient()
{
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto handle = Platform::Ks::FilterHandle::Open(
        process, *device,
        device->FindInterface(KSCATEGORY_TOPOLOGY, u"{6242F6B0-04E7-497F-AE8D-287E12D19420}"),
        &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
    if (handle == nullptr) {
        return nullptr;
    }
    auto* client =
        static_cast<ControlClient*>(static_cast<ControlClientLink*>(handle->Filter()->Context));
    handles.push_back({std::move(handle), client});
    return client;
}

void ControlClientFixture::CloseClient(ControlClient* client)
{
    for (auto it = handles.begin(); it != handles.end(); ++it) {
        if (it->client == client) {
            EXPECT_EQ(it->handle->Close(), STATUS_SUCCESS);
            handles.erase(it);
            return;
        }
    }
}

// ---- Requests -----------------------------------------------------------------------------------

CallerRequest::CallerRequest()
{
    driverObject.MajorFunction[IRP_MJ_DEVICE_CONTROL] = &CallerRequest::DispatchRoutine;
    deviceObject.DriverObject = &driverObject;
    deviceObject.StackSize = 1;
    deviceObject.DeviceExtension = this;
    irp = IoAllocateIrp(1, FALSE);
    EXPECT_NE(irp, nullptr);
    irp->RequestorMode = UserMode;
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, &CallerRequest::OnComplete, this, TRUE, TRUE, TRUE);
}

CallerRequest::~CallerRequest()
{
    // A request the driver still holds is cancelled as its caller's exit would; one that even
    // then does not come back is left to the pool's leak check rather than freed under the driver.
    if (irp->CurrentLocation <= irp->StackCount && !completed) {
        IoCancelIrp(irp);
    }
    if (irp->CurrentLocation <= irp->StackCount && !completed) {
        ADD_FAILURE() << "a request the driver never completed, even cancelled";
        return;
    }
    IoFreeIrp(irp);
}

NTSTATUS CallerRequest::OnComplete(PDEVICE_OBJECT, PIRP, PVOID context)
{
    static_cast<CallerRequest*>(context)->completed = true;
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS CallerRequest::DispatchRoutine(PDEVICE_OBJECT device, PIRP irp)
{
    auto* self = static_cast<CallerRequest*>(device->DeviceExtension);
    const NTSTATUS status = self->thunk(self->thunkContext, irp);
    // As the property handler's caller does: what did not pend is completed at once.
    if (status != STATUS_PENDING) {
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    return status;
}
