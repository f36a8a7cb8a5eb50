// The host's WAV reader: any bytes are a file it was given. A file it takes must hold whole
// frames of a format it can carry, and write back to bytes it takes again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Host::WavAudio audio;
    std::string error;
    if (!Host::ParseWav({data, size}, &audio, &error)) {
        if (error.empty() || error.find('\n') != std::string::npos) {
            abort();
        }
        return 0;
    }
    const bool carried =
        audio.containerBits == 16 || audio.containerBits == 24 || audio.containerBits == 32;
    if (!carried || audio.channels == 0 || audio.samples.size() % audio.channels != 0 ||
        audio.validBits > audio.containerBits) {
        abort();
    }
    Host::WavAudio again;
    if (!Host::ParseWav(Host::WavBytes(audio), &again, &error) || again.samples != audio.samples ||
        again.rate != audio.rate || again.channels != audio.channels) {
        abort();
    }
    return 0;
}
