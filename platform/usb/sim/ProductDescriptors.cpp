// Descriptor bytes of the product and its variants. One code path for both audio classes: the
// per-class differences are the few descriptors whose layout the class defines.

#include <algorithm>
#include <stdexcept>

#include "UsbDescriptorSet.h"

namespace UsbSim {
namespace {

constexpr uint8_t kOutAudioEndpoint = 0x01;
constexpr uint8_t kFeedbackEndpoint = 0x81;
constexpr uint8_t kInAudioEndpoint = 0x82;
constexpr uint8_t kMidiOutEndpoint = 0x03;
constexpr uint8_t kMidiInEndpoint = 0x83;
constexpr uint8_t kClockSourceId = 0x29;

class ByteWriter
{
public:
    ByteWriter& Byte(uint32_t value)
    {
        bytes.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    ByteWriter& Word(uint32_t value) { return Byte(value).Byte(value >> 8); }
    ByteWriter& Triple(uint32_t value) { return Word(value).Byte(value >> 16); }
    ByteWriter& Dword(uint32_t value) { return Word(value).Word(value >> 16); }
    std::vector<uint8_t> bytes;
};

struct Streaming
{
    uint8_t interfaceNumber;
    bool isIn;
    uint8_t channels;
    uint8_t terminalLink;  // the USB streaming terminal the interface connects to
};

class ConfigurationWriter
{
public:
    ConfigurationWriter(const ProductVariant& variant, bool highSpeed)
        : v(variant), highSpeed(highSpeed)
    {
    }

    std::vector<uint8_t> Build()
    {
        uint8_t next = 1;
        if (v.outChannels != 0) {
            streams.push_back({next++, false, v.outChannels, 1});
        }
        if (v.inChannels != 0) {
            streams.push_back({next++, true, v.inChannels, 4});
        }
        const uint8_t midiInterface = v.midi ? next++ : 0;
        const uint8_t interfaceCount = next;

        ByteWriter& w = out;
        w.Byte(9).Byte(2).Word(0).Byte(interfaceCount).Byte(1).Byte(0).Byte(0x80).Byte(250);
        if (v.audioClass == 2) {
            // Interface association: all interfaces form one function.
            w.Byte(8).Byte(0x0B).Byte(0).Byte(interfaceCount).Byte(1).Byte(0).Byte(0x20).Byte(0);
        }
        AudioControl(interfaceCount);
        for (const Streaming& s : streams) {
            StreamingInterface(s);
        }
        if (v.midi) {
            MidiInterface(midiInterface);
        }
        out.bytes[2] = static_cast<uint8_t>(out.bytes.size());
        out.bytes[3] = static_cast<uint8_t>(out.bytes.size() >> 8);
        return std::move(out.bytes);
    }

private:
    uint8_t Protocol() const { return v.audioClass == 2 ? 0x20 : 0x00; }

    void Interface(uint8_t number, uint8_t alt, uint8_t endpoints, uint8_t subclass)
    {
        out.Byte(9).Byte(4).Byte(number).Byte(alt).Byte(endpoints).Byte(1).Byte(subclass);
        out.Byte(subclass == 3 ? 0 : Protocol()).Byte(0);
    }

    void AudioControl(uint8_t interfaceCount)
    {
        Interface(0, 0, 0, 1);
        ByteWriter units;
        // Terminals: 1 USB streaming in -> 2 line out; 3 line in -> 4 USB streaming out.
        for (const Streaming& s : streams) {
            const uint8_t inputId = s.isIn ? 3 : 1;
            const uint16_t inputType = s.isIn ? 0x0603 : 0x0101;
            const uint16_t outputType = s.isIn ? 0x0101 : 0x0603;
            if (v.audioClass == 2) {
                units.Byte(17).Byte(0x24).Byte(2).Byte(inputId).Word(inputType).Byte(0);
                units.Byte(kClockSourceId).Byte(s.channels).Dword(0).Byte(0).Word(0).Byte(0);
                units.Byte(12).Byte(0x24).Byte(3).Byte(inputId + 1).Word(outputType).Byte(0);
                units.Byte(inputId).Byte(kClockSourceId).Word(0).Byte(0);
            } else {
                units.Byte(12).Byte(0x24).Byte(2).Byte(inputId).Word(inputType).Byte(0);
                units.Byte(s.channels).Word(0).Byte(0).Byte(0);
                units.Byte(9).Byte(0x24).Byte(3).Byte(inputId + 1).Word(outputType).Byte(0);
                units.Byte(inputId).Byte(0);
            }
        }
        if (v.audioClass == 2) {
            const size_t total = 9 + 8 + units.bytes.size();
            out.Byte(9).Byte(0x24).Byte(1).Word(0x0200).Byte(0x08).Word(total).Byte(0);
            // Internal programmable clock with frequency control read/write.
            out.Byte(8).Byte(0x24).Byte(0x0A).Byte(kClockSourceId).Byte(3).Byte(7).Byte(0).Byte(0);
        } else {
            std::vector<uint8_t> members;
            for (uint8_t i = 1; i < interfaceCount; ++i) {
                members.push_back(i);
            }
            const size_t headerLength = 8 + members.size();
            out.Byte(headerLength).Byte(0x24).Byte(1).Word(0x0100);
            out.Word(headerLength + units.bytes.size()).Byte(members.size());
            for (uint8_t member : members) {
                out.Byte(member);
            }
        }
        out.bytes.insert(out.bytes.end(), units.bytes.begin(), units.bytes.end());
    }

