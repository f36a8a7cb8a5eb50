// The device's PnP lifecycle driven from the Windows side.
#include <UsbDescriptorSet.h>
#include <UsbTestApi.h>
#include <gtest/gtest.h>

#include "LifecycleStandIns.h"

using Platform::Ks::Device;
using Platform::Ks::PnpRequest;

namespace {

class DeviceLifecycleTest : public DriverFixture
{
};

LONG removedState = -1;

void WatchRemove(PKSDEVICE ks, PIRP irp)
{
    DispatchRemove(ks, irp);
    removedState = GetPnpState(static_cast<DeviceContext*>(ks->Context));
}

struct Step
{
    PnpRequest request;
    LONG state;
    LONG previousState;
};

TEST_F(DeviceLifecycleTest, RequestsWalkTheStatesAndStopTheModelWithTheirReasons)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);
    EXPECT_EQ(GetPnpState(context), kPnpAdded);

    const Step steps[] = {
        {PnpRequest::Start, kPnpStarted, kPnpAdded},
        {PnpRequest::QueryStop, kPnpStopPending, kPnpStarted},
        {PnpRequest::CancelStop, kPnpStarted, kPnpStarted},
        {PnpRequest::SurpriseRemoval, kPnpStoppedAfterSurpriseRemoval, kPnpSurpriseRemoved},
        {PnpRequest::Stop, kPnpStopped, kPnpStoppedAfterSurpriseRemoval},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(device->Send(step.request), STATUS_SUCCESS);
        EXPECT_EQ(GetPnpState(context), step.state);
        EXPECT_EQ(context->previousState, step.previousState);
    }
    std::vector<std::string> stops;
    for (const std::string& entry : Journal()) {
        if (entry.rfind("Stop(", 0) == 0) {
            stops.push_back(entry);
        }
    }
    EXPECT_EQ(stops, (std::vector<std::string>{"Stop(6)", "Stop(5)"}));

    // Remove is the last thing the context sees before kernel streaming frees it.
    removedState = -1;
    KSDEVICE_DISPATCH dispatch = *DeviceDescriptor.Dispatch;
    dispatch.Remove = WatchRemove;
    KSDEVICE_DESCRIPTOR descriptor = DeviceDescriptor;
    descriptor.Dispatch = &dispatch;
    device->KsDevice()->Descriptor = &descriptor;
    EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    EXPECT_EQ(removedState, kPnpRemoved);
    EXPECT_TRUE(device->Removed());
}

TEST_F(DeviceLifecycleTest, QueryAndCancelReturnToTheRightStates)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);

    // CancelStop goes back to the state before QueryStop, whatever it was.
    EXPECT_EQ(device->Send(PnpRequest::QueryStop), STATUS_SUCCESS);
    EXPECT_EQ(device->Send(PnpRequest::CancelStop), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context), kPnpAdded);

    // CancelRemove always ends in started; a cancel without its query changes nothing.
    EXPECT_EQ(device->Send(PnpRequest::QueryRemove), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context), kPnpRemovePending);
    EXPECT_EQ(device->Send(PnpRequest::CancelRemove), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context), kPnpStarted);
    EXPECT_EQ(context->previousState, kPnpRemovePending);
    EXPECT_EQ(device->Send(PnpRequest::CancelStop), STATUS_SUCCESS);
    EXPECT_EQ(device->Send(PnpRequest::CancelRemove), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context), kPnpStarted);
    EXPECT_EQ(CountOf("Start"), 0u);
}

TEST_F(DeviceLifecycleTest, SecondStartOnlySetsTheState)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(PnpRequest::QueryStop), STATUS_SUCCESS);

    EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context), kPnpStarted);
    EXPECT_EQ(context->previousState, kPnpStopPending);
    EXPECT_EQ(CountOf("LoadSetting"), 1u);
    EXPECT_EQ(CountOf("Start"), 1u);
    EXPECT_EQ(CountOf("CreateFilterFactories"), 1u);
}

TEST_F(DeviceLifecycleTest, FailedStartStopsTheModelAndCreatesNoFactories)
{
    struct Case
    {
        const char* name;
        NTSTATUS loadSetting;
        NTSTATUS start;
        size_t starts;
    };
    const Case cases[] = {
        {"LoadSetting fails", STATUS_DEVICE_NOT_READY, STATUS_SUCCESS, 0},
        {"Start fails", STATUS_SUCCESS, STATUS_DEVICE_NOT_READY, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Journal().clear();
        Device* device = PlugIn();
        ASSERT_NE(device, nullptr);
        parts_.lastModel->loadSettingStatus = c.loadSetting;
        parts_.lastModel->startStatus = c.start;
        EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_DEVICE_NOT_READY);
        EXPECT_EQ(GetPnpState(ContextOf(device)), kPnpStarted);
        EXPECT_EQ(CountOf("Start"), c.starts);
        EXPECT_EQ(CountOf("Stop(0)"), 1u);
        EXPECT_EQ(CountOf("CreateFilterFactories"), 0u);
        EXPECT_FALSE(device->KsDevice()->Started);
        EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    }
}

