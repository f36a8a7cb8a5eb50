// The sample converters against the physical limits of the same work, timed in the same loop so
// all of them see the same machine: a strided copy of the same samples (for an add, one that reads
// the destination too), and a contiguous memcpy of the destination's bytes. The order of work and
// baselines turns round every iteration, so none always runs on a cache the previous one warmed.
// The two operands of an add are independent noise.
//
// Shapes: 20 interleaved channels, 96 frames (1 ms at 96 kHz) and 1,024 frames. Per-channel
// benchmarks call the strided routine once per channel, as a run that is not whole frames does;
// whole-frame ones call the packed routine once over every channel and are also set against the
// per-channel routine on the same data. Counters: ns_per_sample of the work and, for each
// baseline, x_<baseline> = work time / baseline time, all medians over the iterations (a sum
// would let one interrupted iteration shift a ratio), and memcpy_GBps, the copy speed the memcpy
// ratio was measured against on this machine. The Time column is Google Benchmark's own mean of
// the work's iterations, interruptions included.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/ChannelTransfer.h"
#include "audio/SampleConverters.h"

namespace {

constexpr uint32_t kChannels = 20;

// The baselines read their frame count from here, so the compiler cannot specialise them.
volatile uint32_t gChannels = kChannels;

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed, uint32_t keepMask = 0xFF)
{
    std::vector<uint8_t> data(bytes + 16);
    uint32_t x = seed;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>((x >> 16) & keepMask);
    }
    return data;
}

// Every channel sample by sample with the given strides, Bytes per sample as they are; with Add,
// the destination sample is read and the source's bytes added to it (no conversion, no clip).
template <uint32_t Bytes, bool Add>
[[gnu::noinline]] void StridedBaseline(const uint8_t* source, uint32_t sourceStride,
                                       uint8_t* destination, uint32_t destinationStride,
                                       uint32_t frames)
{
    const uint32_t channels = gChannels;
    for (uint32_t c = 0; c < channels; ++c) {
        const uint8_t* s = source + c * Bytes;
        uint8_t* d = destination + c * Bytes;
        for (uint32_t i = 0; i < frames; ++i, s += sourceStride, d += destinationStride) {
            if constexpr (Add) {
                uint32_t a = 0;
                uint32_t b = 0;
                std::memcpy(&a, s, Bytes);
                std::memcpy(&b, d, Bytes);
                a += b;
                std::memcpy(d, &a, Bytes);
            } else {
                std::memcpy(d, s, Bytes);
            }
        }
    }
}

template <bool Add>
void RunStridedBaseline(uint32_t bytes, const uint8_t* s, uint32_t sourceStride, uint8_t* d,
                        uint32_t destinationStride, uint32_t frames)
{
    switch (bytes) {
        case 2:
            return StridedBaseline<2, Add>(s, sourceStride, d, destinationStride, frames);
        case 3:
            return StridedBaseline<3, Add>(s, sourceStride, d, destinationStride, frames);
        default:
            return StridedBaseline<4, Add>(s, sourceStride, d, destinationStride, frames);
    }
}

// Buffers of one benchmark: a source, a starting destination, and a destination per timed
// function and batch slot, reset (untimed) before each iteration.
struct Rig
{
    Rig(uint32_t frameCount, uint32_t sourceSize, uint32_t destinationSize, uint32_t keepMask)
        : frames(frameCount),
          batch(frameCount <= 96 ? 8 : 1),
          sourceBytes(sourceSize),
          destinationBytes(destinationSize),
          // Room for four bytes a sample on both sides: the strided baseline moves the larger
          // sample size at both strides.
          source(Noise(size_t{frames} * kChannels * 4, 12345, keepMask)),
          start(Noise(size_t{frames} * kChannels * 4, 777, keepMask))
    {
    }
    std::vector<uint8_t>& Destination(size_t function, int slot)
    {
        const size_t index = function * static_cast<size_t>(batch) + static_cast<size_t>(slot);
        if (destinations.size() <= index) {
            destinations.resize(index + 1, start);
        }
        return destinations[index];
    }
    void Reset()
    {
        for (std::vector<uint8_t>& d : destinations) {
            std::memcpy(d.data(), start.data(), start.size());
        }
    }
    size_t Samples() const { return size_t{frames} * kChannels; }

