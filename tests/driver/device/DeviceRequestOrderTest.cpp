// PnP and power requests in any order, some of them at DISPATCH_LEVEL where the system may send
// them: the device never stops the system, every transition lands in a state the table allows,
// and removal leaves nothing behind.
#include <gtest/gtest.h>

#include <random>

#include "LifecycleStandIns.h"

using Platform::Ks::PnpRequest;

namespace {

class DeviceRequestOrderTest : public DriverFixture
{
};

TEST_F(DeviceRequestOrderTest, RandomRequestSequencesEndCleanly)
{
    const PnpRequest requests[] = {PnpRequest::Start,          PnpRequest::QueryStop,
                                   PnpRequest::CancelStop,     PnpRequest::Stop,
                                   PnpRequest::QueryRemove,    PnpRequest::CancelRemove,
                                   PnpRequest::SurpriseRemoval};
    const DEVICE_POWER_STATE powers[] = {PowerDeviceD0, PowerDeviceD1, PowerDeviceD2,
                                         PowerDeviceD3};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        Platform::Ks::Device* device = PlugIn();
        ASSERT_NE(device, nullptr);
        DeviceContext* context = ContextOf(device);
        Platform::Kernel::UserProcess process;
        std::unique_ptr<Platform::Ks::FilterHandle> handle;
        for (int step = 0; step < 30; ++step) {
            const unsigned choice = random() % 10;
            if (choice < 7) {
                ASSERT_EQ(device->Send(requests[choice]), STATUS_SUCCESS);
            } else if (choice == 7) {
                const bool raised = random() % 2 == 0;
                KIRQL old = PASSIVE_LEVEL;
                if (raised) {
                    KeRaiseIrql(DISPATCH_LEVEL, &old);
                }
                ASSERT_EQ(device->SetPower(powers[random() % 4]), STATUS_SUCCESS);
                if (raised) {
                    KeLowerIrql(old);
                }
            } else if (choice == 8) {
                Platform::Kernel::RunPending();
            } else if (handle == nullptr) {
                handle = OpenControlFilter(process, device);  // may find no interface
            } else {
                handle.reset();
            }
            const LONG state = GetPnpState(context);
            ASSERT_TRUE(state >= kPnpAdded && state <= kPnpPoweredDown && state != kPnpRemoved);
        }
        handle.reset();
        ASSERT_EQ(device->Send(PnpRequest::Remove), STATUS_SUCCESS);
        EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
        EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
        Journal().clear();
    }
}

}  // namespace
