// The CPU cost of one streamed second of isochronous audio against the second itself, its
// physical limit: 1000 frames at 96 kHz to the simulated high-speed device (two channels, 24
// bits, eight packets a frame), each completion processed, its slot accounted, its frames sized,
// its data filled and the transfer resubmitted. Each iteration streams one second of virtual
// time; fraction_of_second is the CPU time that second took divided by one second. The simulated
// bus and device run inside the same second, so the figure is an upper bound of the transport's.
#include <KernelTestApi.h>
#include <UsbTestApi.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "usb/UsbTransport.h"

namespace {

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void Fill(PVOID, ULONG, ULONG samples, ULONG, PVOID* buffer, ULONG, ULONG, ULONG)
{
    std::memset(*buffer, 0x11, static_cast<size_t>(samples) * 6);
}
void Cancel(PVOID, ULONG, ULONG, ULONG, PVOID) {}
void Period(PVOID, ULONG, ULONG, ULONG, PVOID, LONG, ULONG, LONG) {}
void Restart(PVOID) {}

struct StreamingRig
{
    StreamingRig()
    {
        std::string error;
        device = UsbSim::SimulatedUsbDevice::Create(UsbSim::ProductUac2(), &error);
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
        transport->InitializeUsb(record);
        transport->SetSampleRate(96000);
        transport->SetEngineCallbacks(
            {&Fill, &Cancel, nullptr, &Period, nullptr, nullptr, &Restart, nullptr});
        // A start refuses pipes that do not carry the configuration's shape: two 24-bit outputs.
        transport->SetStreamShape(IsoStreamShape{2, 3, 0, 0});
    }
    ~StreamingRig()
    {
        transport->StopIsoStreaming();
        transport->ReleaseUsb();
        transport.reset();
        bus.reset();
    }

    std::unique_ptr<UsbSim::SimulatedUsbDevice> device;
    std::optional<UsbSim::SimulatedUsbBus> bus;
    DEVICE_OBJECT functionalDevice{};
    KSDEVICE ksDevice{};
    DeviceContext context;
    std::optional<UsbTransport> transport;
};

void StreamedSecondAt96k(benchmark::State& state)
{
    Platform::Kernel::ResetKernel();
    StreamingRig rig;
    if (!NT_SUCCESS(rig.transport->StartIsoStreaming())) {
        state.SkipWithError("streaming did not start");
        return;
    }
    rig.bus->StepFrames(100);  // past the priming cycle
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        rig.bus->StepFrames(1000);
        cpu += CpuSeconds() - before;
        rig.device->ClearOutPackets();
    }
    state.counters["fraction_of_second"] = cpu / static_cast<double>(state.iterations());
    // A stream that stopped on the way would make the figure that of an idle bus.
    if (!rig.transport->IsStreaming()) {
        state.SkipWithError("streaming stopped");
    }
}

BENCHMARK(StreamedSecondAt96k)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
