// The line that moves while audio runs: time done against time in all, and a bar with the peak
// level of each channel. On a terminal it rewrites itself in place; otherwise it prints a line a
// second, so logs stay short.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Host {

// dBFS of a 24-bit peak; -inf as a large negative number for silence.
double PeakDbfs(int32_t peak24);
// "-6.0 dBFS" or "silent".
std::string PeakText(int32_t peak24);

class Meter
{
public:
    Meter(std::ostream& out, bool terminal, std::string label);
    // Shows the state at `doneMs` of `totalMs`, with the recent peaks; at most every 100 ms.
    void Update(uint64_t doneMs, uint64_t totalMs, const std::vector<int32_t>& peaks);
    // Ends the line.
    void Finish();

private:
    std::ostream& out_;
    bool terminal_;
    std::string label_;
    uint64_t lastShownMs_ = 0;
    bool shown_ = false;
    std::vector<int32_t> held_;  // peaks since the last line shown
};

}  // namespace Host
