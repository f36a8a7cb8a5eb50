// The control filter's requests racing the device's own walks over the open filters: a removal
// event registered and released while surprise-removal wakes run, and rate changes that reach
// every open handle while other handles open and close.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ControlFilterFixture.h"

using Platform::Kernel::UserProcess;

namespace {

class ControlFilterThreadsTest : public ControlFilterFixture
{
protected:
    void SetUp() override { LoadProduct(); }
};

// Under ThreadSanitizer (the preset the threads label runs in) a release that takes the event out
// without the device's filter-list lock is reported at every run: the wake's KeSetEvent races the
// free of the object when its last handle closes.
TEST_F(ControlFilterThreadsTest, ARemovalEventReleasedWhileWakesRunIsNeverTouchedAfterward)
{
    UserProcess process;
    auto control = Open(process);
    ASSERT_NE(control, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> wakes{0};
    DeviceContext* context = Context();
    std::thread waker([&] {
        while (!done.load()) {
            WakeClientEvents(context);
            wakes.fetch_add(1);
        }
    });
    for (int i = 0; i < 300; ++i) {
        HANDLE event = process.CreateEvent(true, false);
        ASSERT_EQ(
            control
                ->Set(kPropSetControlGeneral, kPropGeneralRemovalEvent, control->HandleData(event))
                .status,
            STATUS_SUCCESS);
        ASSERT_EQ(control->SetU32(kPropSetControlGeneral, kPropGeneralReleaseRemovalEvent, 0),
                  STATUS_SUCCESS);
        // The object goes with its last handle unless a wake still holds it.
        ASSERT_TRUE(process.CloseHandle(event));
    }
    while (wakes.load() < 10) {
        std::this_thread::yield();
    }
    done = true;
    waker.join();
    EXPECT_EQ(context->openControlFilters, 1);
}

TEST_F(ControlFilterThreadsTest, RateChangesReachEveryHandleWhileOthersOpenAndClose)
{
    UserProcess steadyProcess;
    auto steady = Open(steadyProcess);
    ASSERT_NE(steady, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread changer([&] {
        const uint32_t rates[] = {44100, 48000, 96000};
        for (int i = 0; !done.load(); ++i) {
            EXPECT_EQ(steady->SetU32(kPropSetControlGeneral, kPropGeneralSampleRate, rates[i % 3]),
                      STATUS_SUCCESS);
            changes.fetch_add(1);
        }
    });
    UserProcess churn;
    for (int i = 0; i < 200; ++i) {
        auto handle = Open(churn);
        ASSERT_NE(handle, nullptr);
    }
    while (changes.load() < 10) {
        std::this_thread::yield();
    }
    done = true;
    changer.join();
    EXPECT_EQ(Context()->openControlFilters, 1);
}

}  // namespace
