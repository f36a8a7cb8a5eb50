#include "Meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Host {
namespace {

constexpr double kFullScale24 = 8388608.0;
constexpr int kBarCells = 20;
constexpr double kBarFloorDb = -60.0;

std::string Bar(int32_t peak)
{
    const double db = PeakDbfs(peak);
    const int cells = db <= kBarFloorDb
                          ? 0
                          : static_cast<int>((db - kBarFloorDb) / -kBarFloorDb * kBarCells + 0.5);
    std::string bar(static_cast<size_t>(std::clamp(cells, 0, kBarCells)), '#');
    bar.resize(kBarCells, '.');
    return bar;
}

}  // namespace

double PeakDbfs(int32_t peak24)
{
    return peak24 <= 0 ? -200.0 : 20.0 * std::log10(peak24 / kFullScale24);
}

std::string PeakText(int32_t peak24)
{
    if (peak24 <= 0) {
        return "silent";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", PeakDbfs(peak24));
    return text;
}

Meter::Meter(std::ostream& out, bool terminal, std::string label)
    : out_(out), terminal_(terminal), label_(std::move(label))
{
}

void Meter::Update(uint64_t doneMs, uint64_t totalMs, const std::vector<int32_t>& peaks)
{
    held_.resize(std::max(held_.size(), peaks.size()), 0);
    for (size_t c = 0; c < peaks.size(); ++c) {
        held_[c] = std::max(held_[c], peaks[c]);
    }
    const uint64_t every = terminal_ ? 100 : 1000;
    const bool reachedEnd = doneMs >= totalMs && lastShownMs_ < totalMs;
    if (shown_ && doneMs < lastShownMs_ + every && !reachedEnd) {
        return;
    }
    char time[48];
    std::snprintf(time, sizeof time, "%5.1f s / %.1f s", doneMs / 1000.0, totalMs / 1000.0);
    std::string line = "  " + label_ + " " + time;
    for (size_t c = 0; c < held_.size(); ++c) {
        line += "  " + std::to_string(c + 1) + " [" + Bar(held_[c]) + "]";
    }
    out_ << (terminal_ ? "\r" : "") << line << (terminal_ ? "" : "\n") << std::flush;
    std::fill(held_.begin(), held_.end(), 0);
    lastShownMs_ = doneMs;
    shown_ = true;
}

void Meter::Finish()
{
    if (terminal_ && shown_) {
        out_ << "\n";
    }
    shown_ = false;
}

}  // namespace Host
