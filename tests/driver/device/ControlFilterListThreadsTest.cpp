// Control filters opening and closing on one thread while change events fan out on another: the
// walk must never reach a filter that has closed.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "LifecycleStandIns.h"

using Platform::Kernel::UserProcess;
using Platform::Ks::PnpRequest;

namespace {

class ControlFilterListThreadsTest : public DriverFixture
{
};

TEST_F(ControlFilterListThreadsTest, FanOutSurvivesFiltersClosingMeanwhile)
{
    Platform::Ks::Device* device = PlugIn();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Send(PnpRequest::Start), STATUS_SUCCESS);
    DeviceContext* context = ContextOf(device);
    UserProcess process;
    auto steady = OpenControlFilter(process, device);
    ASSERT_NE(steady, nullptr);
    HANDLE steadyEvent = process.CreateEvent(true, false);
    ASSERT_EQ(steady->EnableEvent(kPropSetControlGeneral, 0, steadyEvent), STATUS_SUCCESS);

    std::atomic<bool> done{false};
    std::atomic<int> fanOuts{0};
    std::thread fanOut([&] {
        while (!done.load()) {
            FireControlEvent(context, &kPropSetControlGeneral);
            WakeClientEvents(context);
            (void)IsAnyClientStreaming(context);
            fanOuts.fetch_add(1);
        }
    });
    UserProcess churn;
    HANDLE churnEvent = churn.CreateEvent(true, false);
    for (int i = 0; i < 200; ++i) {
        auto handle = OpenControlFilter(churn, device);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(handle->EnableEvent(kPropSetControlGeneral, 0, churnEvent), STATUS_SUCCESS);
    }
    while (fanOuts.load() < 10) {
        std::this_thread::yield();
    }
    done = true;
    fanOut.join();

    EXPECT_EQ(process.IsEventSignalled(steadyEvent), true);
    EXPECT_EQ(context->openControlFilters, 1);
    ASSERT_NE(context->controlFilters, nullptr);
    EXPECT_EQ(context->controlFilters->next, nullptr);
}

}  // namespace