    uint32_t frames;
    int batch;
    uint32_t sourceBytes;
    uint32_t destinationBytes;
    std::vector<uint8_t> source;
    std::vector<uint8_t> start;
    std::vector<std::vector<uint8_t>> destinations;
};

struct Timed
{
    std::string name;  // empty for the work itself
    std::function<void(uint8_t* destination)> run;
};

// The middle value; for an even count, the mean of the two middle ones. Reorders `values`.
double Median(std::vector<double>& values)
{
    if (values.empty()) {
        return 0;
    }
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 != 0) {
        return upper;
    }
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

// Times the work (entry 0) and each baseline, kBatch periods each, the order rotating every
// iteration. A ratio is the median of each iteration's own ratio: both sides of it ran moments
// apart, on the same machine state.
void Measure(benchmark::State& state, Rig& rig, const std::vector<Timed>& functions)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> ns(functions.size(), 0.0);
    std::vector<std::vector<double>> ratios(functions.size());
    std::vector<double> work;
    std::vector<double> memcpyNs;
    size_t memcpyIndex = 0;
    for (size_t f = 0; f < functions.size(); ++f) {
        rig.Destination(f, rig.batch - 1);
        if (functions[f].name == "memcpy") {
            memcpyIndex = f;
        }
    }
    size_t turn = 0;
    for (auto _ : state) {
        rig.Reset();
        for (size_t k = 0; k < functions.size(); ++k) {
            const size_t f = (turn + k) % functions.size();
            const auto t0 = Clock::now();
            for (int b = 0; b < rig.batch; ++b) {
                functions[f].run(rig.Destination(f, b).data());
                benchmark::ClobberMemory();
            }
            ns[f] = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        }
        ++turn;
        state.SetIterationTime(ns[0] * 1e-9);
        work.push_back(ns[0]);
        for (size_t f = 1; f < functions.size(); ++f) {
            ratios[f].push_back(ns[f] > 0 ? ns[0] / ns[f] : 0);
        }
        if (memcpyIndex != 0) {
            memcpyNs.push_back(ns[memcpyIndex]);
        }
    }
    const double samples = static_cast<double>(rig.batch) * static_cast<double>(rig.Samples());
    state.counters["ns_per_sample"] = Median(work) / samples;
    for (size_t f = 1; f < functions.size(); ++f) {
        state.counters["x_" + functions[f].name] = Median(ratios[f]);
    }
    if (memcpyIndex != 0) {
        // Bytes per nanosecond are GB per second.
        const double bytes = samples * rig.destinationBytes;
        const double copyNs = Median(memcpyNs);
        state.counters["memcpy_GBps"] = copyNs > 0 ? bytes / copyNs : 0;
    }
}

struct Shape
{
    SampleFormatCode from;
    SampleFormatCode to;
    bool add;
    bool gained;
    SampleGain gain;
    // Bytes of the noise keep these bits: 0x3F leaves samples below 2^30, which a gain of 1.5
    // never clips; 0x1F below 2^29, where a sum with 1.5 times another does not clip either.
    uint32_t keepMask = 0xFF;
};

std::vector<Timed> Baselines(Rig& rig, bool add)
{
    const uint32_t bytes =
        rig.sourceBytes > rig.destinationBytes ? rig.sourceBytes : rig.destinationBytes;
    const uint32_t sourceStride = kChannels * rig.sourceBytes;
    const uint32_t destinationStride = kChannels * rig.destinationBytes;
    std::vector<Timed> timed;
    timed.push_back({"strided", [&rig, add, bytes, sourceStride, destinationStride](uint8_t* d) {
                         if (add) {
                             RunStridedBaseline<true>(bytes, rig.source.data(), sourceStride, d,
                                                      destinationStride, rig.frames);
                         } else {
                             RunStridedBaseline<false>(bytes, rig.source.data(), sourceStride, d,
                                                       destinationStride, rig.frames);
                         }
                     }});
    timed.push_back({"memcpy", [&rig](uint8_t* d) {
                         std::memcpy(d, rig.start.data(), rig.Samples() * rig.destinationBytes);
                     }});
    return timed;
}

