#include "WavFile.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace Host {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr size_t kChunkHeader = 8;
constexpr size_t kPlainFmtBytes = 16;
constexpr size_t kExtensibleFmtBytes = 40;
constexpr uint16_t kMaxChannels = 64;
// The PCM sub-format's GUID after its first two bytes (which repeat the tag, 1).
constexpr uint8_t kPcmSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string ChunkName(const uint8_t* id)
{
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>(id[i]);
        name += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return "'" + name + "'";
}

bool Fail(std::string* error, std::string text)
{
    *error = std::move(text);
    return false;
}

bool ParseFormat(std::span<const uint8_t> chunk, WavAudio* audio, std::string* error)
{
    if (chunk.size() < kPlainFmtBytes) {
        return Fail(error, "the fmt chunk holds " + std::to_string(chunk.size()) +
                               " bytes, fewer than the 16 of a PCM format");
    }
    const uint8_t* p = chunk.data();
    const uint16_t tag = Get16(p);
    const uint16_t channels = Get16(p + 2);
    const uint32_t rate = Get32(p + 4);
    const uint32_t byteRate = Get32(p + 8);
    const uint16_t blockAlign = Get16(p + 12);
    const uint16_t bits = Get16(p + 14);
    uint16_t validBits = bits;
    if (tag == kTagExtensible) {
        if (chunk.size() < kExtensibleFmtBytes || Get16(p + 16) < 22) {
            return Fail(error, "the extensible fmt chunk is too short for its extension");
        }
        validBits = Get16(p + 18);
        if (Get16(p + 24) != kTagPcm || std::memcmp(p + 26, kPcmSubFormatTail, 14) != 0) {
            return Fail(error,
                        "the extensible format's sub-format is not PCM: the device "
                        "carries PCM only");
        }
    } else if (tag == kTagFloat) {
        return Fail(error, "the samples are IEEE float: the device carries PCM only");
    } else if (tag != kTagPcm) {
        return Fail(error, "format tag " + std::to_string(tag) +
                               " is not PCM: the device "
                               "carries PCM only");
    }
    if (bits != 16 && bits != 24 && bits != 32) {
        return Fail(error, std::to_string(bits) + "-bit samples: the device takes 16, 24 or 32");
    }
    if (validBits < 8 || validBits > bits) {
        return Fail(error, std::to_string(validBits) + " valid bits in a " + std::to_string(bits) +
                               "-bit container");
    }
    if (channels == 0 || channels > kMaxChannels) {
        return Fail(error, std::to_string(channels) + " channels");
    }
    if (rate == 0) {
        return Fail(error, "a sample rate of 0 Hz");
    }
    if (blockAlign != channels * (bits / 8)) {
        return Fail(error, "block align " + std::to_string(blockAlign) + " does not match " +
                               std::to_string(channels) + " channels of " + std::to_string(bits) +
                               " bits");
    }
    if (byteRate != static_cast<uint64_t>(rate) * blockAlign) {
        return Fail(error, "byte rate " + std::to_string(byteRate) + " does not match " +
                               std::to_string(rate) + " Hz x " + std::to_string(blockAlign) +
                               " bytes");
    }
    audio->channels = channels;
    audio->rate = rate;
    audio->containerBits = bits;
    audio->validBits = validBits;
    return true;
}

int32_t ReadSample(const uint8_t* p, uint16_t bits)
{
    if (bits == 16) {
        return static_cast<int16_t>(Get16(p));
    }
    if (bits == 24) {
        // Three bytes, placed in the top of a 32-bit value and shifted back down.
        const uint32_t raw = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                             static_cast<uint32_t>(p[2]) << 24;
        return static_cast<int32_t>(raw) >> 8;
    }
    return static_cast<int32_t>(Get32(p));
}

bool ParseData(std::span<const uint8_t> chunk, WavAudio* audio, std::string* error)
{
    const size_t block = static_cast<size_t>(audio->channels) * (audio->containerBits / 8);
    if (chunk.size() % block != 0) {
        return Fail(error, "the data chunk's " + std::to_string(chunk.size()) +
                               " bytes are not whole frames of " + std::to_string(block) +
                               " bytes");
    }
    const size_t bytesPerSample = audio->containerBits / 8;
    const size_t count = chunk.size() / bytesPerSample;
    audio->samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        audio->samples[i] = ReadSample(chunk.data() + i * bytesPerSample, audio->containerBits);
    }
    return true;
}

}  // namespace

