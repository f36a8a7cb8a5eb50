// Copying and dropping a counted pointer against the physical limit of the same work: one atomic
// increment and one atomic decrement on a shared counter.
#include <benchmark/benchmark.h>

#include <atomic>

#include "ObjectBase/RCPtr.h"

namespace {

class LObject : public virtual Orv::LRefCountedObject
{
};

void AtomicIncrementDecrement(benchmark::State& state)
{
    std::atomic<int32_t> counter{1};
    for (auto _ : state) {
        counter.fetch_add(1, std::memory_order_relaxed);
        benchmark::DoNotOptimize(counter.fetch_sub(1, std::memory_order_acq_rel));
    }
}
BENCHMARK(AtomicIncrementDecrement);

void RCPtrCopyAndDrop(benchmark::State& state)
{
    const Orv::RCPtr<LObject> origin(new LObject());
    for (auto _ : state) {
        Orv::RCPtr<LObject> copy(origin);
        benchmark::DoNotOptimize(copy.Get());
    }
}
BENCHMARK(RCPtrCopyAndDrop);

void RCPtrCopyToBaseAndDrop(benchmark::State& state)
{
    const Orv::RCPtr<LObject> origin(new LObject());
    for (auto _ : state) {
        Orv::ConstRCPtr<Orv::LRefCountedObject> copy(origin);
        benchmark::DoNotOptimize(copy.Get());
    }
}
BENCHMARK(RCPtrCopyToBaseAndDrop);

}  // namespace

BENCHMARK_MAIN();