// Today's per-channel form: the strided routine once per channel.
std::function<void(uint8_t*)> PerChannel(Rig& rig, const Shape& shape)
{
    const SampleConverter plain = SelectConverter(shape.from, shape.to, shape.add);
    const GainConverter scaled = SelectGainConverter(shape.from, shape.to, shape.add);
    return [&rig, shape, plain, scaled](uint8_t* d) {
        const uint32_t sourceStride = kChannels * rig.sourceBytes;
        const uint32_t destinationStride = kChannels * rig.destinationBytes;
        for (uint32_t c = 0; c < kChannels; ++c) {
            const uint8_t* s = rig.source.data() + c * rig.sourceBytes;
            uint8_t* out = d + c * rig.destinationBytes;
            if (shape.gained) {
                scaled(s, sourceStride, out, destinationStride, rig.frames, shape.gain);
            } else {
                plain(s, sourceStride, out, destinationStride, rig.frames);
            }
        }
    };
}

void RunPerChannel(benchmark::State& state, const Shape& shape)
{
    Rig rig(static_cast<uint32_t>(state.range(0)), BytesPerSample(shape.from),
            BytesPerSample(shape.to), shape.keepMask);
    std::vector<Timed> timed = {{"", PerChannel(rig, shape)}};
    for (Timed& t : Baselines(rig, shape.add)) {
        timed.push_back(std::move(t));
    }
    Measure(state, rig, timed);
}

void RunWholeFrames(benchmark::State& state, const Shape& shape)
{
    Rig rig(static_cast<uint32_t>(state.range(0)), BytesPerSample(shape.from),
            BytesPerSample(shape.to), shape.keepMask);
    const PackedConverter plain = SelectPackedConverter(shape.from, shape.to, shape.add);
    const PackedGainConverter scaled = SelectPackedGainConverter(shape.from, shape.to, shape.add);
    std::vector<Timed> timed = {{"", [&rig, shape, plain, scaled](uint8_t* d) {
                                     const uint32_t count = static_cast<uint32_t>(rig.Samples());
                                     if (shape.gained) {
                                         scaled(rig.source.data(), d, count, shape.gain);
                                     } else {
                                         plain(rig.source.data(), d, count);
                                     }
                                 }}};
    for (Timed& t : Baselines(rig, shape.add)) {
        timed.push_back(std::move(t));
    }
    timed.push_back({"per_channel", PerChannel(rig, shape)});
    Measure(state, rig, timed);
}

constexpr SampleGain kHalf = 0x80000000LL;
constexpr SampleGain kOneAndAHalf = 0x180000000LL;

