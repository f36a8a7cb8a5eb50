// The cost of one routing period against the period itself: one RoutingTick at 96 kHz with 1, 4
// and 16 running render streams, each a wave pin's node that queues its next 96-frame block
// (stereo, 32-bit containers) as soon as the device consumed the last one, so every period mixes
// every stream into the mix bus and the output ring, meters both and silences what the device
// took. fraction_of_period is the CPU time of one tick divided by the 1 ms period; vs_memcpy
// compares it with copying the streams' bytes once, the least any mixing of them costs.
#include <KernelTestApi.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "RoutingTestEngine.h"
#include "StreamTestSupport.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"

namespace {

constexpr ULONG kFramesPerPeriod = 96;
constexpr ULONG kChannels = 2;

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A render pin that hands its next block back as soon as the last one was consumed.
class RepeatingPin final : public PinStreamSink
{
public:
    RepeatingPin() : samples(kFramesPerPeriod * kChannels, 0x123400), pointers{samples.data()} {}
    void OnNodePeriod(StreamNode*) override
    {
        ++blocks;
        Submit();
    }
    void OnNodeConfigurationChanged(StreamNode*, LONG) override {}
    void OnNodeLate(StreamNode*, ULONG) override {}
    void OnNodeStreamingChanged(LONG) override {}

    void Start(StreamManager* owner)
    {
        manager = owner;
        node = manager->AddPinStream(this);
        node->configurationIndex = 0;
        node->format = kSampleInt32LE;
        node->interleavedChannels = kChannels;
        node->interleaved = 1;
        manager->SetNodeBuffers(node, pointers, kFramesPerPeriod);
        Submit();
    }
    // As a wave pin does: a block placed at once is done, and the next one follows until one is
    // queued.
    void Submit()
    {
        for (int i = 0; i < 4; ++i) {
            const LONG answer = manager->ServicePinStream(node);
            if (answer == kStreamPending || answer < kRenderTooLate) {
                return;
            }
            ++blocks;
        }
    }

    StreamManager* manager = nullptr;
    StreamNode* node = nullptr;
    long blocks = 0;
    std::vector<int32_t> samples;
    PVOID pointers[1];
};

void RoutingTickAt96k(benchmark::State& state)
{
    Platform::Kernel::ResetKernel();
    const size_t streams = static_cast<size_t>(state.range(0));
    auto engine = std::make_unique<RoutingTestEngine>();
    const StreamConfiguration configuration = StreamTest::StereoConfiguration();
    if (engine->routing.ConfigureRouting(&configuration, 2) != 0) {
        state.SkipWithError("the stream set could not be configured");
        return;
    }
    ULONG peaks[8];
    engine->routing.TakePeaks(false, peaks, 8);  // metering on, as once a meter is shown
    StreamManager* manager = CreateStreamManager(engine.get(), nullptr);
    std::vector<RepeatingPin> pins(streams);
    for (RepeatingPin& pin : pins) {
        pin.Start(manager);
    }
    engine->routing.ResetForStart(false);
    PVOID inputs[1] = {};
    ULONG frameKey = 0;
    auto tick = [&] {
        return engine->routing.RoutingTick(frameKey++, inputs, kFramesPerPeriod, 0,
                                           kFramesPerPeriod, 3 * 97);
    };
    for (int i = 0; i < 50; ++i) {  // every node placed and serving
        tick();
    }
    for (RepeatingPin& pin : pins) {
        pin.blocks = 0;
    }
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        for (int i = 0; i < 1000; ++i) {
            benchmark::DoNotOptimize(tick());
        }
        cpu += CpuSeconds() - before;
    }
    const double perTick = cpu / static_cast<double>(state.iterations()) / 1000.0;

    // The physical limit: the streams' bytes copied once.
    const size_t bytes = streams * kFramesPerPeriod * kChannels * sizeof(int32_t);
    std::vector<unsigned char> source(bytes, 0x5A);
    std::vector<unsigned char> destination(bytes);
    const double copyBefore = CpuSeconds();
    constexpr int kCopies = 100000;
    for (int i = 0; i < kCopies; ++i) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    const double perCopy = (CpuSeconds() - copyBefore) / kCopies;

    long blocks = 0;
    for (const RepeatingPin& pin : pins) {
        blocks += pin.blocks;
    }
    // Every stream's block goes out every period: the measure is of real mixing.
    state.counters["blocks_per_tick"] =
        static_cast<double>(blocks) / static_cast<double>(state.iterations() * 1000);
    state.counters["fraction_of_period"] = perTick / 1e-3;
    state.counters["vs_memcpy"] = perCopy > 0 ? perTick / perCopy : 0;
    for (RepeatingPin& pin : pins) {
        manager->RemovePinStream(pin.node);
    }
    DestroyStreamManager(manager);
    engine->routing.ReleaseRouting();
}

BENCHMARK(RoutingTickAt96k)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
