// Power transitions: which ones act, and their order when some must wait for a work item.
#include <gtest/gtest.h>

#include "LifecycleStandIns.h"

using Platform::Ks::PnpRequest;

namespace {

class DevicePowerTest : public StartedDeviceFixture
{
protected:
    NTSTATUS SetPowerAtDispatch(DEVICE_POWER_STATE state)
    {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        const NTSTATUS status = device_->SetPower(state);
        KeLowerIrql(old);
        return status;
    }

    size_t Holders() { return Platform::Kernel::RemoveLockHolders(&context_->removeLock).size(); }
};

TEST_F(DevicePowerTest, OnlyChangesIntoOrOutOfD0Act)
{
    struct Case
    {
        DEVICE_POWER_STATE from;
        DEVICE_POWER_STATE to;
        std::vector<std::string> journal;
        LONG state;
    };
    const Case cases[] = {
        {PowerDeviceD0, PowerDeviceD0, {}, kPnpStarted},
        {PowerDeviceD0, PowerDeviceD3, {"Stop(8)"}, kPnpPoweredDown},
        {PowerDeviceD3, PowerDeviceD2, {}, kPnpPoweredDown},
        {PowerDeviceD2, PowerDeviceD0, {"LoadSetting", "Start"}, kPnpStarted},
        {PowerDeviceD0, PowerDeviceD1, {"Stop(8)"}, kPnpPoweredDown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.to));
        ASSERT_EQ(device_->PowerState(), c.from);
        Journal().clear();
        const LONG before = GetPnpState(context_);
        EXPECT_EQ(device_->SetPower(c.to), STATUS_SUCCESS);
        EXPECT_EQ(Journal(), c.journal);
        EXPECT_EQ(GetPnpState(context_), c.state);
        if (!c.journal.empty()) {
            EXPECT_EQ(context_->previousState, before);
        }
        EXPECT_EQ(device_->PowerState(), c.to);
    }
}

TEST_F(DevicePowerTest, PowerUpQueuedBehindAPendingPowerDownEvenAtPassiveLevel)
{
    EXPECT_EQ(SetPowerAtDispatch(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_TRUE(Journal().empty());
    EXPECT_EQ(context_->pendingPowerWork, 1);
    EXPECT_EQ(Holders(), 1u);

    EXPECT_EQ(device_->SetPower(PowerDeviceD0), STATUS_SUCCESS);  // PASSIVE_LEVEL
    EXPECT_TRUE(Journal().empty());
    EXPECT_EQ(context_->pendingPowerWork, 2);

    Platform::Kernel::RunPending();
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Stop(8)", "LoadSetting", "Start"}));
    EXPECT_EQ(GetPnpState(context_), kPnpStarted);
    EXPECT_EQ(context_->previousState, kPnpPoweredDown);
    EXPECT_EQ(context_->pendingPowerWork, 0);
    EXPECT_EQ(Holders(), 0u);

    // With nothing queued, a change at PASSIVE_LEVEL applies at once again.
    EXPECT_EQ(device_->SetPower(PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(GetPnpState(context_), kPnpPoweredDown);
}

TEST_F(DevicePowerTest, AQueuedChangeThatCannotBeAllocatedIsDropped)
{
    for (uint64_t n : {2u, 3u}) {  // after the request itself: the packet, then the work item
        SCOPED_TRACE(n);
        Platform::Kernel::FailAllocationNumber(n);
        EXPECT_EQ(SetPowerAtDispatch(PowerDeviceD3), STATUS_SUCCESS);
        Platform::Kernel::ClearAllocationFailures();
        Platform::Kernel::RunPending();
        EXPECT_TRUE(Journal().empty());
        EXPECT_EQ(context_->pendingPowerWork, 0);
        EXPECT_EQ(Holders(), 0u);
        EXPECT_EQ(GetPnpState(context_), kPnpStarted);
        // The system believes the device went to D3; bring it back for the next case.
        ASSERT_EQ(device_->SetPower(PowerDeviceD0), STATUS_SUCCESS);
        Journal().clear();
    }
}

TEST_F(DevicePowerTest, RemoveWaitsForQueuedWorkAndOutstandingHolders)
{
    ASSERT_EQ(SetPowerAtDispatch(PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(context_->pendingPowerWork, 1);

    // A USB request holds the lock until its completion, 5 ms from now.
    ASSERT_TRUE(TryAcquireRemoveLock(context_));
    struct Completion
    {
        static void Dpc(PKDPC, PVOID argument, PVOID, PVOID)
        {
            auto* self = static_cast<Completion*>(argument);
            self->completed = true;
            ReleaseRemoveLock(self->context);
        }
        DeviceContext* context = nullptr;
        bool completed = false;
        KTIMER timer{};
        KDPC dpc{};
    } completion;
    completion.context = context_;
    KeInitializeTimer(&completion.timer);
    KeInitializeDpc(&completion.dpc, Completion::Dpc, &completion);
    LARGE_INTEGER due;
    due.QuadPart = -50000;
    KeSetTimer(&completion.timer, due, &completion.dpc);

    EXPECT_EQ(device_->Send(PnpRequest::Remove), STATUS_SUCCESS);
    EXPECT_TRUE(completion.completed);
    // Remove stops the started device itself; the power change still queued finds it removed
    // and leaves it so (the context is gone once Remove returned).
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Stop(5)"}));
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
    EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
}

// A power-up queued behind a power-down when Remove comes: neither starts the removed device
// again, and Remove still waits for both.
TEST_F(DevicePowerTest, PowerChangesQueuedAtRemoveLeaveTheDeviceStopped)
{
    ASSERT_EQ(SetPowerAtDispatch(PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(SetPowerAtDispatch(PowerDeviceD0), STATUS_SUCCESS);
    ASSERT_EQ(context_->pendingPowerWork, 2);

    EXPECT_EQ(device_->Send(PnpRequest::Remove), STATUS_SUCCESS);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"Stop(5)"}));
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
    EXPECT_EQ(Platform::Kernel::PendingWorkItemCount(), 0u);
}

}  // namespace