#define CONVERTER_BENCHMARKS(name, ...)                                \
    void PerChannel_##name(benchmark::State& state)                    \
    {                                                                  \
        RunPerChannel(state, {__VA_ARGS__});                           \
    }                                                                  \
    BENCHMARK(PerChannel_##name)->Arg(96)->Arg(1024)->UseManualTime(); \
    void WholeFrames_##name(benchmark::State& state)                   \
    {                                                                  \
        RunWholeFrames(state, {__VA_ARGS__});                          \
    }                                                                  \
    BENCHMARK(WholeFrames_##name)->Arg(96)->Arg(1024)->UseManualTime()

CONVERTER_BENCHMARKS(Copy_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, false, false, 0);
CONVERTER_BENCHMARKS(Copy_Int32LE_to_Int24LE, kSampleInt32LE, kSampleInt24LE, false, false, 0);
CONVERTER_BENCHMARKS(Copy_Int16LE_to_Int32LE, kSampleInt16LE, kSampleInt32LE, false, false, 0);
CONVERTER_BENCHMARKS(Copy_Int32LE_to_Int16LE, kSampleInt32LE, kSampleInt16LE, false, false, 0);
CONVERTER_BENCHMARKS(Copy_Int24LE_to_Int24BE, kSampleInt24LE, kSampleInt24BE, false, false, 0);
CONVERTER_BENCHMARKS(Copy_Labelled24BE_to_Int32LE, kSampleLabelled24BE, kSampleInt32LE, false,
                     false, 0);
CONVERTER_BENCHMARKS(Copy_Int32LE_to_Labelled24BE, kSampleInt32LE, kSampleLabelled24BE, false,
                     false, 0);
CONVERTER_BENCHMARKS(Add_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARKS(Add_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARKS(Add_Int16LE_to_Int32LE, kSampleInt16LE, kSampleInt32LE, true, false, 0);
CONVERTER_BENCHMARKS(Add_Int32LE_to_Int24LE, kSampleInt32LE, kSampleInt24LE, true, false, 0);
CONVERTER_BENCHMARKS(GainCopy_Int32LE_to_Int24LE, kSampleInt32LE, kSampleInt24LE, false, true,
                     kHalf);
CONVERTER_BENCHMARKS(GainAdd_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE, true, true, kHalf);
CONVERTER_BENCHMARKS(GainAdd_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE, true, true, kHalf);
CONVERTER_BENCHMARKS(GainAdd_AboveUnity_Clipping_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE,
                     true, true, kOneAndAHalf);
CONVERTER_BENCHMARKS(GainAdd_AboveUnity_Clean_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE,
                     true, true, kOneAndAHalf, 0x1F);
CONVERTER_BENCHMARKS(GainCopy_AboveUnity_Clipping_Int32LE_to_Int32LE, kSampleInt32LE,
                     kSampleInt32LE, false, true, kOneAndAHalf);
CONVERTER_BENCHMARKS(GainCopy_AboveUnity_Clean_Int32LE_to_Int32LE, kSampleInt32LE, kSampleInt32LE,
                     false, true, kOneAndAHalf, 0x3F);
// A 24-bit source takes one product where a 32-bit one takes two.
CONVERTER_BENCHMARKS(GainAdd_AboveUnity_Clipping_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE,
                     true, true, kOneAndAHalf);
CONVERTER_BENCHMARKS(GainCopy_AboveUnity_Clipping_Int24LE_to_Int32LE, kSampleInt24LE,
                     kSampleInt32LE, false, true, kOneAndAHalf);
CONVERTER_BENCHMARKS(GainCopy_AboveUnity_Clean_Int24LE_to_Int32LE, kSampleInt24LE, kSampleInt32LE,
                     false, true, kOneAndAHalf, 0x3F);

// The engine's move of its 32-bit mix bus (ten stereo buffers) into the device's 20-channel
// 24-bit output ring, one period.
void TransferLayouts_20ch_Int32LE_to_Int24LE(benchmark::State& state)
{
    Rig rig(static_cast<uint32_t>(state.range(0)), 4, 3, 0xFF);
    ChannelLayout sourceItems[10];
    std::vector<std::vector<uint8_t>> sources;
    const void* sourceBuffers[10];
    for (uint32_t i = 0; i < 10; ++i) {
        sourceItems[i] = {kSampleInt32LE, 2, 0, 0};
        sources.push_back(Noise(size_t{rig.frames} * 2 * 4, 100 + i));
        sourceBuffers[i] = sources.back().data();
    }
    const ChannelLayout destinationItem{kSampleInt24LE, kChannels, 0, 0};
    std::vector<Timed> timed = {{"", [&](uint8_t* d) {
                                     void* destinationBuffers[] = {d};
                                     TransferLayouts(rig.frames, kChannels, {10, sourceItems},
                                                     sourceBuffers, 0, {1, &destinationItem},
                                                     destinationBuffers, 0);
                                 }}};
    for (Timed& t : Baselines(rig, false)) {
        timed.push_back(std::move(t));
    }
    Measure(state, rig, timed);
}
BENCHMARK(TransferLayouts_20ch_Int32LE_to_Int24LE)->Arg(96)->Arg(1024)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
