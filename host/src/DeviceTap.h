// What the simulated device received, checked against what was played. The device's record of
// its OUT packets is written on the bus's frame DPC; the tap reads it on a DPC of its own every
// few milliseconds (in real time the same thread runs both), turns the samples into a running
// check against the expected ones, and keeps a summary the main thread reads under a mutex.
#pragma once

#include <UsbTestApi.h>
#include <wdm.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Underrun.h"

namespace Host {

// What the tap hands the device's samples to.
class OutputCheck
{
public:
    virtual void Take(const UsbSim::OutSampleArray& received) = 0;
    // Peaks since the last call, per channel (the meter's view).
    virtual std::vector<int32_t> TakeRecentPeaks() = 0;
    // Nothing more comes: what was held back to be judged is judged.
    virtual void Finish() {}

protected:
    ~OutputCheck() = default;
};

// The device's samples (24-bit values) against the expected ones, frame by frame. The first
// frame with a sample not zero places the stream: the device hears silence until the pin's first
// block, and the played audio's own leading silence cannot be told from it.
//
// Silence where the audio has sound is an underrun: the client's data came late. Where the audio
// comes back the check finds its place again (right where it stopped, else where the device's
// clock went on to, else the nearest place ahead the next frames match) and compares on from
// there, so one late block is one underrun and not a shifted remainder of differing samples.
class RenderCheck final : public OutputCheck
{
public:
    RenderCheck(uint32_t channels, std::vector<int32_t> expected, bool keep);

    void Take(const UsbSim::OutSampleArray& received) override;
    void Finish() override;

    uint64_t TotalFrames() const { return total_; }
    // Frames of the audio the device received: the leading silence once placed, then each
    // compared (the frames underruns lost are not).
    uint64_t ReceivedFrames() const;
    const std::vector<Underrun>& Underruns() const { return underruns_; }
    uint64_t Mismatches() const { return mismatches_; }
    const std::string& FirstMismatch() const { return firstMismatch_; }
    // Frames not silent after the last expected one.
    uint64_t Extra() const { return extra_; }
    std::vector<int32_t> Peaks() const { return peaks_; }  // absolute, per channel
    std::vector<int32_t> TakeRecentPeaks() override;
    // The received frames in place of the expected ones (kept when asked).
    const std::vector<int32_t>& Kept() const { return kept_; }

private:
    // Frames compared to find where the audio comes back after an underrun.
    static constexpr size_t kResumeFrames = 32;
    // Beyond the silence's length, how much further on the audio may come back.
    static constexpr uint64_t kSearchFrames = 4096;

    void TakeFrame(std::span<const int32_t> frame);
    void Compare(std::span<const int32_t> frame);
    bool ExpectedSilent(uint64_t position) const;
    bool Resumes(uint64_t position) const;
    // Ends the underrun under way: finds where the held frames belong and compares them there.
    void Resolve();

    uint32_t channels_;
    std::vector<int32_t> expected_;
    bool keep_;
    uint64_t total_ = 0;
    uint64_t leadingSilence_ = 0;
    bool placed_ = false;
    uint64_t position_ = 0;  // next expected frame once placed
    uint64_t mismatches_ = 0;
    uint64_t extra_ = 0;
    std::string firstMismatch_;
    std::vector<int32_t> peaks_;
    std::vector<int32_t> recent_;
    std::vector<int32_t> kept_;
    std::vector<Underrun> underruns_;
    uint64_t lost_ = 0;          // frames all underruns lost
    uint64_t silence_ = 0;       // frames of the underrun under way; 0: none
    std::vector<int32_t> held_;  // the frames after its silence, until their place is found
};

// The low-latency client's ramp at the device: silence, then the ramp from its first frame on,
// frame after frame, even channels as it is and odd ones negated. A period that came too late is
// a gap, not a break: the device played silence in its place, or skipped ahead to where the ramp
// stands at that time. Frames repeated, out of order or altered are a break.
class RampCheck final : public OutputCheck
{
public:
    explicit RampCheck(uint32_t channels);

    void Take(const UsbSim::OutSampleArray& received) override;
    std::vector<int32_t> TakeRecentPeaks() override;

    uint64_t RampFrames() const { return ramp_; }  // frames of the ramp in sequence
    // Late periods: silences inside the ramp, and skips ahead in it.
    uint64_t Gaps() const { return gaps_; }
    uint64_t GapFrames() const { return gapFrames_; }
    // Frames of the ramp skipped (counted in RampFrames, never heard).
    uint64_t LostFrames() const { return lostFrames_; }
    bool Broken() const { return !failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    std::vector<int32_t> Peaks() const { return peaks_; }

private:
    static constexpr size_t kRunFrames = 64;  // frames compared against the pattern at once
    static constexpr size_t kRunLanes = 8;    // samples of one step of that comparison

    size_t TakeRun(const int32_t* in, size_t frames);
    void TakeFrame(std::span<const int32_t> frame);
    uint64_t SkippedTo(int32_t value) const;
    bool MatchesRamp(std::span<const int32_t> frame, int32_t value);
    void Explain(std::span<const int32_t> frame, int32_t value);
    int32_t RampValue();

    uint32_t channels_;
    uint64_t ramp_ = 0;
    uint64_t silence_ = 0;  // silent frames since the last frame of the ramp
    uint64_t gaps_ = 0;
    uint64_t gapFrames_ = 0;
    uint64_t lostFrames_ = 0;
    std::string failure_;
    std::vector<int32_t> peaks_;
    std::vector<int32_t> recent_;
    std::vector<int32_t> signs_;  // 1 on even channels, -1 on odd ones
    uint64_t valueAt_ = 0;        // the ramp frame value_ holds
    int32_t value_ = 1;           // LowLatencyRamp(valueAt_)
    // A block's pattern, sample by sample: its frame's offset in the block, and -1 where the
    // channel carries the ramp negated (0 elsewhere).
    std::vector<int32_t> runOffsets_;
    std::vector<int32_t> runNegate_;
};

class DeviceTap
{
public:
    DeviceTap(UsbSim::SimulatedUsbDevice& device, OutputCheck& check);
    ~DeviceTap();
    DeviceTap(const DeviceTap&) = delete;
    DeviceTap& operator=(const DeviceTap&) = delete;

    // Cancels the timer and reads what is left. Call once the layer's threads stopped.
    void Stop();
    // Runs f on the check under the tap's mutex.
    template <typename F>
    auto With(F f)
    {
        std::lock_guard hold(mutex_);
        return f(check_);
    }

private:
    static void TapDpc(PKDPC, PVOID context, PVOID, PVOID);
    void Drain();

    UsbSim::SimulatedUsbDevice& device_;
    OutputCheck& check_;
    std::mutex mutex_;
    UsbSim::OutSampleArray received_;  // the last reading, its room kept for the next
    KTIMER timer_{};
    KDPC dpc_{};
    bool armed_ = false;
};

}  // namespace Host
