// What the kernel layer keeps per thread, and waits that another thread satisfies.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include <thread>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

class KernelThreads : public Testing::KernelTest
{
};

TEST_F(KernelThreads, IsTrackedPerThread)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KIRQL seenByOtherThread = HIGH_LEVEL;
    std::thread([&] { seenByOtherThread = KeGetCurrentIrql(); }).join();
    EXPECT_EQ(seenByOtherThread, PASSIVE_LEVEL);
    KeLowerIrql(old);
}

TEST_F(KernelThreads, AMutexIsRecursiveAndOnlyItsOwnerReleasesIt)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    EXPECT_EQ(KeReadStateMutex(&mutex), 1);
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    LARGE_INTEGER poll{};
    NTSTATUS otherThread = STATUS_SUCCESS;
    std::thread([&] {
        otherThread = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &poll);
        auto stop = ExpectBugCheck([&] { KeReleaseMutex(&mutex, FALSE); });
        EXPECT_TRUE(stop.has_value() && stop->code == kThreadNotMutexOwner);
    }).join();
    EXPECT_EQ(otherThread, STATUS_TIMEOUT);
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(KeReadStateMutex(&mutex), 0);
    KeReleaseMutex(&mutex, FALSE);
    EXPECT_EQ(KeReadStateMutex(&mutex), 1);
}

TEST_F(KernelThreads, AnotherThreadMaySatisfyAVirtualTimeWait)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        KeSetEvent(&event, 0, FALSE);
    });
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    setter.join();
}

}  // namespace
