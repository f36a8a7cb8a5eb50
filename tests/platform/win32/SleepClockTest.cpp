// Sleep on the wall clock and on the tests' virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "Win32Test/SleepClock.h"
#include "windows.h"

namespace {

class SleepClockTest : public testing::Test
{
protected:
    ~SleepClockTest() override { Win32Test::ResetSleepClock(); }
};

TEST_F(SleepClockTest, VirtualSleepsMoveTheClockWithoutWaiting)
{
    std::vector<uint64_t> seen;
    Win32Test::UseVirtualSleepClock([&seen](DWORD milliseconds, uint64_t after) {
        seen.push_back(after * 1000 + milliseconds);
    });
    const auto start = std::chrono::steady_clock::now();
    Sleep(250);
    Sleep(0);
    Sleep(3600 * 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 3600250u);
    EXPECT_EQ(Win32Test::VirtualSleepCount(), 2u);
    EXPECT_EQ(seen, (std::vector<uint64_t>{250 * 1000 + 250, 3600250ull * 1000 + 3600000}));

    Win32Test::UseVirtualSleepClock();
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 0u);
    Sleep(10);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(SleepClockTest, WallClockSleepsWaitAndLeaveTheVirtualClockAlone)
{
    Win32Test::UseVirtualSleepClock();
    Sleep(5);
    Win32Test::ResetSleepClock();
    const auto start = std::chrono::steady_clock::now();
    Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_EQ(Win32Test::VirtualSleepClock(), 5u);
}

}  // namespace
