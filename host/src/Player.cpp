#include "Player.h"

#include <KsPinHandle.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "DeviceTap.h"
#include "Meter.h"

namespace Host {
namespace {

constexpr uint32_t kBlocksPerSecond = 100;  // 10 ms blocks
// 200 ms: a client on the wall clock rides out a late turn. A busy machine leaves a thread at
// normal priority unscheduled for 100 ms now and then; the device hears the queue's last block
// that long after the client wrote it, which a player (not a low-latency client) can afford.
constexpr size_t kQueuedBlocks = 20;
constexpr uint64_t kTailMs = 100;    // the device's queue drains
constexpr uint64_t kSlackMs = 2000;  // beyond the audio's length before the run gives up

// The pin's container: 16-bit stays 16-bit; 24-bit goes in 4-byte containers with 24 valid bits
// (the pins refuse packed 24-bit); 32-bit goes as it is.
uint32_t PinBits(const WavAudio& audio)
{
    return audio.containerBits == 16 ? 16 : 32;
}

std::vector<uint8_t> PinFormat(const WavAudio& audio)
{
    if (audio.containerBits == 16) {
        return Platform::Ks::PcmFormatBytes(audio.channels, audio.rate, 16, false);
    }
    const ULONG valid = audio.containerBits == 24 ? 24 : audio.validBits;
    return Platform::Ks::PcmFormatBytes(audio.channels, audio.rate, 32, true, valid);
}

std::vector<uint8_t> PinBlock(const WavAudio& audio, uint64_t firstFrame, uint64_t frames)
{
    const uint32_t bytes = PinBits(audio) / 8;
    std::vector<uint8_t> block(frames * audio.channels * bytes);
    const int32_t* source = audio.samples.data() + firstFrame * audio.channels;
    for (size_t i = 0; i < frames * audio.channels; ++i) {
        if (bytes == 2) {
            const auto v = static_cast<int16_t>(source[i]);
            std::memcpy(&block[i * 2], &v, 2);
        } else {
            const int32_t v = audio.containerBits == 24
                                  ? static_cast<int32_t>(static_cast<uint32_t>(source[i]) << 8)
                                  : source[i];
            std::memcpy(&block[i * 4], &v, 4);
        }
    }
    return block;
}

void Fill(PlayReport* report, const RenderCheck& check, const WavAudio& audio, bool keep)
{
    report->framesReceived = check.ReceivedFrames();
    report->mismatches = check.Mismatches();
    report->extra = check.Extra();
    report->firstMismatch = check.FirstMismatch();
    report->underruns = check.Underruns();
    report->peaks = check.Peaks();
    if (keep) {
        report->received.channels = audio.channels;
        report->received.rate = audio.rate;
        report->received.containerBits = 24;
        report->received.validBits = 24;
        report->received.samples = check.Kept();
    }
}

// Submits and collects until every block came back; false with the reason.
bool Stream(HostMachine& machine, Platform::Ks::PinHandle& pin, const WavAudio& audio,
            const PlayOptions& options, DeviceTap& tap, Meter* meter, std::string* error)
{
    const uint64_t total = audio.Frames();
    const uint64_t blockFrames = audio.rate / kBlocksPerSecond;
    const uint64_t lengthMs = total * 1000 / audio.rate;
    const uint64_t start = HostMachine::NowMs();
    uint64_t submitted = 0;
    bool held = options.holdFor.count() == 0;
    uint64_t heldUntil = 0;
    while (submitted < total || pin.PendingFrames() != 0) {
        if (!held && submitted >= options.holdAtFrame) {
            held = true;
            heldUntil = HostMachine::NowMs() + static_cast<uint64_t>(options.holdFor.count());
        }
        while (submitted < total && pin.PendingFrames() < kQueuedBlocks &&
               HostMachine::NowMs() >= heldUntil) {
            const uint64_t frames = std::min(blockFrames, total - submitted);
            const NTSTATUS status = pin.Write(PinBlock(audio, submitted, frames));
            if (status != STATUS_PENDING && status != STATUS_SUCCESS) {
                *error = "the pin refused a block: status " + StatusText(status);
                return false;
            }
            submitted += frames;
        }
        machine.Wait(std::chrono::milliseconds(1));
        for (const Platform::Ks::CompletedFrame& frame : pin.Collect()) {
            if (frame.status != STATUS_SUCCESS) {
                *error = "a block came back with status " + StatusText(frame.status);
                return false;
            }
        }
        const uint64_t elapsed = HostMachine::NowMs() - start;
        if (meter != nullptr) {
            meter->Update(std::min(elapsed, lengthMs), lengthMs,
                          tap.With([](OutputCheck& c) { return c.TakeRecentPeaks(); }));
        }
        if (elapsed > lengthMs + kSlackMs + static_cast<uint64_t>(options.holdFor.count())) {
            *error =
                "blocks still pending " + std::to_string(kSlackMs) + " ms after the audio's end";
            return false;
        }
    }
    machine.Wait(std::chrono::milliseconds(kTailMs));
    return true;
}

}  // namespace

int32_t DeviceValue(const WavAudio& audio, int32_t sample)
{
    if (audio.containerBits == 16) {
        return sample * 256;
    }
    return audio.containerBits == 24 ? sample : sample >> 8;
}

bool Play(HostMachine& machine, const EndpointInfo& endpoint, const WavAudio& audio,
          const PlayOptions& options, PlayReport* report, std::string* error)
{
    *report = PlayReport{};
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto filter = Platform::Ks::FilterHandle::Open(machine.Process(), machine.Device(),
                                                   endpoint.symbolicLink, &status);
    if (filter == nullptr) {
        *error = "the endpoint's filter did not open: status " + StatusText(status);
        return false;
    }
    auto pin = Platform::Ks::PinHandle::Open(*filter, endpoint.pinId, PinFormat(audio), &status);
    if (pin == nullptr) {
        *error = "the endpoint refused the format (" + std::to_string(audio.channels) +
                 " channels, " + std::to_string(audio.rate) + " Hz, " +
                 std::to_string(audio.containerBits) + "-bit): status " + StatusText(status);
        return false;
    }
    std::vector<int32_t> expected(audio.samples.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        expected[i] = DeviceValue(audio, audio.samples[i]);
    }
    RenderCheck check(audio.channels, std::move(expected), options.keepReceived);
    std::unique_ptr<Meter> meter;
    if (options.meterOut != nullptr) {
        meter = std::make_unique<Meter>(*options.meterOut, options.terminal, "playing");
    }
    bool ok = true;
    {
        DeviceTap tap(machine.UsbDevice(), check);
        machine.BeginStreaming();
        status = pin->WalkTo(KSSTATE_RUN);
        if (status != STATUS_SUCCESS) {
            *error = "the stream did not start: status " + StatusText(status);
            ok = false;
        } else {
            ok = Stream(machine, *pin, audio, options, tap, meter.get(), error);
        }
        pin->WalkTo(KSSTATE_STOP);
        machine.EndStreaming();
        tap.Stop();
    }
    if (meter != nullptr) {
        meter->Finish();
    }
    pin->Close();
    pin.reset();
    filter.reset();
    report->framesPlayed = ok ? audio.Frames() : 0;
    Fill(report, check, audio, options.keepReceived);
    return ok;
}

WavAudio TestSignal(uint32_t rate, uint32_t milliseconds)
{
    WavAudio audio;
    audio.channels = 2;
    audio.rate = rate;
    audio.containerBits = 24;
    audio.validBits = 24;
    const uint64_t frames = static_cast<uint64_t>(rate) * milliseconds / 1000;
    audio.samples.resize(frames * 2);
    const double pi = 3.14159265358979323846;
    for (uint64_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        audio.samples[n * 2] =
            static_cast<int32_t>(std::lround(4194304.0 * std::sin(2 * pi * 440 * t)));
        audio.samples[n * 2 + 1] =
            static_cast<int32_t>(std::lround(2097152.0 * std::sin(2 * pi * 660 * t)));
    }
    return audio;
}

}  // namespace Host
