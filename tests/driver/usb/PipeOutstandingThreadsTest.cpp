// The last transfer of a pipe retiring on one processor while a stop on another waits for the
// pipe to drain and then frees it: once the stop sees the pipe drained, the retiring side touches
// the pipe no more (its all-done signal included), so freeing it at once is safe.
#include <KernelTestApi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KernelTestFixture.h"
#include "usb/UsbPipe.h"

namespace {

class PipeOutstandingThreadsTest : public Platform::Kernel::Testing::KernelTest
{
};

UsbPipe* NewPipe()
{
    auto* pipe =
        static_cast<UsbPipe*>(ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(UsbPipe), kTagPipe));
    RtlZeroMemory(pipe, sizeof(*pipe));
    InitializePipeOutstanding(pipe);
    return pipe;
}

TEST_F(PipeOutstandingThreadsTest, AStopThatSeesThePipeDrainedMayFreeIt)
{
    constexpr int kRounds = 20000;
    std::atomic<UsbPipe*> handed{nullptr};
    std::atomic<bool> done{false};
    // The completion side: retires the one outstanding transfer of each pipe it is handed.
    std::thread completer([&] {
        while (!done.load(std::memory_order_acquire)) {
            UsbPipe* pipe = handed.exchange(nullptr, std::memory_order_acq_rel);
            if (pipe == nullptr) {
                continue;
            }
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            ReleasePipeOutstanding(pipe);
            KeLowerIrql(old);
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        UsbPipe* pipe = NewPipe();
        pipe->outstanding = 1;
        handed.store(pipe, std::memory_order_release);
        // The stop: drained, then the pipe's memory goes at once.
        while (!PipeDrained(pipe)) {
        }
        ExFreePoolWithTag(pipe, kTagPipe);
    }
    done.store(true, std::memory_order_release);
    completer.join();
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().empty());
}

}  // namespace
