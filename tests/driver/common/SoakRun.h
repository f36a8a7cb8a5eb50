#pragma once
// What the driver's virtual-time soaks share: their length, taken from the environment so CI can
// run a length that fits, and the capture pattern the simulated device produces and the soaks
// check sample for sample.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace SoakRun {

// The run's length in virtual seconds: the variable's value when it is a positive number, else
// the nominal length (a misspelt or zero value never turns a soak into a run of no length).
inline int Seconds(const char* variable, int nominal)
{
    const char* text = std::getenv(variable);
    const int given = text != nullptr ? std::atoi(text) : 0;
    return given > 0 ? given : nominal;
}

// Distinct 24-bit values on the two channels, a pure function of the sample's index.
constexpr int32_t kCaptureSpan = 0x7FFFFE;
inline int32_t CaptureSample(uint32_t channel, uint64_t index)
{
    const auto value = static_cast<int32_t>(index % kCaptureSpan) + 1;
    return channel == 0 ? value : -value;
}

// CaptureSample(0, index + 1) from CaptureSample(0, index): a check walking a packet's samples
// in order takes one division a packet instead of two a frame.
inline int32_t NextCaptureValue(int32_t value)
{
    return value == kCaptureSpan ? 1 : value + 1;
}

// CaptureSample for a packet's frames at once (the simulated device's frame generator): one
// division a packet instead of one a sample, and stereo frames in runs up to the pattern's wrap.
inline void CaptureFrames(uint64_t first, uint32_t channels, std::span<int32_t> samples)
{
    auto value = static_cast<int32_t>(first % kCaptureSpan) + 1;
    const size_t frames = channels != 0 ? samples.size() / channels : 0;
    if (channels == 2) {
        int32_t* out = samples.data();
        for (size_t f = 0; f < frames;) {
            const size_t run =
                std::min<size_t>(frames - f, static_cast<size_t>(kCaptureSpan - value) + 1);
            // Two frames a step in a vector register: (v, -v, v + 1, -v - 1), then on by two.
            using Lanes = int32_t __attribute__((vector_size(16)));
            Lanes pair = Lanes{value, -value, value + 1, -value - 1};
            size_t k = 0;
            for (; k + 2 <= run; k += 2, pair += Lanes{2, -2, 2, -2}) {
                std::memcpy(out + 2 * (f + k), &pair, sizeof pair);
            }
            for (; k < run; ++k) {
                out[2 * (f + k)] = value + static_cast<int32_t>(k);
                out[2 * (f + k) + 1] = -(value + static_cast<int32_t>(k));
            }
            f += run;
            value = value + static_cast<int32_t>(run) - 1 == kCaptureSpan
                        ? 1
                        : value + static_cast<int32_t>(run);
        }
        return;
    }
    for (size_t at = 0; at + channels <= samples.size(); at += channels) {
        samples[at] = value;
        for (uint32_t c = 1; c < channels; ++c) {
            samples[at + c] = -value;
        }
        value = value == kCaptureSpan ? 1 : value + 1;
    }
}

}  // namespace SoakRun
