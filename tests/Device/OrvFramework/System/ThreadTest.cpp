#include "System/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "System/Event.h"

namespace {

struct Probe
{
    std::atomic<int> runs{0};
    Orv::Event release{false};
};

uint32_t CountAndWait(void* argument)
{
    auto* probe = static_cast<Probe*>(argument);
    probe->runs.fetch_add(1);
    probe->release.Wait(Orv::kInfinite);
    return 0;
}

TEST(Thread, RunsOnlyAfterResume)
{
    Probe probe;
    probe.release.Set();
    Orv::Thread thread(&CountAndWait, &probe);
    ASSERT_TRUE(thread.IsValid());
    EXPECT_FALSE(thread.Wait(20));
    EXPECT_EQ(probe.runs.load(), 0);
    EXPECT_EQ(thread.Resume(), 1);
    EXPECT_EQ(thread.Resume(), 0);
    EXPECT_TRUE(thread.Wait(Orv::kInfinite));
    EXPECT_TRUE(thread.IsFinished());
    EXPECT_EQ(probe.runs.load(), 1);
}

TEST(Thread, IsNotFinishedWhileItsProcedureRuns)
{
    Probe probe;
    Orv::Thread thread(&CountAndWait, &probe);
    thread.Resume();
    EXPECT_FALSE(thread.Wait(10));
    EXPECT_FALSE(thread.IsFinished());
    probe.release.Set();
    EXPECT_TRUE(thread.Wait(Orv::kInfinite));
}

TEST(Thread, NeverResumedNeverRuns)
{
    Probe probe;
    {
        Orv::Thread thread(&CountAndWait, &probe);
    }
    EXPECT_EQ(probe.runs.load(), 0);
}

TEST(Thread, RecordsPriorityAndBoost)
{
    Probe probe;
    probe.release.Set();
    Orv::Thread thread(&CountAndWait, &probe);
    EXPECT_TRUE(thread.IsPriorityBoostEnabled());
    EXPECT_TRUE(thread.SetPriority(2));
    EXPECT_TRUE(thread.SetPriorityBoost(false));
    EXPECT_EQ(thread.GetPriority(), 2);
    EXPECT_FALSE(thread.IsPriorityBoostEnabled());
    EXPECT_TRUE(thread.SetName(u"a name longer than fifteen bytes"));
    EXPECT_NE(thread.GetId(), 0u);
    thread.Resume();
    EXPECT_TRUE(thread.Wait(Orv::kInfinite));
}

TEST(Thread, FailedCreationLeavesAnInertWrapper)
{
    Probe probe;
    Orv::Testing::FailNextThreadCreations(1);
    Orv::Thread failed(&CountAndWait, &probe);
    EXPECT_FALSE(failed.IsValid());
    EXPECT_EQ(failed.Resume(), -1);
    EXPECT_FALSE(failed.Wait(0));
    EXPECT_FALSE(failed.IsFinished());
    EXPECT_FALSE(failed.SetPriority(1));
    EXPECT_FALSE(failed.SetPriorityBoost(false));
    EXPECT_EQ(failed.GetId(), 0u);

    Orv::Thread next(&CountAndWait, &probe);
    EXPECT_TRUE(next.IsValid());
}

}  // namespace
