// Records from a capture endpoint's streaming pin as an audio application does: opens a pin at
// the rate asked for (24 valid bits in 4-byte containers), keeps a few read blocks queued, and
// gathers what they bring back. The simulated device's inputs play a known tone, so the recording
// can be checked sample for sample.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "HostMachine.h"
#include "Underrun.h"
#include "WavFile.h"

namespace Host {

// The device's input: a tone per channel (440 Hz, 660 Hz ... at -6 dBFS), 24-bit, a pure
// function of the sample's index at the device's rate.
int32_t InputTone(uint32_t channel, uint64_t index, uint32_t rate);

struct RecordReport
{
    uint64_t frames = 0;
    bool placed = false;      // the recording was found in the device's input
    uint64_t mismatches = 0;  // samples that differ from the device's input once placed
    // Where the client read too late: silence in the recording, or the device's input skipped
    // (frames lost); the frame is the recording's.
    std::vector<Underrun> underruns;
    std::vector<int32_t> peaks;
    // No sample changed other than by an underrun.
    bool BitExact() const { return placed && mismatches == 0; }
    bool Passed() const { return BitExact() && underruns.empty(); }
};

struct RecordOptions
{
    uint32_t rate = 48000;
    uint32_t milliseconds = 0;
    std::ostream* meterOut = nullptr;
    bool terminal = false;
};

// The recording, 24-bit at the rate asked for. False with a one-line reason.
bool Record(HostMachine& machine, const EndpointInfo& endpoint, const RecordOptions& options,
            WavAudio* recording, RecordReport* report, std::string* error);

// Finds the recording in the device's input tone and counts the samples that differ. Silence, or
// a jump ahead in the tone, is an underrun: the check finds the tone again and goes on from there.
void CheckAgainstTone(const WavAudio& recording, RecordReport* report);

}  // namespace Host
