// Plays PCM through a render endpoint's streaming pin as an audio application does: opens the
// filter and a pin with the audio's format, runs it, keeps a few blocks queued, collects them as
// they complete, and checks what the simulated device received against what was played.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "HostMachine.h"
#include "Underrun.h"
#include "WavFile.h"

namespace Host {

struct PlayReport
{
    uint64_t framesPlayed = 0;    // frames the pin took
    uint64_t framesReceived = 0;  // frames of the audio the device received, in place
    uint64_t mismatches = 0;      // samples that differ from the played ones
    uint64_t extra = 0;           // frames not silent after the audio's end
    std::string firstMismatch;
    std::vector<Underrun> underruns;  // silences where the audio came late
    std::vector<int32_t> peaks;       // per channel, 24-bit
    WavAudio received;                // what the device received, when asked for

    // Samples changed other than by an underrun's silence.
    bool Altered() const { return mismatches != 0 || extra != 0; }
    bool Passed() const
    {
        return underruns.empty() && !Altered() && framesReceived == framesPlayed;
    }
};

struct PlayOptions
{
    bool keepReceived = false;
    std::ostream* meterOut = nullptr;  // null: no meter
    bool terminal = false;
    // A test's stand-in for a client the machine held up: once the frames submitted reach
    // holdAtFrame the player submits nothing more for holdFor (0: never).
    uint64_t holdAtFrame = 0;
    std::chrono::milliseconds holdFor{0};
};

// False with a one-line reason when the audio cannot be played (format refused, stream failed).
bool Play(HostMachine& machine, const EndpointInfo& endpoint, const WavAudio& audio,
          const PlayOptions& options, PlayReport* report, std::string* error);

// The value the device's 24-bit subslot carries for a sample of the audio.
int32_t DeviceValue(const WavAudio& audio, int32_t sample);

// The demonstration's signal: 24-bit stereo, 440 Hz at -6 dBFS left, 660 Hz at -12 dBFS right.
WavAudio TestSignal(uint32_t rate, uint32_t milliseconds);

}  // namespace Host
