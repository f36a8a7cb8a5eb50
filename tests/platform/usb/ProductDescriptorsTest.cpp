// The product's descriptor sets and the variants, read back through the device model.
#include <gtest/gtest.h>

#include <stdexcept>

#include "SimulatedUsbDevice.h"
#include "UsbDescriptorSet.h"

using namespace UsbSim;

namespace {

std::unique_ptr<SimulatedUsbDevice> Make(const ProductVariant& variant)
{
    std::string error;
    auto device = SimulatedUsbDevice::Create(BuildProductDescriptors(variant), &error);
    EXPECT_NE(device, nullptr) << error;
    return device;
}

const AlternateSettingModel& Setting(SimulatedUsbDevice& device, uint8_t interface, uint8_t alt)
{
    device.Control({0x00, 0x09, 1, 0, 0}, {});
    return device.ActiveConfiguration()->interfaces.at(interface).alternates.at(alt);
}

TEST(ProductDescriptors, DeviceDescriptorNamesTheProduct)
{
    for (const UsbDescriptorSet& set : {ProductUac2(), ProductUac1()}) {
        ASSERT_EQ(set.device.size(), 18u);
        EXPECT_EQ(set.device[8] | set.device[9] << 8, 0x2B7E);
        EXPECT_EQ(set.device[10] | set.device[11] << 8, 0x5C19);
        EXPECT_EQ(set.device[17], 1);
        ASSERT_EQ(set.configurations.size(), 1u);
        const auto& c = set.configurations[0];
        EXPECT_EQ(static_cast<size_t>(c[2] | c[3] << 8), c.size());
        EXPECT_EQ(c[4], 2) << "audio control and one streaming interface";
    }
    EXPECT_TRUE(ProductUac2().highSpeed);
    EXPECT_FALSE(ProductUac1().highSpeed);
}

struct FormatCase
{
    const char* name;
    ProductVariant variant;
    uint16_t maxPacket;
    std::vector<uint32_t> rates;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProductFormat : public testing::TestWithParam<FormatCase>
{
};

TEST_P(ProductFormat, StreamingSettingCarriesTheFormat)
{
    const FormatCase& c = GetParam();
    auto device = Make(c.variant);
    EXPECT_TRUE(Setting(*device, 1, 0).endpoints.empty())
        << "alternate setting 0 is zero-bandwidth";
    const AlternateSettingModel& streaming = Setting(*device, 1, 1);
    EXPECT_EQ(streaming.interfaceSubClass, 2);
    EXPECT_EQ(streaming.format.channels, c.variant.outChannels);
    EXPECT_EQ(streaming.format.subslotBytes, 3u);
    EXPECT_EQ(streaming.format.bitResolution, 24u);
    EXPECT_EQ(streaming.format.rates, c.rates);
    ASSERT_EQ(streaming.endpoints.size(), 1u);
    EXPECT_EQ(streaming.endpoints[0].address, 0x01);
    EXPECT_EQ(streaming.endpoints[0].attributes & 3, 1) << "isochronous";
    EXPECT_EQ(streaming.endpoints[0].maxPacketSize, c.maxPacket);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ProductFormat,
    testing::Values(
        // 96 kHz over 8000 microframes: 12 samples, one spare; 6 bytes per sample frame.
        FormatCase{"Uac2HighSpeed", {}, 13 * 6, {}},
        FormatCase{"Uac1FullSpeed", {.audioClass = 1}, 97 * 6, {44100, 48000, 96000}},
        FormatCase{"Uac2EightChannels", {.outChannels = 8}, 13 * 24, {}},
        FormatCase{"Uac1SingleRate", {.audioClass = 1, .rates = {48000}}, 49 * 6, {48000}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProductDescriptors, VariantsAddTheirEndpoints)
{
    for (int audioClass : {1, 2}) {
        auto device =
            Make({.audioClass = audioClass, .inChannels = 2, .feedback = true, .midi = true});
        device->Control({0x00, 0x09, 1, 0, 0}, {});
        const ConfigurationModel& c = *device->ActiveConfiguration();
        ASSERT_EQ(c.interfaces.size(), 4u);
        const auto& out = c.interfaces.at(1).alternates.at(1);
        ASSERT_EQ(out.endpoints.size(), 2u);
        EXPECT_EQ(out.endpoints[1].address, 0x81);
        EXPECT_EQ(out.endpoints[1].attributes & 0x33, 0x11) << "isochronous feedback";
        const auto& in = c.interfaces.at(2).alternates.at(1);
        ASSERT_EQ(in.endpoints.size(), 1u);
        EXPECT_EQ(in.endpoints[0].address, 0x82);
        EXPECT_EQ(in.format.channels, 2u);
        const auto& midi = c.interfaces.at(3).alternates.at(0);
        EXPECT_EQ(midi.interfaceSubClass, 3);
        ASSERT_EQ(midi.endpoints.size(), 2u);
        EXPECT_EQ(midi.endpoints[0].attributes & 3, 2) << "bulk";
        EXPECT_EQ(midi.endpoints[1].address, 0x83);
    }
}

// wMaxPacketSize holds the highest rate's largest packet and the room asked beyond it.
TEST(ProductDescriptors, PacketRoomSizesTheAudioEndpoints)
{
    struct Row
    {
        ProductVariant variant;
        uint16_t maxPacket;
    };
    const Row rows[] = {
        {{.audioClass = 1, .rates = {48000}, .packetRoom = 0}, 48 * 6},
        {{.audioClass = 1, .rates = {44100}, .packetRoom = 0}, 45 * 6},
        {{.audioClass = 1, .rates = {48000}, .packetRoom = -1}, 47 * 6},
        {{.audioClass = 1, .rates = {48000}, .packetRoom = 2}, 50 * 6},
        {{.audioClass = 2, .rates = {96000}, .packetRoom = 0}, 12 * 6},
        {{.audioClass = 2, .rates = {44100, 96000}}, 13 * 6},
    };
    for (const Row& row : rows) {
        auto device = Make(row.variant);
        ASSERT_NE(device, nullptr);
        const AlternateSettingModel& out = Setting(*device, 1, 1);
        ASSERT_FALSE(out.endpoints.empty());
        EXPECT_EQ(out.endpoints[0].maxPacketSize, row.maxPacket) << row.maxPacket;
    }
}

// Samples are carried as 32-bit words: a format whose subslot is wider cannot be simulated.
TEST(ProductDescriptors, ASubslotWiderThanFourBytesIsRefused)
{
    for (int audioClass : {1, 2}) {
        UsbDescriptorSet set = BuildProductDescriptors({.audioClass = audioClass});
        std::vector<uint8_t>& bytes = set.configurations[0];
        // The format type descriptor of the streaming interface: subtype 2, type I.
        size_t at = 0;
        bool streaming = false;
        for (; at < bytes.size(); at += bytes[at]) {
            if (bytes[at + 1] == 4) {
                streaming = bytes[at + 6] == 2;
            } else if (streaming && bytes[at + 1] == 0x24 && bytes[at + 2] == 2 &&
                       bytes[at + 3] == 1) {
                break;
            }
        }
        ASSERT_LT(at, bytes.size());
        const size_t subslot = at + (audioClass == 2 ? 4 : 5);
        for (uint8_t width : {5, 8, 255}) {
            bytes[subslot] = width;
            std::string error;
            EXPECT_EQ(SimulatedUsbDevice::Create(set, &error), nullptr) << int{width};
            EXPECT_NE(error.find("subslot"), std::string::npos) << error;
        }
        bytes[subslot] = 4;
        std::string error;
        EXPECT_NE(SimulatedUsbDevice::Create(set, &error), nullptr) << error;
    }
}

TEST(ProductDescriptors, RefusesVariantsItCannotDescribe)
{
    EXPECT_THROW(BuildProductDescriptors({.audioClass = 3}), std::invalid_argument);
    EXPECT_THROW(BuildProductDescriptors({.rates = {}}), std::invalid_argument);
    EXPECT_THROW(BuildProductDescriptors({.rates = {0x1000000}}), std::invalid_argument);
    EXPECT_THROW(BuildProductDescriptors({.subslotBytes = 2, .bitResolution = 24}),
                 std::invalid_argument);
    EXPECT_THROW(BuildProductDescriptors({.packetRoom = -2}), std::invalid_argument);
}

}  // namespace
