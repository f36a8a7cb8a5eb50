#include "DeviceTap.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "LowLatencyClient.h"

namespace Host {
namespace {

constexpr LONG kTapPeriodMs = 5;

bool Silent(std::span<const int32_t> frame)
{
    return std::all_of(frame.begin(), frame.end(), [](int32_t s) { return s == 0; });
}

}  // namespace

RenderCheck::RenderCheck(uint32_t channels, std::vector<int32_t> expected, bool keep)
    : channels_(channels),
      expected_(std::move(expected)),
      keep_(keep),
      peaks_(channels, 0),
      recent_(channels, 0)
{
    total_ = channels_ != 0 ? expected_.size() / channels_ : 0;
    while (leadingSilence_ < total_ &&
           Silent({expected_.data() + leadingSilence_ * channels_, channels_})) {
        ++leadingSilence_;
    }
    if (keep_) {
        kept_.assign(leadingSilence_ * channels_, 0);
    }
}

uint64_t RenderCheck::ReceivedFrames() const
{
    if (!placed_) {
        return leadingSilence_ == total_ ? total_ : 0;  // silence throughout: nothing to tell
    }
    return position_ - lost_;
}

bool RenderCheck::ExpectedSilent(uint64_t position) const
{
    return position >= total_ || Silent({expected_.data() + position * channels_, channels_});
}

// Whether the held frames are the audio from `position` on (silence past its end).
bool RenderCheck::Resumes(uint64_t position) const
{
    const size_t frames = held_.size() / channels_;
    for (size_t f = 0; f < frames; ++f) {
        const uint64_t at = position + f;
        for (uint32_t c = 0; c < channels_; ++c) {
            const int32_t want = at < total_ ? expected_[at * channels_ + c] : 0;
            if (held_[f * channels_ + c] != want) {
                return false;
            }
        }
    }
    return true;
}

void RenderCheck::Resolve()
{
    const uint64_t from = position_;
    // Where the device's clock went on to while it played silence: a late block the driver
    // dropped leaves the audio there. Nothing came back at all: the rest was lost.
    const uint64_t clock = std::min(total_, from + silence_);
    uint64_t resume = held_.empty() ? total_ : clock;
    if (!held_.empty() && !Resumes(clock)) {
        if (Resumes(from)) {
            resume = from;
        } else {
            const uint64_t last = std::min(total_, clock + silence_ + kSearchFrames);
            for (uint64_t q = from + 1; q <= last; ++q) {
                if (Resumes(q)) {
                    resume = q;
                    break;
                }
            }
        }
    }
    underruns_.push_back({from, silence_, resume - from});
    lost_ += resume - from;
    if (keep_) {
        kept_.insert(kept_.end(), (resume - from) * channels_, 0);
    }
    position_ = resume;
    silence_ = 0;
    // Compared in their place; when none was found they differ there, and say so.
    std::vector<int32_t> held;
    held.swap(held_);
    for (size_t f = 0; f < held.size() / channels_; ++f) {
        TakeFrame({held.data() + f * channels_, channels_});
    }
}

void RenderCheck::TakeFrame(std::span<const int32_t> frame)
{
    if (!placed_) {
        if (Silent(frame) || leadingSilence_ == total_) {
            return;
        }
        placed_ = true;
        position_ = leadingSilence_;
    }
    if (silence_ != 0) {
        const bool silent = Silent(frame);
        if (held_.empty() && silent) {
            ++silence_;
            return;
        }
        if (!silent) {
            held_.insert(held_.end(), frame.begin(), frame.end());
            if (held_.size() >= kResumeFrames * channels_) {
                Resolve();
            }
            return;
        }
        Resolve();  // silence again after a short return: that return is judged first
    }
    if (position_ < total_) {
        if (Silent(frame) && !ExpectedSilent(position_)) {
            silence_ = 1;
            return;
        }
        Compare(frame);
    } else if (!Silent(frame)) {
        ++extra_;
    }
}

void RenderCheck::Finish()
{
    if (silence_ != 0) {
        Resolve();
    }
}

void RenderCheck::Compare(std::span<const int32_t> frame)
{
    const int32_t* want = expected_.data() + position_ * channels_;
    for (uint32_t c = 0; c < channels_; ++c) {
        const int32_t level = std::abs(frame[c]);
        peaks_[c] = std::max(peaks_[c], level);
        recent_[c] = std::max(recent_[c], level);
        if (frame[c] != want[c] && mismatches_++ == 0) {
            firstMismatch_ = "frame " + std::to_string(position_) + " channel " +
                             std::to_string(c + 1) + ": the device received " +
                             std::to_string(frame[c]) + ", expected " + std::to_string(want[c]);
        }
    }
    if (keep_) {
        kept_.insert(kept_.end(), frame.begin(), frame.end());
    }
    ++position_;
}

void RenderCheck::Take(const UsbSim::OutSampleArray& received)
{
    if (received.channels != channels_) {
        if (!received.empty() && mismatches_++ == 0) {
            firstMismatch_ = "the device received " + std::to_string(received.channels) +
                             " channels, expected " + std::to_string(channels_);
        }
        return;
    }
    for (size_t f = 0; f < received.size(); ++f) {
        TakeFrame(received.Frame(f));
    }
}

std::vector<int32_t> RenderCheck::TakeRecentPeaks()
{
    std::vector<int32_t> recent(channels_, 0);
    recent.swap(recent_);
    return recent;
}

RampCheck::RampCheck(uint32_t channels)
    : channels_(channels), peaks_(channels, 0), recent_(channels, 0), signs_(channels, 1)
{
    for (uint32_t c = 1; c < channels; c += 2) {
        signs_[c] = -1;
    }
    runOffsets_.resize(kRunFrames * channels);
    runNegate_.resize(kRunFrames * channels);
    for (size_t i = 0; i < runOffsets_.size(); ++i) {
        runOffsets_[i] = static_cast<int32_t>(i / channels);
        runNegate_[i] = (i % channels) % 2 == 0 ? 0 : -1;
    }
}

// Frames ahead of the next one expected that `value` lies, when it is a ramp value less than
// half the ramp's span ahead (the ramp wraps); else 0.
uint64_t RampCheck::SkippedTo(int32_t value) const
{
    if (value < 1 || value > static_cast<int32_t>(kLowLatencyRampSpan)) {
        return 0;
    }
    const uint64_t at = ramp_ % kLowLatencyRampSpan;
    const uint64_t target = static_cast<uint64_t>(value - 1);
    const uint64_t ahead = (target + kLowLatencyRampSpan - at) % kLowLatencyRampSpan;
    return ahead < kLowLatencyRampSpan / 2 ? ahead : 0;
}

void RampCheck::Take(const UsbSim::OutSampleArray& received)
{
    if (received.empty() || !failure_.empty()) {
        return;
    }
    if (received.channels != channels_) {
        failure_ = "the device received " + std::to_string(received.channels) +
                   " channels, expected " + std::to_string(channels_);
        return;
    }
    const size_t frames = received.size();
    for (size_t f = 0; f < frames && failure_.empty();) {
        const size_t taken = TakeRun(received.samples.data() + f * channels_, frames - f);
        if (taken != 0) {
            f += taken;
            continue;
        }
        // Anything but the ramp going on (silence, a skip, a break) frame by frame.
        for (const size_t end = f + std::min(kRunFrames, frames - f); f < end && failure_.empty();
             ++f) {
            TakeFrame(received.Frame(f));
        }
    }
}

// The frames from `in` on, up to a block, when every sample of them is the ramp going on from
// the next frame expected: compared against the block's pattern (frame offsets and signs) in
// one pass without a branch; the count taken, or 0 when any frame is something else.
size_t RampCheck::TakeRun(const int32_t* in, size_t frames)
{
    if (silence_ != 0) {
        return 0;
    }
    const int32_t value = RampValue();
    if (in[0] != value) {
        return 0;
    }
    // Up to the ramp's last value: the pattern does not wrap.
    const size_t room = kLowLatencyRampSpan - static_cast<size_t>(value) + 1;
    const size_t run = std::min({frames, room, kRunFrames});
    const size_t count = run * channels_;
    const int32_t* __restrict offsets = runOffsets_.data();
    const int32_t* __restrict negate = runNegate_.data();
    uint32_t differ = 0;
    size_t i = 0;
    for (; i + kRunLanes <= count; i += kRunLanes) {
        for (size_t k = 0; k < kRunLanes; ++k) {
            const int32_t want = ((value + offsets[i + k]) ^ negate[i + k]) - negate[i + k];
            differ |= static_cast<uint32_t>(in[i + k] ^ want);
        }
    }
    for (; i < count; ++i) {
        differ |= static_cast<uint32_t>(in[i] ^ (((value + offsets[i]) ^ negate[i]) - negate[i]));
    }
    if (differ != 0) {
        return 0;
    }
    // Every level of the run is a ramp value, the last the largest.
    const auto top = static_cast<int32_t>(value + static_cast<int32_t>(run) - 1);
    for (uint32_t c = 0; c < channels_; ++c) {
        peaks_[c] = std::max(peaks_[c], top);
        recent_[c] = std::max(recent_[c], top);
    }
    ramp_ += run;
    valueAt_ = ramp_ - 1;
    value_ = top;
    return run;
}

void RampCheck::TakeFrame(std::span<const int32_t> frame)
{
    if (frame[0] == 0 && Silent(frame)) {
        silence_ += ramp_ != 0 ? 1 : 0;  // before the ramp nothing counts
        return;
    }
    if (silence_ != 0) {
        ++gaps_;
        gapFrames_ += silence_;
    }
    // A period that came late lands at its own time: the device skips ahead in the ramp,
    // with or without silence before. Frames heard out of order or altered are a break.
    const int32_t next = RampValue();
    const uint64_t skipped = frame[0] == next ? 0 : SkippedTo(frame[0]);
    if (skipped != 0) {
        gaps_ += silence_ == 0 ? 1 : 0;
        lostFrames_ += skipped;
        ramp_ += skipped;
    }
    silence_ = 0;
    const int32_t value = skipped == 0 ? next : RampValue();
    if (!MatchesRamp(frame, value)) {
        Explain(frame, value);
    }
    ramp_ += failure_.empty() ? 1 : 0;
}

// Notes the frame's levels; whether every sample is the ramp's (even channels as it is, odd ones
// negated). The whole frame at once, no branch per sample.
bool RampCheck::MatchesRamp(std::span<const int32_t> frame, int32_t value)
{
    int32_t* __restrict peaks = peaks_.data();
    int32_t* __restrict recent = recent_.data();
    const int32_t* __restrict in = frame.data();
    const int32_t* __restrict signs = signs_.data();
    uint32_t differ = 0;
    for (uint32_t c = 0; c < channels_; ++c) {
        const int32_t level = std::abs(in[c]);
        peaks[c] = std::max(peaks[c], level);
        recent[c] = std::max(recent[c], level);
        differ |= static_cast<uint32_t>(in[c] ^ (value * signs[c]));
    }
    return differ == 0;
}

// LowLatencyRamp(ramp_), run along from the last frame's value while the ramp moves one at a
// time (a division only after a skip).
int32_t RampCheck::RampValue()
{
    if (valueAt_ + 1 == ramp_) {
        value_ = value_ == static_cast<int32_t>(kLowLatencyRampSpan) ? 1 : value_ + 1;
        valueAt_ = ramp_;
    } else if (valueAt_ != ramp_) {
        value_ = LowLatencyRamp(ramp_);
        valueAt_ = ramp_;
    }
    return value_;
}

// The first sample of a frame that is not the ramp's, as the failure.
void RampCheck::Explain(std::span<const int32_t> frame, int32_t value)
{
    for (uint32_t c = 0; c < channels_; ++c) {
        const int32_t want = c % 2 == 0 ? value : -value;
        if (frame[c] != want && failure_.empty()) {
            failure_ = "frame " + std::to_string(ramp_) + " channel " + std::to_string(c + 1) +
                       ": the device received " + std::to_string(frame[c]) + ", expected " +
                       std::to_string(want);
        }
    }
}

std::vector<int32_t> RampCheck::TakeRecentPeaks()
{
    std::vector<int32_t> recent(channels_, 0);
    recent.swap(recent_);
    return recent;
}

DeviceTap::DeviceTap(UsbSim::SimulatedUsbDevice& device, OutputCheck& check)
    : device_(device), check_(check)
{
    device_.ClearOutPackets();
    KeInitializeTimerEx(&timer_, NotificationTimer);
    KeInitializeDpc(&dpc_, &DeviceTap::TapDpc, this);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(kTapPeriodMs) * 10000;
    KeSetTimerEx(&timer_, due, kTapPeriodMs, &dpc_);
    armed_ = true;
}

DeviceTap::~DeviceTap()
{
    Stop();
}

void DeviceTap::Stop()
{
    if (armed_) {
        KeCancelTimer(&timer_);
        armed_ = false;
        Drain();
        std::lock_guard hold(mutex_);
        check_.Finish();
    }
}

void DeviceTap::TapDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    static_cast<DeviceTap*>(context)->Drain();
}

void DeviceTap::Drain()
{
    std::set<uint8_t> endpoints;
    for (const UsbSim::OutPacketRecord& packet : device_.OutPackets()) {
        endpoints.insert(packet.endpoint);
    }
    std::lock_guard hold(mutex_);
    for (const uint8_t endpoint : endpoints) {
        device_.OutSamples(endpoint, received_);
        check_.Take(received_);
    }
    device_.ClearOutPackets();
}

}  // namespace Host
