// The stage of the framework's globals, apart from the globals unit: a program can read it without
// taking that unit in by the call.
#include <atomic>

#include "System/FrameworkGlobals.h"

namespace Orv {

namespace {

// Trivially destructible and constant-initialised: valid before the first and after the last
// object of the globals unit.
std::atomic<FrameworkGlobalsStage> stage{FrameworkGlobalsStage::NotBuilt};

}  // namespace

FrameworkGlobalsStage GetFrameworkGlobalsStage()
{
    return stage.load(std::memory_order_acquire);
}

namespace Detail {
void SetFrameworkGlobalsStage(FrameworkGlobalsStage value)
{
    stage.store(value, std::memory_order_release);
}
}  // namespace Detail

}  // namespace Orv
