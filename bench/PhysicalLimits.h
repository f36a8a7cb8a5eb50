#pragma once
// The physical limits the benchmarks compare against, shared so every program measures them the
// same way in its own run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>

namespace OrvBench {

// Taking and dropping one reference to a shared object: one atomic increment, one decrement.
inline void AtomicIncrementDecrement(benchmark::State& state)
{
    std::atomic<int32_t> counter{1};
    for (auto _ : state) {
        counter.fetch_add(1, std::memory_order_relaxed);
        benchmark::DoNotOptimize(counter.fetch_sub(1, std::memory_order_acq_rel));
    }
}

}  // namespace OrvBench
