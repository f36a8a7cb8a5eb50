#include "KernelTestFixture.h"

#include <KernelTestApi.h>

namespace Platform::Kernel::Testing {

void BeginKernelTest()
{
    SetBugCheckHook(&ThrowingBugCheckHook);
    ResetKernel();
    FreeOutstandingPool();
    RunTearDownChecks();  // what arose between two tests belongs to neither
}

void EndKernelTest()
{
    if (const size_t armed = ArmedTimerCount(); armed != 0) {
        ADD_FAILURE() << armed << " kernel timer(s) still set at the end of the test";
    }
    if (const TimerResolutionRequests r = TimerResolutionRequestCounts();
        r.outstanding != 0 || r.unmatchedReleases != 0) {
        ADD_FAILURE() << "timer resolution: " << r.outstanding << " set(s) not released, "
                      << r.unmatchedReleases << " release(s) without a set";
    }
    if (const size_t handles = OpenRegistryHandleCount(); handles != 0) {
        ADD_FAILURE() << handles << " registry handle(s) left open";
    }
    if (auto stop = ExpectBugCheck(&CheckNoMutexHeld)) {
        ADD_FAILURE() << stop->Describe();
    }
    ResetKernel();
    if (auto stop = TakeSystemThreadBugCheck()) {
        ADD_FAILURE() << "a system thread stopped with " << stop->Describe();
    }
    for (const PoolBlock& block : OutstandingPool()) {
        ADD_FAILURE() << "pool leaked: " << block.Describe();
    }
    for (const std::string& fault : RunTearDownChecks()) {
        ADD_FAILURE() << fault;
    }
    FreeOutstandingPool();
}

void KernelTest::SetUp()
{
    BeginKernelTest();
}

void KernelTest::TearDown()
{
    EndKernelTest();
}

}  // namespace Platform::Kernel::Testing
