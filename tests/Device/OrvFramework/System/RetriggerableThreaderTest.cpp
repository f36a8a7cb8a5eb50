#include "System/RetriggerableThreader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "GatedWorker.h"

namespace {

using TestWorkers::Eventually;
using TestWorkers::LGatedWorker;
using TestWorkers::LParameter;

TEST(RetriggerableThreader, SecondTriggerDuringARunFailsAndTheNextOneAfterItSucceeds)
{
    Orv::RetriggerableThreader threader(u"worker");
    Orv::RCPtr<LGatedWorker> worker(new LGatedWorker);
    Orv::RCPtr<Orv::LRefCountedObject> parameters(new LParameter);

    EXPECT_EQ(threader.Trigger(worker, parameters, 0), S_OK);
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    EXPECT_TRUE(threader.IsRunning());
    EXPECT_EQ(threader.Trigger(worker, parameters, 0), E_FAIL);
    worker->release.Set();
    ASSERT_TRUE(Eventually([&] { return !threader.IsRunning(); }));
    // The run's references are given back when it ends.
    EXPECT_EQ(parameters->GetRefCount(), 1);
    EXPECT_EQ(worker->GetRefCount(), 1);

    EXPECT_EQ(threader.Trigger(worker, nullptr, -2), S_OK);
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    EXPECT_EQ(worker->lastParameters.load(), nullptr);
    EXPECT_EQ(threader.GetThread().GetPriority(), -2);
    worker->release.Set();
    ASSERT_TRUE(Eventually([&] { return !threader.IsRunning(); }));
    EXPECT_EQ(worker->runs.load(), 2);
}

// Returns the result it was given for its next run.
class LResultWorker : public Orv::LThreadWorker
{
public:
    int Run(Orv::RCPtr<Orv::LRefCountedObject>&) override { return result.load(); }
    std::atomic<int> result{0};
};

TEST(RetriggerableThreader, KeepsEachRunsResultAndSignalsTheCompletionEvent)
{
    Orv::RetriggerableThreader threader(u"worker");
    EXPECT_EQ(threader.GetLastResult(), 0);
    Orv::RCPtr<LResultWorker> worker(new LResultWorker);
    const Orv::RCPtr<Orv::LEvent> done(new Orv::LEvent);
    for (int result : {1, E_FAIL, 0, 42}) {
        worker->result.store(result);
        Orv::RCPtr<Orv::LRefCountedObject> parameters(new LParameter);
        ASSERT_EQ(threader.Trigger(worker, parameters, 0, done), S_OK);
        ASSERT_EQ(done->Wait(2000), Orv::kWaitSignalled) << result;
        // Once the event is set the run has ended and given its references back.
        EXPECT_FALSE(threader.IsRunning());
        EXPECT_EQ(threader.GetLastResult(), result);
        EXPECT_EQ(parameters->GetRefCount(), 1);
    }
    // The thread lets go of the event just after setting it.
    EXPECT_TRUE(Eventually([&] { return done->GetRefCount() == 1; })) << "the event is kept";
}

TEST(RetriggerableThreader, ARunWithoutCompletionEventSetsNoEarlierOne)
{
    Orv::RetriggerableThreader threader(u"worker");
    Orv::RCPtr<LResultWorker> worker(new LResultWorker);
    const Orv::RCPtr<Orv::LEvent> done(new Orv::LEvent);
    ASSERT_EQ(threader.Trigger(worker, nullptr, 0, done), S_OK);
    ASSERT_EQ(done->Wait(2000), Orv::kWaitSignalled);

    worker->result.store(5);
    ASSERT_EQ(threader.Trigger(worker, nullptr, 0), S_OK);
    ASSERT_TRUE(Eventually([&] { return !threader.IsRunning(); }));
    EXPECT_EQ(threader.GetLastResult(), 5);
    EXPECT_EQ(done->Wait(0), Orv::kWaitTimeout) << "the first run's event is not set again";
}

TEST(RetriggerableThreader, KeepsItsNameAndStopsAtOnceWhenIdle)
{
    auto threader = std::make_unique<Orv::RetriggerableThreader>(u"Engine worker");
    EXPECT_TRUE(threader->ToString().Equals(u"Engine worker"));
    EXPECT_FALSE(threader->GetThread().IsPriorityBoostEnabled());
    const auto start = std::chrono::steady_clock::now();
    threader.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(RetriggerableThreader, DestructionWaitsForTheRunningWorkItem)
{
    auto threader = std::make_unique<Orv::RetriggerableThreader>(u"worker");
    Orv::RCPtr<LGatedWorker> worker(new LGatedWorker);
    ASSERT_EQ(threader->Trigger(worker, nullptr, 0), S_OK);
    ASSERT_EQ(worker->entered.Wait(Orv::kInfinite), Orv::kWaitSignalled);
    std::atomic<bool> sawWaiter{false};
    std::thread releaser =
        TestWorkers::ReleaseOnceWaitedFor(*worker, threader->GetThread().GetId(), sawWaiter);
    threader.reset();
    EXPECT_EQ(worker->finishedRuns.load(), 1);
    EXPECT_EQ(worker->GetRefCount(), 1);
    releaser.join();
    EXPECT_TRUE(sawWaiter.load()) << "destruction did not wait for the running work item";
}

TEST(RetriggerableThreader, FailedThreadCreationIsReported)
{
    Orv::Testing::FailNextThreadCreations(1);
    EXPECT_THROW(Orv::RetriggerableThreader threader(u"worker"), std::runtime_error);
}

// The work item destroys the threader that runs it.
class LDestroyingWorker : public Orv::LThreadWorker
{
public:
    int Run(Orv::RCPtr<Orv::LRefCountedObject>&) override
    {
        // Not before Trigger has returned: nothing may be inside the threader it destroys.
        triggered.Wait(Orv::kInfinite);
        threader.reset();
        runs.fetch_add(1);
        return 0;
    }

    std::unique_ptr<Orv::RetriggerableThreader> threader;
    Orv::Event triggered{false};
    std::atomic<int> runs{0};
};

TEST(RetriggerableThreader, DestroyedByItsOwnWorkItemEndsAfterThatRun)
{
    Orv::RCPtr<LDestroyingWorker> worker(new LDestroyingWorker);
    worker->threader = std::make_unique<Orv::RetriggerableThreader>(u"self");
    Orv::RetriggerableThreader* threader = worker->threader.get();
    ASSERT_EQ(threader->Trigger(worker, nullptr, 0), S_OK);
    worker->triggered.Set();
    ASSERT_TRUE(Eventually([&] { return worker->GetRefCount() == 1; }));
    EXPECT_EQ(worker->runs.load(), 1);
}

}  // namespace