bool ParseWav(std::span<const uint8_t> bytes, WavAudio* audio, std::string* error)
{
    *audio = WavAudio{};
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return Fail(error, "not a WAV file (no RIFF/WAVE header)");
    }
    const uint64_t riffSize = Get32(bytes.data() + 4);
    if (riffSize < 4 || riffSize + 8 > bytes.size()) {
        return Fail(error, "truncated: the RIFF chunk says " + std::to_string(riffSize + 8) +
                               " bytes, the file has " + std::to_string(bytes.size()));
    }
    const std::span<const uint8_t> riff = bytes.subspan(0, static_cast<size_t>(riffSize) + 8);
    bool haveFormat = false;
    bool haveData = false;
    size_t offset = 12;
    while (offset + kChunkHeader <= riff.size()) {
        const uint8_t* header = riff.data() + offset;
        const uint64_t size = Get32(header + 4);
        const size_t body = offset + kChunkHeader;
        if (size > riff.size() - body) {
            return Fail(error, "truncated: chunk " + ChunkName(header) + " says " +
                                   std::to_string(size) + " bytes, " +
                                   std::to_string(riff.size() - body) + " remain");
        }
        const std::span<const uint8_t> chunk = riff.subspan(body, static_cast<size_t>(size));
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (haveFormat) {
                return Fail(error, "two fmt chunks");
            }
            if (!ParseFormat(chunk, audio, error)) {
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) {
                return Fail(error, "the data chunk comes before any fmt chunk");
            }
            if (haveData) {
                return Fail(error, "two data chunks");
            }
            if (!ParseData(chunk, audio, error)) {
                return false;
            }
            haveData = true;
        }
        offset = body + static_cast<size_t>(size) + (size & 1);  // chunks are padded to even
    }
    if (offset < riff.size() && offset + kChunkHeader > riff.size()) {
        return Fail(error,
                    "truncated: a chunk header is cut short at byte " + std::to_string(offset));
    }
    if (!haveFormat) {
        return Fail(error, "no fmt chunk");
    }
    if (!haveData) {
        return Fail(error, "no data chunk");
    }
    return true;
}

bool ReadWavFile(const std::string& path, WavAudio* audio, std::string* error)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return Fail(error, path + ": is a folder, not a WAV file");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Fail(error, path + ": cannot open the file");
    }
    std::vector<uint8_t> bytes;
    // The stream buffer throws when the system refuses a read, whatever the stream's mask.
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return Fail(error, path + ": cannot read the file");
    }
    if (file.bad()) {
        return Fail(error, path + ": cannot read the file");
    }
    if (!ParseWav(bytes, audio, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

std::vector<uint8_t> WavBytes(const WavAudio& audio)
{
    const bool extensible = audio.validBits != audio.containerBits;
    const uint32_t bytesPerSample = audio.containerBits / 8u;
    const uint32_t blockAlign = audio.channels * bytesPerSample;
    const auto dataBytes = static_cast<uint32_t>(audio.samples.size() * bytesPerSample);
    const uint32_t fmtBytes = extensible ? kExtensibleFmtBytes : kPlainFmtBytes;
    std::vector<uint8_t> out;
    out.reserve(dataBytes + 80);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, 4 + kChunkHeader + fmtBytes + kChunkHeader + dataBytes + (dataBytes & 1));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, fmtBytes);
    Put16(out, extensible ? kTagExtensible : kTagPcm);
    Put16(out, audio.channels);
    Put32(out, audio.rate);
    Put32(out, audio.rate * blockAlign);
    Put16(out, blockAlign);
    Put16(out, audio.containerBits);
    if (extensible) {
        Put16(out, 22);
        Put16(out, audio.validBits);
        Put32(out, 0);  // no speaker positions
        Put16(out, kTagPcm);
        out.insert(out.end(), std::begin(kPcmSubFormatTail), std::end(kPcmSubFormatTail));
    }
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, dataBytes);
    for (const int32_t sample : audio.samples) {
        const auto v = static_cast<uint32_t>(sample);
        for (uint32_t b = 0; b < bytesPerSample; ++b) {
            out.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
    }
    if ((dataBytes & 1) != 0) {
        out.push_back(0);
    }
    return out;
}

bool WriteWavFile(const std::string& path, const WavAudio& audio, std::string* error)
{
    const std::vector<uint8_t> bytes = WavBytes(audio);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return Fail(error, path + ": cannot create the file");
    }
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
        return Fail(error, path + ": cannot write the file");
    }
    return true;
}

}  // namespace Host
