// The low-resources simulation: after a grace period, a seeded share of allocations fails, as on a
// machine short of memory. Deterministic for a seed, so a failing run can be repeated.
#include <KernelTestApi.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>

#include "KernelInternal.h"

namespace Platform::Kernel {
namespace {

struct LowResourcesState
{
    std::mutex mutex;
    // Changed under the mutex; every allocation reads it first without.
    std::atomic<bool> on{false};
    LowResources settings;
    uint64_t attempts = 0;  // since the simulation was turned on
    std::mt19937_64 random;
    std::map<ULONG, uint64_t> failures;  // by tag
};

LowResourcesState& State()
{
    static LowResourcesState state;
    return state;
}

}  // namespace

void SimulateLowResources(const LowResources& settings)
{
    LowResourcesState& state = State();
    std::lock_guard lock(state.mutex);
    state.on.store(settings.failuresPerMillion != 0, std::memory_order_relaxed);
    state.settings = settings;
    state.attempts = 0;
    state.random.seed(settings.seed);
}

uint64_t LowResourcesFailures()
{
    LowResourcesState& state = State();
    std::lock_guard lock(state.mutex);
    uint64_t total = 0;
    for (const auto& [tag, count] : state.failures) {
        total += count;
    }
    return total;
}

uint64_t LowResourcesFailures(ULONG tag)
{
    LowResourcesState& state = State();
    std::lock_guard lock(state.mutex);
    const auto it = state.failures.find(tag);
    return it == state.failures.end() ? 0 : it->second;
}

std::map<ULONG, uint64_t> LowResourcesFailuresByTag()
{
    LowResourcesState& state = State();
    std::lock_guard lock(state.mutex);
    return state.failures;
}

namespace Internal {

bool LowResourcesFailsAllocation(ULONG tag)
{
    LowResourcesState& state = State();
    if (!state.on.load(std::memory_order_relaxed)) {
        return false;
    }
    std::lock_guard lock(state.mutex);
    if (!state.on.load(std::memory_order_relaxed) ||
        ++state.attempts <= state.settings.graceAllocations) {
        return false;
    }
    if (state.random() % 1'000'000 >= state.settings.failuresPerMillion) {
        return false;
    }
    ++state.failures[tag];
    return true;
}

void ResetLowResources(bool forgetCounts)
{
    LowResourcesState& state = State();
    std::lock_guard lock(state.mutex);
    state.on.store(false, std::memory_order_relaxed);
    if (forgetCounts) {
        state.failures.clear();
    }
}

}  // namespace Internal
}  // namespace Platform::Kernel