TEST_F(DeviceLifecycleTest, CapabilitiesAllowSurpriseRemoval)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DEVICE_CAPABILITIES capabilities{};
    EXPECT_EQ(device->QueryCapabilities(&capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.SurpriseRemovalOK, 1u);
}

TEST_F(DeviceLifecycleTest, SurpriseRemovalAbovePassiveDefersTheStopToStop)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);

    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(device->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    KeLowerIrql(old);
    EXPECT_EQ(GetPnpState(context), kPnpSurpriseRemoved);
    EXPECT_EQ(CountOf("Stop(6)"), 0u);

    EXPECT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
    EXPECT_EQ(CountOf("Stop(6)"), 1u);
    EXPECT_EQ(CountOf("Stop(5)"), 0u);
    EXPECT_EQ(GetPnpState(context), kPnpStopped);
    EXPECT_EQ(context->previousState, kPnpStoppedAfterSurpriseRemoval);
}

TEST_F(DeviceLifecycleTest, StopAbovePassiveAfterSurpriseRemovalStopsTheSystem)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(device->Send(PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    const auto stop = Platform::Kernel::ExpectBugCheck([&] { device->Send(PnpRequest::Stop); });
    KeLowerIrql(old);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, 0x17u);
    EXPECT_EQ(stop->parameters[0], 0u);
    EXPECT_EQ(CountOf("Stop(6)"), 0u);
    // The request that stopped the system never came back; the rest tears down normally.
    driver_.reset();
    Platform::Kernel::FreeOutstandingPool();
}

TEST_F(DeviceLifecycleTest, StopKeepsCreateItemsWhileAControlFilterIsOpen)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    ASSERT_EQ(EndpointInterfaces(device).size(), 2u);
    Platform::Kernel::UserProcess process;
    auto handle = OpenControlFilter(process, device);
    ASSERT_NE(handle, nullptr);

    EXPECT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
    const auto kept = EndpointInterfaces(device);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_FALSE(kept[0].enabled);
    EXPECT_FALSE(kept[1].enabled);
    ASSERT_FALSE(ControlFilterLink(device).empty());

    // The next start reuses the kept factories.
    EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    const auto again = EndpointInterfaces(device);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_TRUE(again[0].enabled);
    EXPECT_EQ(again[0].symbolicLink, kept[0].symbolicLink);
    handle.reset();
}

TEST_F(DeviceLifecycleTest, StopFreesCreateItemsWhenNoControlFilterIsOpen)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    const std::u16string controlLink = ControlFilterLink(device);
    {
        Platform::Kernel::UserProcess process;
        auto handle = OpenControlFilter(process, device);
        ASSERT_NE(handle, nullptr);
    }

    EXPECT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
    EXPECT_TRUE(EndpointInterfaces(device).empty());
    EXPECT_TRUE(ControlFilterLink(device).empty());
    Platform::Kernel::UserProcess process;
    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_EQ(Platform::Ks::FilterHandle::Open(process, *device, controlLink, &status), nullptr);
    EXPECT_EQ(status, STATUS_OBJECT_NAME_NOT_FOUND);

    // The next start builds the factories again.
    EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    EXPECT_EQ(EndpointInterfaces(device).size(), 2u);
    EXPECT_NE(OpenControlFilter(process, device), nullptr);
}

TEST_F(DeviceLifecycleTest, HardwareIdAndPrefixComeFromTheDevice)
{
    UsbSim::SimulatedUsbBus bus;
    std::string error;
    auto usb = UsbSim::SimulatedUsbDevice::Create(UsbSim::ProductUac2(), &error);
    ASSERT_NE(usb, nullptr) << error;
    bus.Attach(*usb);
    Device* device = driver_->PlugIn(bus, *usb);
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);
    EXPECT_EQ(device->KsDevice()->NextDeviceObject, bus.LowerDevice());

    ASSERT_NE(context->hardwareId, nullptr);
    std::u16string ids;
    for (const WCHAR* p = context->hardwareId; p[0] != 0 || p[1] != 0; ++p) {
        ids.push_back(p[0] == 0 ? u'|' : p[0]);
    }
    EXPECT_EQ(ids.substr(ids.find(u'|') + 1), u"USB\\VID_2B7E&PID_5C19&MI_00");
    ASSERT_NE(context->hardwareIdPrefix, nullptr);
    EXPECT_EQ(std::u16string(context->hardwareIdPrefix), u"USB\\VID_2B7E&PID_5C19");
    EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    bus.Detach();
}

