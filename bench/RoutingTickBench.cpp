// The cost of one routing period against the period itself: one RoutingTick at 96 kHz with 1, 4
// and 16 running render streams, each a wave pin's node that queues its next 96-frame block
// (stereo, 32-bit containers) as soon as the device consumed the last one, so every period mixes
// every stream into the mix bus and the output ring, meters both and silences what the device
// took. fraction_of_period is the CPU time of one tick divided by the 1 ms period; vs_memcpy
// compares it with copying the streams' bytes once, the least any mixing of them costs.
// CompletionRoutingAndCaptureAt96k adds what drives the tick on the device: the USB completions
// with capture and the filling of the next packets (see there).
#include <KernelTestApi.h>
#include <UsbTestApi.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RoutingTestEngine.h"
#include "StreamTestSupport.h"
#include "audio/SampleConverters.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"
#include "usb/UsbTransport.h"

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
    // Second argument 0: the sample routines without their vector kernels, for comparison.
    Platform::Kernel::HideProcessorFeature(PF_XMMI64_INSTRUCTIONS_AVAILABLE, state.range(1) == 0);
    ChooseSampleVectorLevel();
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

BENCHMARK(RoutingTickAt96k)
    ->ArgsProduct({{1, 4, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The whole period as the device drives it: the USB transport's completions on the simulated
// high-speed bus (two 24-bit outputs and two 24-bit inputs at 96 kHz), each handing its period to
// the routing, which takes the captured input, mixes the render streams into the output ring and
// serves them; the transport then fills its next packets from the ring. One iteration streams one
// second of virtual time; fraction_of_period is the CPU time of that second divided by the second,
// the share of every 1 ms period this work takes. The simulated bus and device run inside the same
// second, so the figure is an upper bound. Arg: render streams.
struct CompletionRig
{
    CompletionRig()
    {
        std::string error;
        device = UsbSim::SimulatedUsbDevice::Create(
            UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}), &error);
        bus.emplace();
        bus->Attach(*device);
        ksDevice.FunctionalDeviceObject = &functionalDevice;
        ksDevice.NextDeviceObject = bus->LowerDevice();
        std::memset(&context, 0, sizeof context);
        context.device = &ksDevice;
        IoInitializeRemoveLock(&context.removeLock, 0, 0, 1000);
        SetPnpState(&context, kPnpStarted);
        transport.emplace(&context);
        UsbConfigRecord record{};
        record.alternateSettings[1] = 1;
        record.alternateSettings[2] = 1;
        transport->InitializeUsb(record);
        transport->SetSampleRate(96000);
        IsoEngineCallbacks routines{};
        routines.onFillOutput = &Fill;
        routines.onCancelPacket = &Cancel;
        routines.fillContext = this;
        routines.onUsbPeriod = &Period;
        routines.periodContext = this;
        routines.restartStreaming = &Restart;
        routines.restartContext = this;
        transport->SetEngineCallbacks(routines);
        transport->SetStreamShape({2, 3, 2, 3});
    }
    ~CompletionRig()
    {
        transport->StopIsoStreaming();
        transport->ReleaseUsb();
        transport.reset();
        bus.reset();
    }

    static void Fill(PVOID self, ULONG startFrame, ULONG samples, ULONG column, PVOID* buffer,
                     ULONG reserved, ULONG previousStartFrame, ULONG previousSamples)
    {
        static_cast<CompletionRig*>(self)->routing->GetDeviceOutputData(
            startFrame, samples, column, buffer, reserved != 0, previousStartFrame,
            previousSamples);
    }
    static void Cancel(PVOID self, ULONG, ULONG, ULONG column, PVOID buffer)
    {
        static_cast<CompletionRig*>(self)->routing->CancelPacket(column, buffer);
    }
    static void Period(PVOID self, ULONG startFrame, ULONG samples, ULONG, PVOID data,
                       LONG errorFlags, ULONG slotSamples, LONG queueAhead)
    {
        PVOID inputs[1] = {data};
        static_cast<CompletionRig*>(self)->routing->RoutingTick(
            startFrame, inputs, samples, errorFlags, slotSamples,
            kFramesPerPeriod * static_cast<ULONG>(queueAhead > 0 ? queueAhead : 0));
    }
    static void Restart(PVOID) {}

    EngineRouting* routing = nullptr;
    std::unique_ptr<UsbSim::SimulatedUsbDevice> device;
    std::optional<UsbSim::SimulatedUsbBus> bus;
    DEVICE_OBJECT functionalDevice{};
    KSDEVICE ksDevice{};
    DeviceContext context;
    std::optional<UsbTransport> transport;
};

constexpr ChannelLayout kPackedStereo[] = {{kSampleInt24LE, 2, 0, 0}};

void CompletionRoutingAndCaptureAt96k(benchmark::State& state)
{
    Platform::Kernel::ResetKernel();
    ChooseSampleVectorLevel();
    const size_t streams = static_cast<size_t>(state.range(0));
    auto engine = std::make_unique<RoutingTestEngine>();
    StreamConfiguration configuration = StreamTest::StereoInputConfiguration();
    configuration.inputLayouts = {1, kPackedStereo};  // as the device sends them
    if (engine->routing.ConfigureRouting(&configuration, 2) != 0) {
        state.SkipWithError("the stream set could not be configured");
        return;
    }
    ULONG peaks[8];
    engine->routing.TakePeaks(false, peaks, 8);
    StreamManager* manager = CreateStreamManager(engine.get(), nullptr);
    std::vector<RepeatingPin> pins(streams);
    for (RepeatingPin& pin : pins) {
        pin.Start(manager);
    }
    engine->routing.ResetForStart(false);
    {
        CompletionRig rig;
        rig.routing = &engine->routing;
        const NTSTATUS started = rig.transport->StartIsoStreaming();
        if (!NT_SUCCESS(started)) {
            state.SkipWithError(("streaming did not start: " + std::to_string(started)).c_str());
        } else {
            rig.bus->StepFrames(200);  // past the priming cycle, every node placed
            for (RepeatingPin& pin : pins) {
                pin.blocks = 0;
            }
            double cpu = 0;
            for (auto _ : state) {
                const double before = CpuSeconds();
                rig.bus->StepFrames(1000);
                cpu += CpuSeconds() - before;
                rig.device->ClearOutPackets();
            }
            long blocks = 0;
            for (const RepeatingPin& pin : pins) {
                blocks += pin.blocks;
            }
            const double periods = static_cast<double>(state.iterations()) * 1000;
            state.counters["blocks_per_period"] = static_cast<double>(blocks) / periods;
            state.counters["fraction_of_period"] = cpu / periods / 1e-3;
        }
    }
    for (RepeatingPin& pin : pins) {
        manager->RemovePinStream(pin.node);
    }
    DestroyStreamManager(manager);
    engine->routing.ReleaseRouting();
}

BENCHMARK(CompletionRoutingAndCaptureAt96k)
    ->Arg(0)
    ->Arg(1)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
