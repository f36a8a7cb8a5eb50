#include "System/EventGatedThreader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "GatedWorker.h"

namespace {

using TestWorkers::Eventually;
using TestWorkers::LGatedWorker;
using TestWorkers::LParameter;

struct GatedThreaderTest : ::testing::Test
{
    Orv::RCPtr<Orv::LEvent> gate{new Orv::LEvent};
    Orv::RCPtr<LGatedWorker> worker{new LGatedWorker};
    Orv::RCPtr<Orv::LRefCountedObject> parameters{new LParameter};

    Orv::RCPtr<Orv::LEventGatedThreader> Start()
    {
        // Below normal: lowering needs no privilege.
        return Orv::LEventGatedThreader::Create(gate, worker, parameters, -1);
    }
};

TEST_F(GatedThreaderTest, TwoSetsDuringARunGiveExactlyOneMoreRun)
{
    Orv::RCPtr<Orv::LEventGatedThreader> threader = Start();
    gate->Set();
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    EXPECT_TRUE(threader->IsRunning());
    gate->Set();
    gate->Set();
    worker->release.Set();
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    worker->release.Set();
    ASSERT_TRUE(Eventually([&] { return worker->finishedRuns.load() == 2; }));
    // Stopping sets the gate once more; that must not start a run either.
    threader = nullptr;
    EXPECT_EQ(worker->runs.load(), 2);
    EXPECT_EQ(worker->lastParameters.load(), parameters.Get());
}

TEST_F(GatedThreaderTest, EverySetAfterARunEndedGivesItsOwnRun)
{
    Orv::RCPtr<Orv::LEventGatedThreader> threader = Start();
    for (int run = 1; run <= 3; ++run) {
        gate->Set();
        ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
        worker->release.Set();
        ASSERT_TRUE(Eventually([&] { return worker->finishedRuns.load() == run; }));
    }
    EXPECT_EQ(threader->GetLastWaitResult(), Orv::kWaitSignalled);
    EXPECT_EQ(threader->GetThread().GetPriority(), -1);
    EXPECT_FALSE(threader->GetThread().IsPriorityBoostEnabled());
}

TEST_F(GatedThreaderTest, ReleasingWaitsForTheRunningWorkerAndDropsItsReferences)
{
    Orv::RCPtr<Orv::LEventGatedThreader> threader = Start();
    gate->Set();
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    std::atomic<bool> sawWaiter{false};
    std::thread releaser =
        TestWorkers::ReleaseOnceWaitedFor(*worker, threader->GetThread().GetId(), sawWaiter);
    threader = nullptr;
    EXPECT_EQ(worker->finishedRuns.load(), 1);
    releaser.join();
    EXPECT_TRUE(sawWaiter.load()) << "the release did not wait for the running worker";
    EXPECT_EQ(worker->GetRefCount(), 1);
    EXPECT_EQ(parameters->GetRefCount(), 1);
    EXPECT_EQ(gate->GetRefCount(), 1);
}

TEST_F(GatedThreaderTest, IdleThreaderStopsAtOnce)
{
    Orv::RCPtr<Orv::LEventGatedThreader> threader = Start();
    threader = nullptr;
    EXPECT_EQ(worker->runs.load(), 0);
    EXPECT_EQ(worker->GetRefCount(), 1);
}

TEST_F(GatedThreaderTest, FailedThreadCreationIsReported)
{
    Orv::Testing::FailNextThreadCreations(1);
    EXPECT_THROW(Start(), std::runtime_error);
    EXPECT_EQ(worker->GetRefCount(), 1);
    EXPECT_NO_THROW(Start());
}

TEST_F(GatedThreaderTest, MissingGateIsRefused)
{
    EXPECT_THROW(Orv::LEventGatedThreader::Create(nullptr, worker, parameters, 0),
                 std::runtime_error);
}

// The worker drops the last reference to the threader that runs it.
class LSelfReleasingWorker : public Orv::LThreadWorker
{
public:
    int Run(Orv::RCPtr<Orv::LRefCountedObject>&) override
    {
        threader = nullptr;
        runs.fetch_add(1);
        return 0;
    }

    Orv::RCPtr<Orv::LEventGatedThreader> threader;
    std::atomic<int> runs{0};
};

TEST_F(GatedThreaderTest, ReleasedFromItsOwnWorkerEndsAfterThatRun)
{
    Orv::RCPtr<LSelfReleasingWorker> selfReleasing(new LSelfReleasingWorker);
    selfReleasing->threader = Orv::LEventGatedThreader::Create(gate, selfReleasing, nullptr, 0);
    gate->Set();
    // The thread's share of the state holds the worker until the loop has ended.
    ASSERT_TRUE(
        Eventually([&] { return selfReleasing->GetRefCount() == 1 && gate->GetRefCount() == 1; }));
    EXPECT_EQ(selfReleasing->runs.load(), 1);
}

}  // namespace