TEST_F(DeviceLifecycleTest, HardwareIdFailuresLeaveTheContextUsable)
{
    struct Case
    {
        const char* name;
        std::vector<std::u16string> ids;
        uint64_t failQuery;  // 0: none
        bool idExpected;
        std::u16string prefix;
    };
    const Case cases[] = {
        {"first read fails", {u"USB\\VID_2B7E&PID_5C19&MI_00"}, 1, false, u""},
        {"second read fails", {u"USB\\VID_2B7E&PID_5C19&MI_00"}, 2, false, u""},
        {"an ID shorter than the prefix", {u"USB\\X"}, 0, true, u"USB\\X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.failQuery != 0) {
            Platform::Kernel::FailDevicePropertyQuery(c.failQuery, STATUS_UNSUCCESSFUL);
        }
        Device* device = driver_->PlugIn(c.ids);
        ASSERT_NE(device, nullptr);
        DeviceContext* context = ContextOf(device);
        EXPECT_EQ(context->hardwareId != nullptr, c.idExpected);
        if (c.idExpected) {
            ASSERT_NE(context->hardwareIdPrefix, nullptr);
            EXPECT_EQ(std::u16string(context->hardwareIdPrefix), c.prefix);
        } else {
            EXPECT_EQ(context->hardwareIdPrefix, nullptr);
        }
        EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
        EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    }
}

TEST_F(DeviceLifecycleTest, AddFailsWithoutAnyOfItsThreeObjectsAndLeavesNothing)
{
    struct Case
    {
        const char* name;
        bool FakeParts::*fail;
    };
    const Case cases[] = {
        {"device model", &FakeParts::failDeviceModel},
        {"stream manager", &FakeParts::failStreamManager},
        {"MIDI router", &FakeParts::failMidiRouter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        parts_.*c.fail = true;
        NTSTATUS status = STATUS_SUCCESS;
        EXPECT_EQ(PlugIn(&status), nullptr);
        EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
        parts_.*c.fail = false;
    }
}

// Every allocation Add makes is failed in turn: Add either succeeds or reports running out, and
// a failed Add leaves nothing in the pool.
TEST_F(DeviceLifecycleTest, AddSurvivesEveryAllocationFailure)
{
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Platform::Kernel::FailAllocationNumber(n);
        NTSTATUS status = STATUS_SUCCESS;
        const uint64_t before = Platform::Kernel::AllocationCount();
        Device* device = PlugIn(&status);
        const bool failureHit = n <= Platform::Kernel::AllocationCount() - before;
        Platform::Kernel::ClearAllocationFailures();
        if (device != nullptr) {
            EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
            EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
            if (!failureHit) {
                break;
            }
            continue;
        }
        EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
    }
}

TEST_F(DeviceLifecycleTest, QueryOsVersionProbesOnceAndRegistersMediaCategoriesFromVista)
{
    struct Case
    {
        ULONG system;
        ULONG reported;
        bool registers;
    };
    const Case cases[] = {
        {0x0A000000, 0x06020000, true},  {0x06010000, 0x06010000, true},
        {0x06000100, 0x06000100, true},  {0x06000000, 0x06000000, true},
        {0x05020000, 0x05020000, false}, {0x05010000, 0x05010000, false},
        {0x04000000, 0x05000000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        Journal().clear();
        Platform::Kernel::SetOsVersion(c.system);
        Device* device = PlugIn();
        ASSERT_NE(device, nullptr);
        DeviceContext* context = ContextOf(device);
        EXPECT_EQ(QueryOsVersion(context), c.reported);
        EXPECT_EQ(CountOf("RegisterMediaCategories"), c.registers ? 1u : 0u);
        Platform::Kernel::SetOsVersion(0x0A000000);
        EXPECT_EQ(QueryOsVersion(context), c.reported);  // cached
        EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
    }
}

TEST_F(DeviceLifecycleTest, ContextStartsAsAddLeavesIt)
{
    Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    DeviceContext* context = ContextOf(device);
    EXPECT_EQ(context->device, device->KsDevice());
    EXPECT_NE(context->generalSink, nullptr);
    EXPECT_NE(context->streamSink, nullptr);
    EXPECT_EQ(context->openControlFilters, 0);
    EXPECT_EQ(context->controlFilters, nullptr);
    EXPECT_EQ(context->pendingPowerWork, 0);
    EXPECT_EQ(context->rateFixedByPin, 0);
    EXPECT_EQ(context->endpointUpdateFlag, 0);
    EXPECT_EQ(KeReadStateEvent(&context->filtersClosedEvent), 0);
    ASSERT_NE(parts_.lastModel, nullptr);
    EXPECT_EQ(parts_.lastModel->owner, context);
    EXPECT_EQ(parts_.lastModel->registryPath,
              u"\\Registry\\Machine\\Software\\Wow6432Node\\Tervolt\\Audio\\Drivers\\"
              u"{6242F6B0-04E7-497F-AE8D-287E12D19420}");
}

TEST_F(DeviceLifecycleTest, UnloadHookCallsKernelStreamingsUnloadOnce)
{
    PDRIVER_OBJECT object = driver_->Object();
    ASSERT_EQ(object->DriverUnload, DriverUnloadHook);
    ASSERT_NE(PlugIn(), nullptr);

    DriverUnloadHook(object);  // kernel streaming forgets the driver
    NTSTATUS status = STATUS_SUCCESS;
    EXPECT_EQ(PlugIn(&status), nullptr);
    EXPECT_EQ(status, STATUS_INVALID_DEVICE_REQUEST);
    DriverUnloadHook(object);  // a second call finds nothing to call
    EXPECT_EQ(PlugIn(&status), nullptr);
}

}  // namespace
