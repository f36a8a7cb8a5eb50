// The host's low-latency client: opens the driver's control filter as user-mode software does,
// runs the client's cycle for a while on the machine's clock and checks at the device that the
// output arrived whole.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "HostMachine.h"

namespace Host {

struct LowLatencyOptions
{
    uint32_t rate = 48000;
    uint32_t frames = 0;  // of one half
    uint32_t milliseconds = 0;
    std::ostream* meterOut = nullptr;  // null: no meter
    bool terminal = false;
};

struct LowLatencyReport
{
    std::string productName;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    uint64_t halves = 0;  // halves handed back
    uint64_t missed = 0;  // halves the device moved past without the client
    uint64_t gaps = 0;    // silences inside the output at the device
    uint64_t gapFrames = 0;
    uint64_t lostFrames = 0;   // frames of the ramp a late half lost
    uint64_t failedDones = 0;  // buffer-done answers that were failures
    uint32_t changeFlags = 0;  // the change flags read after them
    uint64_t written = 0;      // frames the client wrote
    uint64_t received = 0;     // frames of them the device received in sequence
    uint64_t inFlight = 0;     // frames the stop may cut off: two halves and the latencies
    std::string failure;       // the first frame that broke the sequence
    std::vector<int32_t> peaks;
    // Periods the device had nothing to play for: halves the client never handed back, and the
    // silences it heard when a half came back too late.
    uint64_t MissedPeriods() const { return missed + gaps; }
    bool BitExact() const
    {
        return failure.empty() && received != 0 && received <= written &&
               received + inFlight >= written;
    }
    // Every period played in time as well: a gap is heard, however short.
    bool Passed() const { return BitExact() && MissedPeriods() == 0 && failedDones == 0; }
};

enum class LowLatencyResult
{
    Done,
    BadInput,  // a value the device does not take
    Failed,
};

LowLatencyResult RunLowLatency(HostMachine& machine, const LowLatencyOptions& options,
                               LowLatencyReport* report, std::string* error);

}  // namespace Host