    uint16_t MaxPacketSize(uint8_t channels, bool isIn) const
    {
        const uint32_t highest = *std::max_element(v.rates.begin(), v.rates.end());
        const uint32_t packetsPerSecond = highSpeed ? 8000 : 1000;
        const int32_t samples =
            static_cast<int32_t>((highest + packetsPerSecond - 1) / packetsPerSecond) +
            (isIn ? v.inPacketRoom.value_or(v.packetRoom) : v.packetRoom);
        return static_cast<uint16_t>(static_cast<uint32_t>(samples) * channels * v.subslotBytes);
    }

    void Endpoint(uint8_t address, uint8_t attributes, uint16_t maxPacket, uint8_t interval,
                  uint8_t syncAddress)
    {
        if (v.audioClass == 2) {
            out.Byte(7).Byte(5).Byte(address).Byte(attributes).Word(maxPacket).Byte(interval);
        } else {
            out.Byte(9).Byte(5).Byte(address).Byte(attributes).Word(maxPacket).Byte(interval);
            out.Byte((attributes & 0x30) == 0x10 ? 1 : 0).Byte(syncAddress);
        }
    }

    void StreamingInterface(const Streaming& s)
    {
        const bool withFeedback = v.feedback && !s.isIn;
        Interface(s.interfaceNumber, 0, 0, 2);
        Interface(s.interfaceNumber, 1, withFeedback ? 2 : 1, 2);
        if (v.audioClass == 2) {
            out.Byte(16).Byte(0x24).Byte(1).Byte(s.terminalLink).Byte(0).Byte(1).Dword(1);
            out.Byte(s.channels).Dword(0).Byte(0);
            out.Byte(6).Byte(0x24).Byte(2).Byte(1).Byte(v.subslotBytes).Byte(v.bitResolution);
        } else {
            out.Byte(7).Byte(0x24).Byte(1).Byte(s.terminalLink).Byte(1).Word(0x0001);
            out.Byte(8 + 3 * v.rates.size()).Byte(0x24).Byte(2).Byte(1).Byte(s.channels);
            out.Byte(v.subslotBytes).Byte(v.bitResolution).Byte(v.rates.size());
            for (uint32_t rate : v.rates) {
                out.Triple(rate);
            }
        }
        // Asynchronous with a feedback endpoint, else adaptive (OUT) or asynchronous (IN).
        const uint8_t sync = s.isIn || withFeedback ? 0x05 : 0x09;
        const uint8_t address = s.isIn ? kInAudioEndpoint : kOutAudioEndpoint;
        Endpoint(address, sync, MaxPacketSize(s.channels, s.isIn), 1,
                 withFeedback ? kFeedbackEndpoint : 0);
        // Class-specific endpoint: sampling frequency control when there is a rate to choose.
        const uint8_t controls = v.audioClass == 1 && v.rates.size() > 1 ? 0x01 : 0x00;
        if (v.audioClass == 2) {
            out.Byte(8).Byte(0x25).Byte(1).Byte(0).Byte(0).Byte(0).Word(0);
        } else {
            out.Byte(7).Byte(0x25).Byte(1).Byte(controls).Byte(0).Word(0);
        }
        if (withFeedback) {
            Endpoint(kFeedbackEndpoint, 0x11, highSpeed ? 4 : 3, highSpeed ? 4 : 1, 0);
        }
    }

