#include "Underrun.h"

#include <cstdio>

namespace Host {
namespace {

constexpr size_t kListed = 20;

}  // namespace

void PrintUnderruns(std::ostream& out, const std::vector<Underrun>& underruns, uint32_t rate)
{
    for (size_t i = 0; i < underruns.size() && i < kListed; ++i) {
        const Underrun& u = underruns[i];
        char at[32];
        std::snprintf(at, sizeof at, "%.3f", rate != 0 ? static_cast<double>(u.frame) / rate : 0.0);
        out << "  underrun " << i + 1 << " at " << at << " s (frame " << u.frame
            << "): " << u.silence << " frames of silence, " << u.lost << " frames lost\n";
    }
    if (underruns.size() > kListed) {
        out << "  ... and " << underruns.size() - kListed << " more underrun(s)\n";
    }
}

}  // namespace Host
