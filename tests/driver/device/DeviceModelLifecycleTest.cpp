// The product's device model started, stopped and restarted through the Windows side: every
// sequence ends with no pool outstanding (the fixture checks) and no timer armed.
#include <gtest/gtest.h>

#include "ProductModelFixture.h"

using Platform::Ks::PnpRequest;

namespace {

class DeviceModelLifecycleTest : public ProductModelFixture
{
};

TEST_F(DeviceModelLifecycleTest, TheTransfersAheadValueIsNotReadyBeforeTheDeviceStarts)
{
    Platform::Ks::Device* device = PlugIn(false);
    ASSERT_NE(device, nullptr);
    ULONG value = 9;
    EXPECT_EQ(Model()->GetCallbackDelay(&value), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(value, 0u);
    ULONG first = 0, second = 0;
    EXPECT_EQ(Model()->GetLatencies(48000, 512, &first, &second), STATUS_DEVICE_NOT_READY);

    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    EXPECT_EQ(Model()->GetCallbackDelay(&value), STATUS_SUCCESS);
    EXPECT_EQ(value, 3u);  // nothing stored: the default
}

struct Sequence
{
    const char* name;
    std::vector<PnpRequest> requests;
    int sysExDrops;
};

TEST_F(DeviceModelLifecycleTest, StartStopAndRestartLeaveNothingArmed)
{
    const Sequence sequences[] = {
        {"start, stop", {PnpRequest::Start, PnpRequest::Stop}, 0},
        {"start, stop, start, stop",
         {PnpRequest::Start, PnpRequest::Stop, PnpRequest::Start, PnpRequest::Stop},
         0},
        {"surprise removal", {PnpRequest::Start, PnpRequest::SurpriseRemoval, PnpRequest::Stop}, 1},
        {"start twice", {PnpRequest::Start, PnpRequest::Start, PnpRequest::Stop}, 0},
    };
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.name);
        Platform::Ks::Device* device = PlugIn(false);
        ASSERT_NE(device, nullptr);
        ProductDeviceModel* model = Model();
        StandInEngine* engine = Engine();
        for (PnpRequest request : sequence.requests) {
            EXPECT_EQ(device->Send(request), STATUS_SUCCESS);
            if (request == PnpRequest::Start) {
                EXPECT_TRUE(model->IsStarted());
                EXPECT_TRUE(engine->IsInitialized());
            }
        }
        EXPECT_FALSE(model->IsStarted());
        EXPECT_FALSE(engine->IsInitialized());
        EXPECT_FALSE(model->StatusTimerRunning());
        EXPECT_EQ(engine->sysExDrops, sequence.sysExDrops);
        EXPECT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
        Platform::Kernel::RunPending();
    }
}

TEST_F(DeviceModelLifecycleTest, PowerDownStopsAndPowerUpRestarts)
{
    Platform::Ks::Device* device = PlugIn(true);
    ASSERT_NE(device, nullptr);
    ProductDeviceModel* model = Model();
    EXPECT_EQ(device->SetPower(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_FALSE(model->IsStarted());
    EXPECT_FALSE(Engine()->IsInitialized());
    EXPECT_EQ(GetPnpState(Context(device)), kPnpPoweredDown);
    EXPECT_EQ(device->SetPower(PowerDeviceD0), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    EXPECT_TRUE(model->IsStarted());
    EXPECT_TRUE(Engine()->IsInitialized());
    EXPECT_EQ(device->Send(PnpRequest::Stop), STATUS_SUCCESS);
    EXPECT_FALSE(model->StatusTimerRunning());
}

TEST_F(DeviceModelLifecycleTest, AFailedStartStopsTheModel)
{
    // A device with no USB device below it: the engine cannot bring the USB transport up.
    Platform::Ks::Device* device =
        driver_->PlugIn(std::vector<std::u16string>{u"USB\\VID_2B7E&PID_5C19&MI_00"});
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(NT_SUCCESS(device->Send(PnpRequest::Start)));
    EXPECT_FALSE(Model()->IsStarted());
    EXPECT_FALSE(Engine()->IsInitialized());
    EXPECT_FALSE(Model()->StatusTimerRunning());
}

TEST_F(DeviceModelLifecycleTest, EveryAllocationOfAnAddCanFailWithoutALeak)
{
    // Fail the first allocation, then the second ... until a plug-in goes through: each failed
    // one leaves no model behind (and the fixture finds no pool left at the end).
    for (uint64_t n = 1; n < 200; ++n) {
        SCOPED_TRACE(n);
        Platform::Kernel::FailAllocationNumber(n);
        NTSTATUS status = STATUS_SUCCESS;
        Platform::Ks::Device* device = PlugIn(false, 0x0100, &status);
        Platform::Kernel::ClearAllocationFailures();
        if (device != nullptr) {
            ASSERT_NE(Model(), nullptr);
            EXPECT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
            return;
        }
        EXPECT_FALSE(NT_SUCCESS(status));
        EXPECT_EQ(Model(), nullptr);
    }
    FAIL() << "the plug-in never went through";
}

}  // namespace
