// Copying and dropping a counted pointer against the physical limit of the same work: one atomic
// increment and one atomic decrement on a shared counter.
#include <benchmark/benchmark.h>

#include "PhysicalLimits.h"

#include "ObjectBase/RCPtr.h"

namespace {

class LObject : public virtual Orv::LRefCountedObject
{
};

BENCHMARK(OrvBench::AtomicIncrementDecrement);

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
