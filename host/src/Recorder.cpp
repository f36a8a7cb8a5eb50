#include "Recorder.h"

#include <KsPinHandle.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Meter.h"

namespace Host {
namespace {

constexpr uint32_t kBlocksPerSecond = 100;
constexpr size_t kQueuedReads = 8;
constexpr uint64_t kSlackMs = 2000;
constexpr uint64_t kPlacingFrames = 32;   // frames compared to place the recording in the tone
constexpr uint64_t kSearchFrames = 4096;  // how far on past a gap's silence the tone may resume

// Whether the recording's frames from `frame` on (up to kPlacingFrames, to its end) are the
// tone from `index` on.
bool ToneAt(const WavAudio& recording, uint64_t frame, uint64_t index)
{
    const size_t channels = recording.channels;
    const uint64_t span = std::min<uint64_t>(kPlacingFrames, recording.Frames() - frame);
    for (uint64_t f = 0; f < span; ++f) {
        for (size_t c = 0; c < channels; ++c) {
            if (recording.samples[(frame + f) * channels + c] !=
                InputTone(static_cast<uint32_t>(c), index + f, recording.rate)) {
                return false;
            }
        }
    }
    return true;
}

bool SilentFrame(const WavAudio& recording, uint64_t frame)
{
    const size_t channels = recording.channels;
    return std::all_of(recording.samples.begin() + static_cast<ptrdiff_t>(frame * channels),
                       recording.samples.begin() + static_cast<ptrdiff_t>((frame + 1) * channels),
                       [](int32_t s) { return s == 0; });
}

bool Gather(HostMachine& machine, Platform::Ks::PinHandle& pin, const RecordOptions& options,
            WavAudio* recording, Meter* meter, std::string* error)
{
    const uint64_t wanted = static_cast<uint64_t>(options.rate) * options.milliseconds / 1000;
    const ULONG blockBytes = options.rate / kBlocksPerSecond * recording->channels * 4;
    const uint64_t start = HostMachine::NowMs();
    while (recording->Frames() < wanted) {
        while (pin.PendingFrames() < kQueuedReads) {
            const NTSTATUS status = pin.Read(blockBytes);
            if (status != STATUS_PENDING && status != STATUS_SUCCESS) {
                *error = "the pin refused a read: status " + StatusText(status);
                return false;
            }
        }
        machine.Wait(std::chrono::milliseconds(1));
        std::vector<int32_t> peaks(recording->channels, 0);
        for (const Platform::Ks::CompletedFrame& frame : pin.Collect()) {
            if (frame.status != STATUS_SUCCESS) {
                *error = "a read came back with status " + StatusText(frame.status);
                return false;
            }
            for (size_t o = 0; o + 4 <= frame.header.DataUsed && recording->Frames() < wanted;
                 o += 4) {
                int32_t v;
                std::memcpy(&v, &frame.data[o], 4);
                const size_t c = recording->samples.size() % recording->channels;
                recording->samples.push_back(v >> 8);
                peaks[c] = std::max(peaks[c], std::abs(v >> 8));
            }
        }
        const uint64_t elapsed = HostMachine::NowMs() - start;
        if (meter != nullptr) {
            meter->Update(
                std::min<uint64_t>(recording->Frames() * 1000 / options.rate, options.milliseconds),
                options.milliseconds, peaks);
        }
        if (elapsed > options.milliseconds + kSlackMs) {
            *error = "the device delivered " + std::to_string(recording->Frames()) + " of " +
                     std::to_string(wanted) + " frames in time";
            return false;
        }
    }
    return true;
}

}  // namespace

int32_t InputTone(uint32_t channel, uint64_t index, uint32_t rate)
{
    const double pi = 3.14159265358979323846;
    const double hz = 440.0 * (channel + 2) / 2;
    const double t = static_cast<double>(index % (static_cast<uint64_t>(rate) * 100)) / rate;
    return static_cast<int32_t>(std::lround(4194304.0 * std::sin(2 * pi * hz * t)));
}

bool Record(HostMachine& machine, const EndpointInfo& endpoint, const RecordOptions& options,
            WavAudio* recording, RecordReport* report, std::string* error)
{
    *report = RecordReport{};
    *recording = WavAudio{};
    recording->channels = static_cast<uint16_t>(endpoint.maxChannels);
    recording->rate = options.rate;
    recording->containerBits = 24;
    recording->validBits = 24;
    const uint32_t rate = options.rate;
    machine.UsbDevice().SetInGenerator(
        [rate](uint32_t channel, uint64_t index) { return InputTone(channel, index, rate); });
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto filter = Platform::Ks::FilterHandle::Open(machine.Process(), machine.Device(),
                                                   endpoint.symbolicLink, &status);
    if (filter == nullptr) {
        *error = "the endpoint's filter did not open: status " + StatusText(status);
        return false;
    }
    auto pin = Platform::Ks::PinHandle::Open(
        *filter, endpoint.pinId,
        Platform::Ks::PcmFormatBytes(recording->channels, rate, 32, true, 24), &status);
    if (pin == nullptr) {
        *error =
            "the endpoint refused " + std::to_string(rate) + " Hz: status " + StatusText(status);
        return false;
    }
    std::unique_ptr<Meter> meter;
    if (options.meterOut != nullptr) {
        meter = std::make_unique<Meter>(*options.meterOut, options.terminal, "recording");
    }
    machine.BeginStreaming();
    status = pin->WalkTo(KSSTATE_RUN);
    bool ok = status == STATUS_SUCCESS;
    if (!ok) {
        *error = "the stream did not start: status " + StatusText(status);
    } else {
        ok = Gather(machine, *pin, options, recording, meter.get(), error);
    }
    pin->WalkTo(KSSTATE_STOP);
    machine.EndStreaming();
    if (meter != nullptr) {
        meter->Finish();
    }
    pin->Close();
    pin.reset();
    filter.reset();
    CheckAgainstTone(*recording, report);
    return ok;
}

void CheckAgainstTone(const WavAudio& recording, RecordReport* report)
{
    const size_t channels = recording.channels;
    const uint64_t frames = recording.Frames();
    report->frames = frames;
    report->peaks.assign(channels, 0);
    for (size_t i = 0; i < recording.samples.size(); ++i) {
        report->peaks[i % channels] =
            std::max(report->peaks[i % channels], std::abs(recording.samples[i]));
    }
    // The device's tone starts at index 0 with silence; the recording starts somewhere in it.
    uint64_t first = 0;
    while (first < frames && recording.samples[first * channels] == 0) {
        ++first;
    }
    const uint64_t span = std::min<uint64_t>(kPlacingFrames, frames - first);
    for (uint64_t offset = 0; offset < static_cast<uint64_t>(recording.rate) * 2 && span > 0;
         ++offset) {
        bool match = true;
        for (uint64_t f = 0; f < span && match; ++f) {
            for (size_t c = 0; c < channels && match; ++c) {
                match = recording.samples[(first + f) * channels + c] ==
                        InputTone(static_cast<uint32_t>(c), offset + f, recording.rate);
            }
        }
        if (!match) {
            continue;
        }
        report->placed = true;
        uint64_t index = offset;  // the tone's index of frame f
        for (uint64_t f = first; f < frames; ++f, ++index) {
            bool same = true;
            for (size_t c = 0; c < channels; ++c) {
                same = same && recording.samples[f * channels + c] ==
                                   InputTone(static_cast<uint32_t>(c), index, recording.rate);
            }
            if (same) {
                continue;
            }
            // Silence the client read late, then the tone again: right after what came before
            // it, where the device's clock went on to, or further on (input lost).
            uint64_t silence = 0;
            while (f + silence < frames && SilentFrame(recording, f + silence)) {
                ++silence;
            }
            const uint64_t back = f + silence;
            uint64_t resume = UINT64_MAX;
            if (back == frames) {
                resume = index;  // silent to the end: nothing to place
            } else if (ToneAt(recording, back, index)) {
                resume = index;
            } else if (ToneAt(recording, back, index + silence)) {
                resume = index + silence;
            } else {
                for (uint64_t q = index + 1; q <= index + silence + kSearchFrames; ++q) {
                    if (ToneAt(recording, back, q)) {
                        resume = q;
                        break;
                    }
                }
            }
            if (resume == UINT64_MAX) {
                for (size_t c = 0; c < channels; ++c) {
                    report->mismatches +=
                        recording.samples[f * channels + c] !=
                        InputTone(static_cast<uint32_t>(c), index, recording.rate);
                }
                continue;
            }
            report->underruns.push_back({f, silence, resume - index});
            if (back == frames) {
                return;
            }
            f = back;
            index = resume;
        }
        return;
    }
}

}  // namespace Host
