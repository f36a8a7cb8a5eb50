// A device of the tests for the control client: the product's outputs and rates, two 24-bit line
// inputs, and four MIDI ports each way of which the second and the fourth are private (negative
// ids), so private ports 0 and 1 are cables 1 and 3. The fixture plugs it in on the real engine,
// stream manager and MIDI router, and makes control clients for a simulated user process, each
// on the device's list of open control filters as the control filter puts it there.
#pragma once

#include <KernelHostApi.h>
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "EngineTestDeviceModel.h"
#include "LoadedDriverFixture.h"
#include "control/ControlClient.h"
#include "engine/UsbStreamingEngine.h"

inline constexpr ULONG kControlTestMidiPorts = 4;
inline constexpr UCHAR kControlMidiOutEndpoint = 0x03;
inline constexpr UCHAR kControlMidiInEndpoint = 0x83;
// Table positions (= cables) of private ports 0 and 1.
inline constexpr ULONG kPrivateCables[] = {1, 3};

class ControlDeviceModel final : public EngineTestDeviceModel
{
public:
    using EngineTestDeviceModel::EngineTestDeviceModel;

    void GetDeviceChannelCounts(ULONG* outputs, ULONG* inputs) override;
    LONG GetConfiguration(ULONG index, StreamConfiguration* record) override;
    void GetMidiPortCounts(ULONG* ports, ULONG* second) override;
    NTSTATUS GetMidiConfiguration(ULONG index, MidiConfiguration* record) override;
    ULONG GetBufferGranularity(ULONG rateIndex) override;

    // Runs once, at the next granularity question (while a buffer size is being snapped).
    std::function<void()> onNextGranularity;
};

class ControlDeviceParts final : public EngineTestDeviceParts
{
public:
    ControlDeviceParts();
    DeviceModel* CreateDeviceModel(DeviceLink deviceLink, PCWSTR registryPath) override;
    void DestroyDeviceModel(DeviceModel* model) override;

private:
    UsbStreamingEngineFactory engines;
};

// The port table of the model with another generation (its private ports the same).
MidiConfiguration ControlMidiTable(ULONG generation);

class ControlClientFixture : public LoadedDriverFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs in and starts the device (class 1 at full speed unless given) and applies the rate.
    void PlugIn(ULONG rateIndex = 1, int audioClass = 1);
    static void Run(std::chrono::milliseconds duration);

    // The client of a newly opened control handle of the process; CloseClient closes the handle
    // (the client goes with the filter's object bag), as does the end of the test.
    ControlClient* OpenClient();
    void CloseClient(ControlClient* client);

    DeviceContext* Context() { return ContextOf(device); }
    UsbStreamingEngine* Engine();
    UsbSim::SimulatedUsbDevice& UsbDevice() { return usbDevices_.LastDevice(); }

    ControlDeviceParts parts;
    Platform::Ks::Device* device = nullptr;
    Platform::Kernel::UserProcess process;
    std::unique_ptr<Platform::Kernel::AttachedToProcess> attached;

private:
    struct OpenHandle
    {
        std::unique_ptr<Platform::Ks::FilterHandle> handle;
        ControlClient* client = nullptr;
    };
    std::vector<OpenHandle> handles;
};

// A request as a user-mode caller's property request reaches the client: the tests complete it
// themselves and read how it ended.
class CallerRequest
{
public:
    CallerRequest();
    ~CallerRequest();
    CallerRequest(const CallerRequest&) = delete;
    CallerRequest& operator=(const CallerRequest&) = delete;

    PIRP Irp() const { return irp; }
    bool Completed() const { return completed; }
    NTSTATUS Status() const { return irp->IoStatus.Status; }
    ULONG_PTR Information() const { return irp->IoStatus.Information; }
    // The request's I/O stack as a dispatch routine sees it, for operations that pend it.
    template <typename Operation>
    NTSTATUS Dispatch(Operation operation);
    BOOLEAN Cancel() { return IoCancelIrp(irp); }

private:
    static NTSTATUS OnComplete(PDEVICE_OBJECT, PIRP, PVOID context);
    static NTSTATUS DispatchRoutine(PDEVICE_OBJECT device, PIRP irp);

    DRIVER_OBJECT driverObject{};
    DEVICE_OBJECT deviceObject{};
    PIRP irp = nullptr;
    bool completed = false;
    NTSTATUS (*thunk)(void* context, PIRP irp) = nullptr;
    void* thunkContext = nullptr;
};

template <typename Operation>
NTSTATUS CallerRequest::Dispatch(Operation operation)
{
    thunk = [](void* context, PIRP request) {
        return (*static_cast<Operation*>(context))(request);
    };
    thunkContext = &operation;
    const NTSTATUS status = IoCallDriver(&deviceObject, irp);
    thunk = nullptr;
    return status;
}