    // Cables 1..n each way: embedded IN jack 2c-1 -> external OUT jack 2c for the host's output,
    // external IN jack 2n+2c-1 -> embedded OUT jack 2n+2c for its input. Cable c of each endpoint
    // is its c-th embedded jack.
    void MidiInterface(uint8_t number)
    {
        const uint8_t cables = std::clamp<uint8_t>(v.midiCables, 1, 16);
        Interface(number, 0, 2, 3);
        ByteWriter jacks;
        for (uint8_t c = 1; c <= cables; ++c) {
            const uint8_t embeddedIn = static_cast<uint8_t>(2 * c - 1);
            jacks.Byte(6).Byte(0x24).Byte(2).Byte(1).Byte(embeddedIn).Byte(0);
            jacks.Byte(9).Byte(0x24).Byte(3).Byte(2).Byte(embeddedIn + 1).Byte(1);
            jacks.Byte(embeddedIn).Byte(1).Byte(0);
        }
        for (uint8_t c = 1; c <= cables; ++c) {
            const uint8_t externalIn = static_cast<uint8_t>(2 * cables + 2 * c - 1);
            jacks.Byte(6).Byte(0x24).Byte(2).Byte(2).Byte(externalIn).Byte(0);
            jacks.Byte(9).Byte(0x24).Byte(3).Byte(1).Byte(externalIn + 1).Byte(1);
            jacks.Byte(externalIn).Byte(1).Byte(0);
        }
        out.Byte(7).Byte(0x24).Byte(1).Word(0x0100).Word(7 + jacks.bytes.size());
        out.bytes.insert(out.bytes.end(), jacks.bytes.begin(), jacks.bytes.end());
        const uint16_t bulkSize = v.midiPacketSize >= 0 ? static_cast<uint16_t>(v.midiPacketSize)
                                                        : (highSpeed ? 512 : 64);
        out.Byte(9).Byte(5).Byte(kMidiOutEndpoint).Byte(2).Word(bulkSize).Byte(0).Byte(0).Byte(0);
        out.Byte(4 + cables).Byte(0x25).Byte(1).Byte(cables);
        for (uint8_t c = 1; c <= cables; ++c) {
            out.Byte(2 * c - 1);
        }
        out.Byte(9).Byte(5).Byte(kMidiInEndpoint).Byte(2).Word(bulkSize).Byte(0).Byte(0).Byte(0);
        out.Byte(4 + cables).Byte(0x25).Byte(1).Byte(cables);
        for (uint8_t c = 1; c <= cables; ++c) {
            out.Byte(2 * cables + 2 * c);
        }
    }

    const ProductVariant& v;
    bool highSpeed;
    std::vector<Streaming> streams;
    ByteWriter out;
};

void Validate(const ProductVariant& v)
{
    if (v.audioClass != 1 && v.audioClass != 2) {
        throw std::invalid_argument("audio class must be 1 or 2");
    }
    if (v.rates.empty() || v.rates.size() > 31) {
        throw std::invalid_argument("a variant lists 1 to 31 rates");
    }
    for (uint32_t rate : v.rates) {
        if (rate == 0 || rate > 0xFFFFFF) {
            throw std::invalid_argument("rates are 24-bit and nonzero");
        }
    }
    if (v.subslotBytes < 1 || v.subslotBytes > 4 || v.bitResolution == 0 ||
        v.bitResolution > 8 * v.subslotBytes) {
        throw std::invalid_argument("sample size out of range");
    }
    if (v.packetRoom < -1 || v.packetRoom > 8 || v.inPacketRoom.value_or(0) < -1 ||
        v.inPacketRoom.value_or(0) > 8) {
        throw std::invalid_argument("packet room is -1 to 8 samples");
    }
    if (v.configurationCount == 0 || v.outChannels > 32 || v.inChannels > 32) {
        throw std::invalid_argument("bad configuration or channel count");
    }
}

}  // namespace

UsbDescriptorSet BuildProductDescriptors(const ProductVariant& variant)
{
    Validate(variant);
    UsbDescriptorSet set;
    set.highSpeed = variant.audioClass == 2;
    ByteWriter device;
    const bool association = variant.audioClass == 2;
    device.Byte(18).Byte(1).Word(set.highSpeed ? 0x0200 : 0x0110);
    device.Byte(association ? 0xEF : 0).Byte(association ? 2 : 0).Byte(association ? 1 : 0);
    device.Byte(64).Word(kProductVendorId).Word(kProductProductId).Word(0x0104);
    device.Byte(1).Byte(2).Byte(3).Byte(variant.configurationCount);
    set.device = std::move(device.bytes);
    for (uint8_t i = 0; i < variant.configurationCount; ++i) {
        std::vector<uint8_t> configuration = ConfigurationWriter(variant, set.highSpeed).Build();
        configuration[5] = static_cast<uint8_t>(i + 1);  // bConfigurationValue
        set.configurations.push_back(std::move(configuration));
    }
    set.clockRates = variant.rates;
    set.strings[1] = u"Corvane";
    set.strings[2] = u"Quorvel";
    set.strings[3] = u"QV0000417";
    return set;
}

}  // namespace UsbSim
