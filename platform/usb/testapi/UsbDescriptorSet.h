#pragma once
// The descriptors a simulated device answers with, and the builder of the product's descriptor
// sets (USB Audio Class 2 at high speed, Class 1 at full speed) and of the variants that exercise
// the driver's other paths.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace UsbSim {

struct UsbDescriptorSet
{
    std::vector<uint8_t> device;                       // 18 bytes
    std::vector<std::vector<uint8_t>> configurations;  // whole, wTotalLength bytes each
    std::map<uint8_t, std::u16string> strings;         // by string index; 0 is not listed here
    bool highSpeed = false;                            // the speed the device enumerates at
    std::vector<uint32_t> clockRates;  // Hz; what a class 2 clock source accepts (its RANGE)
};

// What a variant of the product carries. The product itself is the default: two line outputs,
// no inputs, no feedback endpoint, no MIDI.
struct ProductVariant
{
    int audioClass = 2;        // 1 or 2; class 2 enumerates at high speed, class 1 at full speed
    uint8_t outChannels = 2;   // channels of the OUT streaming interface; 0 = none
    uint8_t inChannels = 0;    // channels of the IN streaming interface; 0 = none
    bool feedback = false;     // the OUT streaming setting has an explicit feedback endpoint
    bool midi = false;         // a USB-MIDI streaming interface with a bulk IN and OUT endpoint
    uint8_t midiCables = 1;    // its cables (embedded jacks) on each endpoint, 1 to 16
    int midiPacketSize = -1;   // wMaxPacketSize of both MIDI endpoints; -1: 512 at high speed,
                               // else 64
    uint8_t subslotBytes = 3;  // bytes per sample
    uint8_t bitResolution = 24;
    std::vector<uint32_t> rates{44100, 48000, 96000};  // Hz; class 1 lists them discretely
    uint8_t configurationCount = 1;                    // further configurations repeat the first
    // Samples a packet holds beyond what the highest rate needs at the most (the rate's samples
    // per packet, rounded up); 0 fits the packets exactly, below 0 they are too small for it.
    int packetRoom = 1;
    // The IN endpoint's room when it differs from the OUT endpoint's (-1 to 8; unset: packetRoom).
    std::optional<int> inPacketRoom = std::nullopt;
};

UsbDescriptorSet BuildProductDescriptors(const ProductVariant& variant);

inline UsbDescriptorSet ProductUac2()
{
    return BuildProductDescriptors({});
}
inline UsbDescriptorSet ProductUac1()
{
    return BuildProductDescriptors({.audioClass = 1});
}

inline constexpr uint16_t kProductVendorId = 0x2B7E;
inline constexpr uint16_t kProductProductId = 0x5C19;

}  // namespace UsbSim
