// An underrun as the checks report it: the device played silence where the client's audio was
// due because it came late, and the audio then went on, from where it stopped (nothing lost) or
// from further on (the frames in between never reached the device).
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace Host {

struct Underrun
{
    uint64_t frame = 0;    // of the audio: the first one not heard in its place
    uint64_t silence = 0;  // frames of silence the device played
    uint64_t lost = 0;     // frames of the audio never heard
};

// "  underrun 1 at 1.130 s (frame 54240): 480 frames of silence, 480 frames lost", one line each
// (the first few, then how many more).
void PrintUnderruns(std::ostream& out, const std::vector<Underrun>& underruns, uint32_t rate);

}  // namespace Host
