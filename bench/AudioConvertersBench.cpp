// The sample converters and a 20-channel layout transfer against the physical limit of the same
// work: a plain strided copy of the same samples, written here and timed in the same loop, batch
// for batch, so both see the same machine. Each benchmark reports ns per sample, the copy's ns per
// sample and x_copy, the ratio of the two.
//
// The shape is the driver's period: 1 ms at 96 kHz (96 frames) of 20 interleaved channels.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "audio/ChannelTransfer.h"
#include "audio/SampleConverters.h"

namespace {

constexpr uint32_t kFrames = 96;
constexpr uint32_t kChannels = 20;
constexpr uint32_t kSamples = kFrames * kChannels;
constexpr int kBatch = 8;  // periods timed together

// The baseline reads its count from here, so the compiler cannot specialise it for 96.
volatile uint32_t gFrames = kFrames;

// Every channel moved sample by sample with the given strides, Bytes per sample copied as they
// are. Like the routines, it learns the count only when it runs.
template <uint32_t Bytes>
[[gnu::noinline]] void StridedCopy(const uint8_t* source, uint32_t sourceStride,
                                   uint8_t* destination, uint32_t destinationStride,
                                   uint32_t frames)
{
    for (uint32_t c = 0; c < kChannels; ++c) {
        const uint8_t* s = source + c * Bytes;
        uint8_t* d = destination + c * Bytes;
        for (uint32_t i = 0; i < frames; ++i, s += sourceStride, d += destinationStride) {
            std::memcpy(d, s, Bytes);
        }
    }
}

std::vector<uint8_t> Noise(size_t bytes)
{
    std::vector<uint8_t> data(bytes + 8);
    uint32_t x = 12345;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

// The copy of the same samples: the larger of the two sample sizes, with the same strides.
struct Baseline
{
    Baseline(uint32_t sourceBytes, uint32_t destinationBytes)
        : bytes(sourceBytes > destinationBytes ? sourceBytes : destinationBytes),
          sourceStride(kChannels * sourceBytes),
          destinationStride(kChannels * destinationBytes),
          source(Noise(kSamples * 4)),
          destinations(kBatch, std::vector<uint8_t>(kSamples * 4 + 8))
    {
    }

    void Run(int batch)
    {
        const uint32_t frames = gFrames;
        std::vector<uint8_t>& destination = destinations[batch];
        switch (bytes) {
            case 2:
                StridedCopy<2>(source.data(), sourceStride, destination.data(), destinationStride,
                               frames);
                break;
            case 3:
                StridedCopy<3>(source.data(), sourceStride, destination.data(), destinationStride,
                               frames);
                break;
            default:
                StridedCopy<4>(source.data(), sourceStride, destination.data(), destinationStride,
                               frames);
                break;
        }
    }

    uint32_t bytes;
    uint32_t sourceStride;
    uint32_t destinationStride;
    std::vector<uint8_t> source;
    std::vector<std::vector<uint8_t>> destinations;
};

// Times kBatch periods of work against kBatch baseline copies. Each period of a batch writes its
// own destination, put back to its starting noise (untimed) before the batch, so adds start from
// the same mix every time instead of piling up into a clipped one.
void Measure(benchmark::State& state, Baseline& baseline, const std::function<void()>& reset,
             const std::function<void(int)>& period)
{
    using Clock = std::chrono::steady_clock;
    double workNs = 0;
    double copyNs = 0;
    for (auto _ : state) {
        reset();
        const auto t0 = Clock::now();
        for (int b = 0; b < kBatch; ++b) {
            period(b);
            benchmark::ClobberMemory();
        }
        const auto t1 = Clock::now();
        for (int b = 0; b < kBatch; ++b) {
            baseline.Run(b);
            benchmark::ClobberMemory();
        }
        const auto t2 = Clock::now();
        const std::chrono::duration<double, std::nano> work = t1 - t0;
        const std::chrono::duration<double, std::nano> copy = t2 - t1;
        workNs += work.count();
        copyNs += copy.count();
        state.SetIterationTime(work.count() * 1e-9);
    }
    const double samples = static_cast<double>(state.iterations()) * kBatch * kSamples;
    state.counters["ns_per_sample"] = workNs / samples;
    state.counters["copy_ns_per_sample"] = copyNs / samples;
    state.counters["x_copy"] = workNs / copyNs;
}

// One routine over all 20 channels of one period.
void RunConverter(benchmark::State& state, SampleFormatCode from, SampleFormatCode to, bool add,
                  bool gained, SampleGain gain)
{
    const uint32_t sourceBytes = BytesPerSample(from);
    const uint32_t destinationBytes = BytesPerSample(to);
    Baseline baseline(sourceBytes, destinationBytes);
    const std::vector<uint8_t> source = Noise(kSamples * sourceBytes);
    const std::vector<uint8_t> start = Noise(kSamples * destinationBytes);
    std::vector<std::vector<uint8_t>> destinations(kBatch, start);
    const uint32_t sourceStride = kChannels * sourceBytes;
    const uint32_t destinationStride = kChannels * destinationBytes;
    const SampleConverter plain = SelectConverter(from, to, add);
    const GainConverter scaled = SelectGainConverter(from, to, add);
    const auto reset = [&] {
        for (std::vector<uint8_t>& destination : destinations) {
            std::memcpy(destination.data(), start.data(), start.size());
        }
    };
    Measure(state, baseline, reset, [&](int batch) {
        for (uint32_t c = 0; c < kChannels; ++c) {
            const uint8_t* s = source.data() + c * sourceBytes;
            uint8_t* d = destinations[batch].data() + c * destinationBytes;
            if (gained) {
                scaled(s, sourceStride, d, destinationStride, kFrames, gain);
            } else {
                plain(s, sourceStride, d, destinationStride, kFrames);
            }
        }
    });
}

constexpr SampleGain kHalf = 0x80000000LL;
constexpr SampleGain kOneAndAHalf = 0x180000000LL;

#define CONVERTER_BENCHMARK(name, from, to, add, gained, gain) \
    void name(benchmark::State& state)                         \
    {                                                          \
        RunConverter(state, from, to, add, gained, gain);      \
    }                                                          \
    BENCHMARK(name)->UseManualTime()

CONVERTER_BENCHMARK(Copy_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, false, false, 0);
CONVERTER_BENCHMARK(Copy_Int32LE_to_Int24LE, kSampleInt32LE, kSampleInt24LE, false, false, 0);
CONVERTER_BENCHMARK(Copy_Int16LE_to_Int32LE, kSampleInt16LE, kSampleInt32LE, false, false, 0);
CONVERTER_BENCHMARK(Copy_Int32LE_to_Int16LE, kSampleInt32LE, kSampleInt16LE, false, false, 0);
CONVERTER_BENCHMARK(Copy_Int24LE_to_Int24BE, kSampleInt24LE, kSampleInt24BE, false, false, 0);
CONVERTER_BENCHMARK(Copy_Labelled24BE_to_Int32LE, kSampleLabelled24BE, kSampleInt32LE, false, false,
                    0);
CONVERTER_BENCHMARK(Copy_Int32LE_to_Labelled24BE, kSampleInt32LE, kSampleLabelled24BE, false, false,
                    0);
CONVERTER_BENCHMARK(Add_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARK(Add_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARK(Add_Int16LE_to_Int32LE, kSampleInt16LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARK(GainCopy_Int32LE_to_Int24LE, kSampleInt32LE, kSampleInt24LE, false, true,
                    kHalf);
CONVERTER_BENCHMARK(GainAdd_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE, true, true, kHalf);
CONVERTER_BENCHMARK(GainAdd_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, true, true, kHalf);
CONVERTER_BENCHMARK(GainAdd_AboveUnity_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE, true,
                    true, kOneAndAHalf);

// The engine's move of its 32-bit mix bus (ten stereo buffers) into the device's 20-channel
// 24-bit output ring, one period.
void TransferLayouts_20ch_Int32LE_to_Int24LE(benchmark::State& state)
{
    Baseline baseline(4, 3);
    ChannelLayout sourceItems[10];
    std::vector<std::vector<uint8_t>> sources;
    const void* sourceBuffers[10];
    for (uint32_t i = 0; i < 10; ++i) {
        sourceItems[i] = {kSampleInt32LE, 2, 0, 0};
        sources.push_back(Noise(kFrames * 2 * 4));
        sourceBuffers[i] = sources.back().data();
    }
    const ChannelLayout destinationItem{kSampleInt24LE, kChannels, 0, 0};
    std::vector<std::vector<uint8_t>> destinations(kBatch, std::vector<uint8_t>(kSamples * 3));
    Measure(
        state, baseline, [] {},
        [&](int batch) {
            void* destinationBuffers[] = {destinations[batch].data()};
            TransferLayouts(kFrames, kChannels, {10, sourceItems}, sourceBuffers, 0,
                            {1, &destinationItem}, destinationBuffers, 0);
        });
}
BENCHMARK(TransferLayouts_20ch_Int32LE_to_Int24LE)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
