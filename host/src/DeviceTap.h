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

namespace Host {

// What the tap hands the device's samples to.
class OutputCheck
{
public:
    virtual void Take(const UsbSim::OutSampleArray& received) = 0;
    // Peaks since the last call, per channel (the meter's view).
    virtual std::vector<int32_t> TakeRecentPeaks() = 0;

protected:
    ~OutputCheck() = default;
};

// The device's samples (24-bit values) against the expected ones, frame by frame. The first
// frame with a sample not zero places the stream: the device hears silence until the pin's first
// block, and the played audio's own leading silence cannot be told from it.
class RenderCheck final : public OutputCheck
{
public:
    RenderCheck(uint32_t channels, std::vector<int32_t> expected, bool keep);

    void Take(const UsbSim::OutSampleArray& received) override;

    uint64_t TotalFrames() const { return total_; }
    // Frames of the audio accounted for: the leading silence once placed, then each compared.
    uint64_t ReceivedFrames() const;
    uint64_t Mismatches() const { return mismatches_; }
    const std::string& FirstMismatch() const { return firstMismatch_; }
    // Frames not silent after the last expected one.
    uint64_t Extra() const { return extra_; }
    std::vector<int32_t> Peaks() const { return peaks_; }  // absolute, per channel
    std::vector<int32_t> TakeRecentPeaks() override;
    // The received frames in place of the expected ones (kept when asked).
    const std::vector<int32_t>& Kept() const { return kept_; }

private:
    void Compare(std::span<const int32_t> frame);

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
