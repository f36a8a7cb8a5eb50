// Remove locks: holders, removal, and the wait for the last holder.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;
using namespace std::chrono_literals;

class RemoveLock : public Testing::KernelTest
{
protected:
    void SetUp() override
    {
        Testing::KernelTest::SetUp();
        IoInitializeRemoveLock(&lock_, MakeTag("EDVQ"), 0, 1000);
    }

    IO_REMOVE_LOCK lock_;
    DEVICE_OBJECT device_{};
};

struct Job
{
    PIO_REMOVE_LOCK lock;
    PIO_WORKITEM item;
    bool released = false;
};

void ReleasingWork(PDEVICE_OBJECT, PVOID context)
{
    auto* job = static_cast<Job*>(context);
    job->released = true;
    IoReleaseRemoveLock(job->lock, job);
    IoFreeWorkItem(job->item);
}

TEST_F(RemoveLock, ReleaseAndWaitReturnsAfterTheLastWorkItemReleasedItsReference)
{
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, nullptr), STATUS_SUCCESS);
    Job jobs[3];
    for (Job& job : jobs) {
        job.lock = &lock_;
        ASSERT_EQ(IoAcquireRemoveLock(&lock_, &job), STATUS_SUCCESS);
        job.item = IoAllocateWorkItem(&device_);
        IoQueueWorkItem(job.item, ReleasingWork, DelayedWorkQueue, &job);
    }
    EXPECT_EQ(RemoveLockHolders(&lock_).size(), 4u);

    IoReleaseRemoveLockAndWait(&lock_, nullptr);
    for (const Job& job : jobs) {
        EXPECT_TRUE(job.released);
    }
    EXPECT_TRUE(RemoveLockHolders(&lock_).empty());
    EXPECT_EQ(IoAcquireRemoveLock(&lock_, nullptr), STATUS_DELETE_PENDING);
}

TEST_F(RemoveLock, AReferenceNeverReleasedFailsTheWaitNamingItsHolder)
{
    SetDeadlockWatchdog(10ms);
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, nullptr), STATUS_SUCCESS);
    const int line = __LINE__ + 1;
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, reinterpret_cast<PVOID>(0x7)), STATUS_SUCCESS);
    const auto stop = ExpectBugCheck([&] { IoReleaseRemoveLockAndWait(&lock_, nullptr); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kDeadlockDetected);
    EXPECT_NE(stop->reason.find("tag 0x7 from RemoveLockTest.cpp:" + std::to_string(line)),
              std::string::npos)
        << stop->reason;
}

TEST_F(RemoveLock, ReleasingWithATagThatHoldsNothingStopsTheSystem)
{
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, reinterpret_cast<PVOID>(1)), STATUS_SUCCESS);
    const auto stop =
        ExpectBugCheck([&] { IoReleaseRemoveLock(&lock_, reinterpret_cast<PVOID>(2)); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_NE(stop->reason.find("holds no reference"), std::string::npos);
    IoReleaseRemoveLock(&lock_, reinterpret_cast<PVOID>(1));
}

TEST_F(RemoveLock, AcquiringBeyondTheHighWaterMarkStopsTheSystem)
{
    IoInitializeRemoveLock(&lock_, MakeTag("EDVQ"), 0, 2);
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(IoAcquireRemoveLock(&lock_, nullptr), STATUS_SUCCESS);
    EXPECT_TRUE(ExpectBugCheck([&] { IoAcquireRemoveLock(&lock_, nullptr); }).has_value());
}

}  // namespace
