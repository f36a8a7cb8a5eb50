#include "LowLatency.h"

#include <KsHostApi.h>

#include <algorithm>
#include <memory>

#include "DeviceTap.h"
#include "LowLatencyClient.h"
#include "Meter.h"

namespace Host {
namespace {

constexpr auto kTail = std::chrono::milliseconds(20);

// A few looks per half, so that an event is served well before the half ends.
std::chrono::microseconds PollStep(const LowLatencyOptions& options)
{
    const uint64_t halfMicros = static_cast<uint64_t>(options.frames) * 1000000 / options.rate;
    return std::chrono::microseconds(std::clamp<uint64_t>(halfMicros / 4, 100, 1000));
}

void Fill(LowLatencyReport* report, const LowLatencyClient& client, const RampCheck& check)
{
    report->productName = client.ProductName();
    report->inputs = client.Inputs();
    report->outputs = client.Outputs();
    report->halves = client.served;
    report->missed = client.missed;
    report->failedDones = client.failedDones;
    report->changeFlags = client.changeFlags;
    report->written = client.written;
    report->received = check.RampFrames();
    report->gaps = check.Gaps();
    report->gapFrames = check.GapFrames();
    report->lostFrames = check.LostFrames();
    report->inFlight = 2 * static_cast<uint64_t>(client.BufferFrames()) + client.Latency();
    report->failure = check.Failure();
    report->peaks = check.Peaks();
}

bool Stream(HostMachine& machine, LowLatencyClient& client, DeviceTap& tap,
            const LowLatencyOptions& options, std::string* error)
{
    std::unique_ptr<Meter> meter;
    if (options.meterOut != nullptr) {
        meter = std::make_unique<Meter>(*options.meterOut, options.terminal, "low latency");
    }
    const auto step = PollStep(options);
    machine.BeginStreaming();
    bool ok = client.Start(error);
    const uint64_t start = HostMachine::NowMs();
    for (uint64_t done = 0; ok && done < options.milliseconds;
         done = HostMachine::NowMs() - start) {
        machine.Wait(step);
        client.Serve();
        if (meter != nullptr) {
            meter->Update(std::min<uint64_t>(done, options.milliseconds), options.milliseconds,
                          tap.With([](OutputCheck& c) { return c.TakeRecentPeaks(); }));
        }
    }
    ok = ok && client.Stop(error);
    machine.Wait(kTail);
    machine.EndStreaming();
    tap.Stop();
    if (meter != nullptr) {
        meter->Finish();
    }
    return ok;
}

}  // namespace

LowLatencyResult RunLowLatency(HostMachine& machine, const LowLatencyOptions& options,
                               LowLatencyReport* report, std::string* error)
{
    *report = LowLatencyReport{};
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    const std::u16string link = machine.Device().FindInterface(
        KSCATEGORY_TOPOLOGY, Platform::Ks::GuidText(kControlFilterReference));
    auto handle = link.empty() ? nullptr
                               : Platform::Ks::FilterHandle::Open(machine.Process(),
                                                                  machine.Device(), link, &status);
    if (handle == nullptr) {
        *error = "the driver's control filter did not open: status " + StatusText(status);
        return LowLatencyResult::Failed;
    }
    ControlRequester control(machine.Process(), std::move(handle));
    LowLatencyClient client(control);
    if (!client.Describe(error)) {
        return LowLatencyResult::Failed;
    }
    if (!client.Configure(options.rate, options.frames, error)) {
        return LowLatencyResult::BadInput;
    }
    RampCheck check(client.Outputs());
    bool ok = false;
    {
        DeviceTap tap(machine.UsbDevice(), check);
        ok = Stream(machine, client, tap, options, error);
    }
    client.Unmap();
    Fill(report, client, check);
    return ok ? LowLatencyResult::Done : LowLatencyResult::Failed;
}

}  // namespace Host
