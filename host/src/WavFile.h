// PCM WAV files as the host reads and writes them. The reader takes outside data: every chunk
// size, count and format field is checked against the bytes there are, and a file the host can't
// use gets a one-line reason instead of a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Host {

struct WavAudio
{
    uint16_t channels = 0;
    uint32_t rate = 0;             // Hz
    uint16_t containerBits = 0;    // 16, 24 or 32 bits per sample in the file
    uint16_t validBits = 0;        // bits that carry the sample (the container's unless extensible)
    std::vector<int32_t> samples;  // interleaved; each the container's value, sign-extended

    size_t Frames() const { return channels != 0 ? samples.size() / channels : 0; }
};

// Parses a whole WAV image. False with the reason in *error (one line, no trailing newline).
bool ParseWav(std::span<const uint8_t> bytes, WavAudio* audio, std::string* error);
// Reads and parses the file; the reason names the file.
bool ReadWavFile(const std::string& path, WavAudio* audio, std::string* error);

// A WAV image of the audio: tag 1 (PCM) when the valid bits fill the container, else
// WAVE_FORMAT_EXTENSIBLE with the valid bits.
std::vector<uint8_t> WavBytes(const WavAudio& audio);
bool WriteWavFile(const std::string& path, const WavAudio& audio, std::string* error);

}  // namespace Host
