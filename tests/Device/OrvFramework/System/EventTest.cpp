#include "System/Event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ObjectBase/RCPtr.h"

namespace {

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSignalledUntilReset)
{
    Orv::Event event(false);
    EXPECT_EQ(event.Wait(0), Orv::kWaitTimeout);
    EXPECT_TRUE(event.Set());
    EXPECT_EQ(event.Wait(0), Orv::kWaitSignalled);
    EXPECT_EQ(event.Wait(0), Orv::kWaitSignalled);
    EXPECT_TRUE(event.Reset());
    EXPECT_EQ(event.Wait(0), Orv::kWaitTimeout);
}

TEST(Event, AutoResetIsConsumedBySingleWait)
{
    Orv::Event event(true);
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(0), Orv::kWaitSignalled);
    EXPECT_EQ(event.Wait(0), Orv::kWaitTimeout);
}

TEST(Event, TimedWaitGivesUpAfterItsTime)
{
    Orv::Event event(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(30), Orv::kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(Event, SetOnAnotherThreadWakesAnUnlimitedWaitAndCountsTheWaiter)
{
    Orv::Event event(true);
    auto waiter = std::async(std::launch::async, [&event] { return event.Wait(Orv::kInfinite); });
    while (event.GetWaiterCount() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(waiter.wait_for(20ms), std::future_status::timeout);
    event.Set();
    EXPECT_EQ(waiter.get(), Orv::kWaitSignalled);
    EXPECT_EQ(event.GetWaiterCount(), 0);
}

TEST(Event, ManualResetReleasesEveryWaiter)
{
    Orv::Event event(false);
    auto first = std::async(std::launch::async, [&event] { return event.Wait(Orv::kInfinite); });
    auto second = std::async(std::launch::async, [&event] { return event.Wait(Orv::kInfinite); });
    while (event.GetWaiterCount() < 2) {
        std::this_thread::sleep_for(1ms);
    }
    event.Set();
    EXPECT_EQ(first.get(), Orv::kWaitSignalled);
    EXPECT_EQ(second.get(), Orv::kWaitSignalled);
}

TEST(LEvent, IsAutoResetAndShared)
{
    Orv::RCPtr<Orv::LEvent> event(new Orv::LEvent);
    Orv::RCPtr<Orv::LEvent> other = event;
    EXPECT_EQ(other->Wait(0), Orv::kWaitTimeout);
    event->Set();
    EXPECT_EQ(other->Wait(0), Orv::kWaitSignalled);
    EXPECT_EQ(event->Wait(0), Orv::kWaitTimeout);
}

}  // namespace
