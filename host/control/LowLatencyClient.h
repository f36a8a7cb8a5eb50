// A low-latency (ASIO-style) client of the control filter, driven purely by property requests in
// its process's layout: it reads the device's channels, sets the rate, checks and sets the buffer
// size, maps two halves per channel and direction, registers two events, starts, and at each
// event fills the output half just handed back with the next frames of a ramp and reports it
// done. Missed periods are halves the device moved past that the client did not hand back.
#pragma once

#include <cstdint>
#include <string>

#include "ControlRequester.h"

namespace Host {

// The n-th frame of the client's output: never 0, so the first frame stands out of the silence
// before it. Even channels carry it, odd ones its negation (24-bit values).
int32_t LowLatencyRamp(uint64_t n);
inline constexpr uint64_t kLowLatencyRampSpan = 0x7FFFFE;  // values before the ramp wraps

struct BufferSizeRange
{
    uint32_t minimum = 0;
    uint32_t maximum = 0;
    uint32_t preferred = 0;
    int32_t granularity = 0;  // 0 or less: sizes double
    std::string Text() const;
};

class LowLatencyClient
{
public:
    explicit LowLatencyClient(ControlRequester& control) : control_(control) {}
    ~LowLatencyClient();
    LowLatencyClient(const LowLatencyClient&) = delete;
    LowLatencyClient& operator=(const LowLatencyClient&) = delete;

    // Channels and the product's name. False with a one-line reason.
    bool Describe(std::string* error);
    // The rate, then the buffer size: a size the device does not take is refused with the sizes
    // it does take.
    bool Configure(uint32_t rate, uint32_t frames, std::string* error);
    // Maps both directions (a direction without channels maps an empty table), registers the
    // events, fills the half the device plays first and starts.
    bool Start(std::string* error);
    // Serves whichever events are signalled; the number of halves served.
    int Serve();
    // Frames the device has moved through since the start (0 once stopped).
    uint64_t Position();
    // Stop, then the halves signalled before it counted as served; the missed periods are fixed
    // from the position read just before the stop.
    bool Stop(std::string* error);
    // Releases buffers and events; also done by the destructor when left out.
    void Unmap();

    uint32_t Inputs() const { return inputs_; }
    uint32_t Outputs() const { return outputs_; }
    const std::string& ProductName() const { return productName_; }
    const BufferSizeRange& Range() const { return range_; }
    uint32_t BufferFrames() const { return frames_; }
    // The input and output latencies the control filter reports, added: frames the device may
    // hold between a half handed back and its own ears (the transfers queued ahead among them).
    uint32_t Latency() const { return latency_; }

    uint64_t served = 0;       // halves handed back with BufferDone
    uint64_t failedDones = 0;  // BufferDone answers that were failures (change flags read)
    uint32_t changeFlags = 0;  // what the failed answers had to tell, or-ed
    uint64_t written = 0;      // ramp frames written into output halves
    uint64_t missed = 0;       // halves the device moved past without the client (after Stop)

private:
    bool MapDirection(bool output, std::string* error);
    bool Allocate(std::string* error);
    void FillOutput(uint32_t half);
    void Release();
    void NotePosition(uint64_t position);

    ControlRequester& control_;
    uint32_t inputs_ = 0;
    uint32_t outputs_ = 0;
    std::string productName_;
    BufferSizeRange range_;
    uint32_t frames_ = 0;
    uint32_t latency_ = 0;
    int32_t* input_[kTableChannels][kTableHalves] = {};
    int32_t* output_[kTableChannels][kTableHalves] = {};
    HANDLE events_[kTableHalves] = {};
    uint32_t nextEvent_ = 1;  // the first period switches to half 1
    uint64_t period_ = 0;     // frames of one device period, learnt from the positions
    bool mapped_ = false;
    bool running_ = false;
};

}  // namespace Host
