#include "System/Thread.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

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

TEST(Thread, LoweredPrioritiesReadBackFromTheSystem)
{
    Probe probe;
    Orv::Thread thread(&CountAndWait, &probe);
    EXPECT_EQ(thread.GetPriority(), 0);
    // Each step lowers the priority, which needs no privilege.
    for (int priority : {-1, -2, -15}) {
        EXPECT_TRUE(thread.SetPriority(priority)) << priority;
        EXPECT_EQ(thread.GetPriority(), priority);
    }
    for (int unknown : {3, -3, 14, 100}) {
        EXPECT_FALSE(thread.SetPriority(unknown)) << unknown;
        EXPECT_EQ(thread.GetPriority(), -15);
    }
    EXPECT_TRUE(thread.SetName(u"a name longer than fifteen bytes"));
    EXPECT_NE(thread.GetId(), 0u);
    probe.release.Set();
    thread.Resume();
    EXPECT_TRUE(thread.Wait(Orv::kInfinite));
    EXPECT_FALSE(thread.SetPriority(-1)) << "no thread left to change";
}

TEST(Thread, BoostCanOnlyBeTurnedOff)
{
    Probe probe;
    probe.release.Set();
    Orv::Thread thread(&CountAndWait, &probe);
    EXPECT_TRUE(thread.IsPriorityBoostEnabled());
    EXPECT_FALSE(thread.SetPriorityBoost(true));
    EXPECT_TRUE(thread.SetPriorityBoost(false));
    EXPECT_FALSE(thread.IsPriorityBoostEnabled());
    EXPECT_FALSE(thread.SetPriorityBoost(true));
    EXPECT_FALSE(thread.IsPriorityBoostEnabled());
    thread.Resume();
    EXPECT_TRUE(thread.Wait(Orv::kInfinite));
}

// Exit status 0 when a raise back to normal is refused and reported; run without privilege.
[[noreturn]] void RaiseWithoutPrivilege()
{
    const rlimit noRaise{0, 0};
    setrlimit(RLIMIT_NICE, &noRaise);
    if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) {
        std::_Exit(2);
    }
    Probe probe;
    Orv::Thread thread(&CountAndWait, &probe);
    const bool lowered = thread.SetPriority(-2);
    const bool raised = thread.SetPriority(0);
    const int after = thread.GetPriority();
    probe.release.Set();
    thread.Resume();
    thread.Wait(Orv::kInfinite);
    std::_Exit(lowered && !raised && after == -2 ? 0 : 1);
}

TEST(ThreadDeathTest, ARefusedRaiseReportsFalse)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RaiseWithoutPrivilege(), ::testing::ExitedWithCode(0), "");
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
