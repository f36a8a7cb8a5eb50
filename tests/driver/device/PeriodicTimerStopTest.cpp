// Stopping a periodic timer at PASSIVE_LEVEL waits for the expiry in flight, so an owner may free
// a stand-alone timer, and the object its callback gets, as soon as StopTimer returns.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>

#include "DeviceFixture.h"
#include "device/PeriodicTimer.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

constexpr ULONG kTagOwner = MakeTag("TsOw");

struct Owner
{
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    std::atomic<bool> release{false};
    PeriodicTimer* timer = nullptr;  // set when the callback stops its own timer
};

void SlowCallback(PVOID argument)
{
    auto* owner = static_cast<Owner*>(argument);
    ++owner->started;
    while (!owner->release) {
        std::this_thread::sleep_for(1ms);
    }
    ++owner->finished;
}

void StopsItself(PVOID argument)
{
    auto* owner = static_cast<Owner*>(argument);
    ++owner->started;
    owner->timer->StopTimer();  // must not wait for the work item it runs in
    ++owner->finished;
}

class PeriodicTimerStop : public DeviceFixture
{
protected:
    PeriodicTimer* NewTimer(TimerCallback callback, Owner** owner)
    {
        void* timerBlock =
            ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(PeriodicTimer), kTagDeviceObjects);
        void* ownerBlock = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(Owner), kTagOwner);
        *owner = new (ownerBlock) Owner();
        auto* timer = static_cast<PeriodicTimer*>(timerBlock);
        ConstructPeriodicTimer(timer, Link(), 1, callback, *owner);
        return timer;
    }

    static void Free(PeriodicTimer* timer, Owner* owner)
    {
        owner->~Owner();
        ExFreePoolWithTag(owner, kTagOwner);
        ExFreePoolWithTag(timer, kTagDeviceObjects);  // the timer is trivially destructible storage
    }
};

TEST_F(PeriodicTimerStop, AQueuedExpiryHasRunWhenStopReturnsAndNothingTouchesTheFreedTimer)
{
    Owner* owner = nullptr;
    PeriodicTimer* timer = NewTimer(SlowCallback, &owner);
    owner->release = true;
    timer->StartTimer(0);
    KeInsertQueueDpc(&timer->dpc, nullptr, nullptr);
    KeFlushQueuedDpcs();  // the expiry's DPC ran and queued its work item; the item waits
    ASSERT_EQ(PendingWorkItemCount(), 1u);

    timer->StopTimer();
    EXPECT_EQ(PendingWorkItemCount(), 0u);
    EXPECT_EQ(owner->started, 0) << "a stopped timer's expiry does not call the owner";
    EXPECT_EQ(Holders(), 0u);
    Free(timer, owner);
    RunPending();  // under AddressSanitizer, a late work item would touch freed pool here
    AdvanceTime(10ms);
}

TEST_F(PeriodicTimerStop, ACallbackRunningOnAWorkerHasReturnedWhenStopReturns)
{
    SetTimeMode(TimeMode::Real);
    Owner* owner = nullptr;
    PeriodicTimer* timer = NewTimer(SlowCallback, &owner);
    timer->StartTimer(0);
    while (owner->started == 0) {
        std::this_thread::sleep_for(1ms);
    }
    std::thread releaser([owner] {
        std::this_thread::sleep_for(50ms);
        owner->release = true;
    });
    timer->StopTimer();
    EXPECT_EQ(owner->finished, owner->started) << "StopTimer returned with the callback running";
    releaser.join();
    Free(timer, owner);
    SetTimeMode(TimeMode::Virtual);
    EXPECT_EQ(Holders(), 0u);
}

TEST_F(PeriodicTimerStop, TheCallbackMayStopItsOwnTimer)
{
    Owner* owner = nullptr;
    PeriodicTimer* timer = NewTimer(StopsItself, &owner);
    owner->timer = timer;
    timer->StartTimer(0);
    AdvanceTime(5ms);
    EXPECT_EQ(owner->started, 1);
    EXPECT_EQ(owner->finished, 1);
    timer->StopTimer();
    Free(timer, owner);
    EXPECT_EQ(Holders(), 0u);
}

}  // namespace
