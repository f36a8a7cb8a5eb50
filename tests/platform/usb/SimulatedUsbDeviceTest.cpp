// The simulated device as the bus drives it: standard and class requests, isochronous and bulk
// data, its strictness and the faults a test injects.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "SimulatedUsbDevice.h"
#include "UsbDescriptorSet.h"

using namespace UsbSim;

namespace {

constexpr SetupPacket kSetConfiguration1{0x00, 0x09, 1, 0, 0};
constexpr SetupPacket kStreamingOn{0x01, 0x0B, 1, 1, 0};

class DeviceTest : public testing::Test
{
protected:
    void Build(const ProductVariant& variant)
    {
        std::string error;
        device = SimulatedUsbDevice::Create(BuildProductDescriptors(variant), &error);
        ASSERT_NE(device, nullptr) << error;
    }
    Result Request(SetupPacket setup, std::vector<uint8_t>& data)
    {
        data.resize(setup.wLength);
        return device->Control(setup, data);
    }
    Result Request(SetupPacket setup)
    {
        std::vector<uint8_t> data;
        return Request(setup, data);
    }
    Result SetRate(uint8_t endpoint, uint32_t rate)
    {
        std::vector<uint8_t> data{uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16)};
        return device->Control({0x22, 0x01, 0x0100, endpoint, 3}, data);
    }
    void Stream()
    {
        ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
        ASSERT_EQ(Request(kStreamingOn).outcome, Outcome::Ok);
    }
    std::unique_ptr<SimulatedUsbDevice> device;
};

TEST_F(DeviceTest, AnswersDescriptorsAndStrings)
{
    Build({});
    std::vector<uint8_t> data;
    Result r = Request({0x80, 0x06, 0x0100, 0, 18}, data);
    EXPECT_EQ(r.length, 18u);
    EXPECT_EQ(data, device->Descriptors().device);
    r = Request({0x80, 0x06, 0x0200, 0, 9}, data);
    EXPECT_EQ(r.length, 9u) << "a short read gives the head of the configuration";
    r = Request({0x80, 0x06, 0x0302, 0x0409, 255}, data);
    ASSERT_EQ(r.length, 16u);
    EXPECT_EQ(data[0], 16);
    EXPECT_EQ(data[2], 'Q');
    EXPECT_EQ(Request({0x80, 0x06, 0x0302, 0x0407, 255}).outcome, Outcome::Stall)
        << "only US English";
    EXPECT_EQ(Request({0x80, 0x06, 0x0201, 0, 9}).outcome, Outcome::Stall) << "one configuration";
}

TEST_F(DeviceTest, InterfacesSwitchOnlyWhenConfigured)
{
    Build({});
    EXPECT_EQ(Request(kStreamingOn).outcome, Outcome::Stall);
    EXPECT_EQ(Request({0x00, 0x09, 2, 0, 0}).outcome, Outcome::Stall);
    ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    EXPECT_EQ(Request({0x01, 0x0B, 2, 1, 0}).outcome, Outcome::Stall) << "no alternate setting 2";
    EXPECT_EQ(device->ActiveEndpoint(0x01), nullptr);
    ASSERT_EQ(Request(kStreamingOn).outcome, Outcome::Ok);
    ASSERT_NE(device->ActiveEndpoint(0x01), nullptr);
    ASSERT_EQ(Request({0x00, 0x09, 0, 0, 0}).outcome, Outcome::Ok);
    EXPECT_EQ(device->ActiveEndpoint(0x01), nullptr) << "unconfigured";
}

TEST_F(DeviceTest, RecordsOutSamplesBitExact)
{
    Build({});
    Stream();
    // Two sample frames: (0x7FFFFF, -1) and (-0x800000, 0x123456).
    const std::vector<uint8_t> packet{0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF,
                                      0x00, 0x00, 0x80, 0x56, 0x34, 0x12};
    ASSERT_EQ(device->IsoOut(0x01, 77, 3, packet).outcome, Outcome::Ok);
    ASSERT_EQ(device->IsoOut(0x01, 78, 0, std::span(packet).first(6)).outcome, Outcome::Ok);
    const UsbSim::OutSampleArray frames = device->OutSamples(0x01);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames.channels, 2u);
    EXPECT_EQ(frames.frames, (std::vector<uint32_t>{77, 77, 78}));
    EXPECT_EQ(frames.samples,
              (std::vector<int32_t>{0x7FFFFF, -1, -0x800000, 0x123456, 0x7FFFFF, -1}));
    EXPECT_EQ(frames.Sample(1, 1), 0x123456);
    EXPECT_EQ(frames.Frame(2)[0], 0x7FFFFF);
    EXPECT_TRUE(device->Violations().empty());
}

// The product at full speed with a second alternate setting on the OUT streaming interface: the
// same endpoint, 16-bit samples in 2-byte subslots.
UsbDescriptorSet WithASixteenBitSetting()
{
    UsbDescriptorSet set = ProductUac1();
    std::vector<uint8_t>& bytes = set.configurations[0];
    size_t begin = 0;
    size_t end = 0;
    for (size_t at = bytes[0]; at + 1 < bytes.size(); at += bytes[at]) {
        const bool interface = bytes[at + 1] == 4;
        if (begin != 0 && interface) {
            end = at;
            break;
        }
        if (interface && bytes[at + 2] == 1 && bytes[at + 3] == 1) {
            begin = at;
        }
    }
    end = end != 0 ? end : bytes.size();
    std::vector<uint8_t> second(bytes.begin() + static_cast<ptrdiff_t>(begin),
                                bytes.begin() + static_cast<ptrdiff_t>(end));
    second[3] = 2;
    for (size_t at = 0; at + 6 < second.size(); at += second[at]) {
        if (second[at + 1] == 0x24 && second[at + 2] == 2) {  // format type I
            second[at + 5] = 2;
            second[at + 6] = 16;
        }
    }
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(end), second.begin(), second.end());
    bytes[2] = static_cast<uint8_t>(bytes.size());
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    return set;
}

// Two settings carry the OUT endpoint with different formats: the packets are read with the
// format of the setting selected when they came, whichever was described last; and packets of
// both, not cleared between, are not read as one array.
TEST_F(DeviceTest, OutSamplesAreReadWithTheSelectedSettingsFormat)
{
    std::string error;
    device = SimulatedUsbDevice::Create(WithASixteenBitSetting(), &error);
    ASSERT_NE(device, nullptr) << error;
    ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    // (0x7FFFFF, -1) and (-0x800000, 0x123456) in 3 bytes; (0x1234, -2) and (-0x8000, 0x7FFF) in 2.
    const std::vector<uint8_t> wide{0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF,
                                    0x00, 0x00, 0x80, 0x56, 0x34, 0x12};
    const std::vector<uint8_t> narrow{0x34, 0x12, 0xFE, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    struct Step
    {
        uint16_t setting;
        const std::vector<uint8_t>& packet;
        std::vector<int32_t> samples;
    };
    const Step steps[] = {
        {1, wide, {0x7FFFFF, -1, -0x800000, 0x123456}},
        {2, narrow, {0x1234, -2, -0x8000, 0x7FFF}},
        {1, wide, {0x7FFFFF, -1, -0x800000, 0x123456}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.setting);
        ASSERT_EQ(Request({0x01, 0x0B, step.setting, 1, 0}).outcome, Outcome::Ok);
        device->ClearOutPackets();
        ASSERT_EQ(device->IsoOut(0x01, 5, 0, step.packet).outcome, Outcome::Ok);
        const UsbSim::OutSampleArray received = device->OutSamples(0x01);
        EXPECT_EQ(received.channels, 2u);
        EXPECT_EQ(received.samples, step.samples);
    }
    ASSERT_EQ(Request({0x01, 0x0B, 2, 1, 0}).outcome, Outcome::Ok);
    ASSERT_EQ(device->IsoOut(0x01, 6, 0, narrow).outcome, Outcome::Ok);
    EXPECT_THROW(device->OutSamples(0x01), std::logic_error);
    EXPECT_TRUE(device->Violations().empty());
}

// Every 3-byte sample of a packet long enough to be read several samples at a time comes back
// sign-extended, the last ones included.
TEST_F(DeviceTest, EverySampleOfALongPacketIsDecoded)
{
    Build({});
    Stream();
    std::vector<uint8_t> packet(60);
    uint32_t seed = 99;
    for (uint8_t& b : packet) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    for (const size_t bytes : {size_t{60}, size_t{54}, size_t{18}, size_t{12}}) {
        device->ClearOutPackets();
        ASSERT_EQ(device->IsoOut(0x01, 5, 0, std::span(packet).first(bytes)).outcome, Outcome::Ok);
        const UsbSim::OutSampleArray frames = device->OutSamples(0x01);
        ASSERT_EQ(frames.samples.size(), bytes / 3);
        for (size_t i = 0; i < bytes / 3; ++i) {
            const uint32_t raw = uint32_t{packet[3 * i]} | uint32_t{packet[3 * i + 1]} << 8 |
                                 uint32_t{packet[3 * i + 2]} << 16;
            EXPECT_EQ(frames.samples[i], static_cast<int32_t>(raw << 8) >> 8)
                << "sample " << i << " of " << bytes / 3;
        }
    }
}

// A run that checks as it goes reads the samples into one array again and again: each reading
// holds exactly the packets received since the last clear, whatever the array held before.
TEST_F(DeviceTest, OutSamplesIntoAReusedArrayHoldOnlyTheLatestPackets)
{
    Build({});
    Stream();
    std::vector<uint8_t> packet(60);
    for (size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<uint8_t>(i * 37 + 5);
    }
    UsbSim::OutSampleArray reused;
    for (const uint32_t packets : {7u, 2u, 5u}) {
        device->ClearOutPackets();
        for (uint32_t n = 0; n < packets; ++n) {
            ASSERT_EQ(device->IsoOut(0x01, n, 0, std::span(packet).first(6 * (n % 10 + 1))).outcome,
                      Outcome::Ok);
        }
        device->OutSamples(0x01, reused);
        const UsbSim::OutSampleArray fresh = device->OutSamples(0x01);
        EXPECT_EQ(reused.channels, fresh.channels);
        EXPECT_EQ(reused.frames, fresh.frames);
        EXPECT_EQ(reused.samples, fresh.samples);
        ASSERT_EQ(fresh.size(), size_t{packets} * (packets + 1) / 2);
        EXPECT_EQ(fresh.Sample(0, 1),
                  (int32_t{packet[5]} << 24 | packet[4] << 16 | packet[3] << 8) >> 8);
    }
    device->OutSamples(0x7F, reused);
    EXPECT_TRUE(reused.empty()) << "no such endpoint";
    EXPECT_EQ(reused.channels, 0u);
}

// A packet cut short may end in part of a sample frame, which is left out, whatever the frame's
// size: every whole frame of it comes back, and no part of the next.
TEST_F(DeviceTest, OutSamplesCountTheWholeFramesOfEveryPacket)
{
    struct Case
    {
        uint8_t channels;
        uint8_t subslot;
    };
    const Case cases[] = {{1, 2}, {1, 3}, {2, 2}, {2, 3}, {2, 4}, {3, 3}, {5, 3}, {8, 4}};
    for (const Case& c : cases) {
        Build({.outChannels = c.channels,
               .subslotBytes = c.subslot,
               .bitResolution = static_cast<uint8_t>(8 * c.subslot)});
        Stream();
        const uint32_t frameBytes = uint32_t{c.channels} * c.subslot;
        std::vector<uint8_t> packet(frameBytes * 4);
        for (size_t i = 0; i < packet.size(); ++i) {
            packet[i] = static_cast<uint8_t>(i + 1);
        }
        // Whole, then a byte shorter each time down to one byte.
        ASSERT_EQ(device->IsoOut(0x01, 0, 0, packet).outcome, Outcome::Ok);
        size_t expected = packet.size() / frameBytes;
        for (size_t removed = 1; removed < packet.size(); ++removed) {
            device->ShortenPackets(0x01, 1, removed);
            ASSERT_EQ(device->IsoOut(0x01, static_cast<uint32_t>(removed), 0, packet).outcome,
                      Outcome::Ok);
            expected += (packet.size() - removed) / frameBytes;
        }
        const UsbSim::OutSampleArray received = device->OutSamples(0x01);
        SCOPED_TRACE(std::to_string(c.channels) + " channels of " + std::to_string(c.subslot));
        ASSERT_EQ(received.size(), expected);
        ASSERT_EQ(received.samples.size(), expected * c.channels);
        // The last frame came from the last packet that still held one whole: the packet's first.
        EXPECT_EQ(received.frames.back(), packet.size() - frameBytes);
        EXPECT_EQ(received.samples.back() & 0xFF, (c.channels - 1) * c.subslot + 1);
        EXPECT_TRUE(device->Violations().empty());
    }
}

// Packets are kept in shared blocks: many of them, past the size of one block, each read back as
// it was sent, and again after the device forgot the first lot and reused its blocks.
TEST_F(DeviceTest, KeepsManyOutPacketsIntactAcrossAClear)
{
    Build({});
    Stream();
    constexpr uint32_t kPackets = 40000;  // 2.4 MB of 60-byte packets
    const auto packetOf = [](uint32_t n, uint8_t salt) {
        std::vector<uint8_t> bytes(60);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(n * 7 + i + salt);
        }
        return bytes;
    };
    for (uint8_t salt : {uint8_t{0}, uint8_t{99}}) {
        device->ClearOutPackets();
        for (uint32_t n = 0; n < kPackets; ++n) {
            ASSERT_EQ(device->IsoOut(0x01, n, 0, packetOf(n, salt)).outcome, Outcome::Ok);
        }
        const auto& packets = device->OutPackets();
        ASSERT_EQ(packets.size(), kPackets);
        for (uint32_t n = 0; n < kPackets; ++n) {
            ASSERT_TRUE(std::ranges::equal(packets[n].bytes, packetOf(n, salt))) << n;
        }
        EXPECT_EQ(device->OutSamples(0x01).size(), kPackets * 10);
    }
}

TEST_F(DeviceTest, IsStricterThanHardware)
{
    Build({});
    std::vector<uint8_t> packet(6);
    EXPECT_EQ(device->IsoOut(0x01, 0, 0, packet).outcome, Outcome::Error) << "not configured";
    Stream();
    std::vector<uint8_t> partial(7);
    EXPECT_EQ(device->IsoOut(0x01, 0, 0, partial).outcome, Outcome::Error);
    std::vector<uint8_t> oversized(14 * 6);
    EXPECT_EQ(device->IsoOut(0x01, 0, 0, oversized).outcome, Outcome::Error);
    EXPECT_EQ(device->IsoIn(0x82, 0, 0, packet).outcome, Outcome::Error) << "no such endpoint";
    EXPECT_EQ(device->Violations().size(), 4u);
    EXPECT_TRUE(device->OutPackets().empty());
    EXPECT_EQ(Request({0x40, 0x01, 0, 0, 0}).outcome, Outcome::Stall) << "vendor requests";
}

TEST_F(DeviceTest, SampleRateRequestsAreAnsweredAndLogged)
{
    for (int audioClass : {1, 2}) {
        Build({.audioClass = audioClass});
        Stream();
        EXPECT_EQ(SetRate(0x01, 96000).outcome, Outcome::Ok);
        EXPECT_EQ(device->SampleRate(), 96000u);
        EXPECT_EQ(SetRate(0x01, 22050).outcome, Outcome::Stall) << "not a rate of the device";
        EXPECT_EQ(device->SampleRate(), 96000u);
        std::vector<uint8_t> data;
        const uint8_t getCur = audioClass == 2 ? 0x01 : 0x81;
        ASSERT_EQ(Request({0xA2, getCur, 0x0100, 0x01, 3}, data).outcome, Outcome::Ok);
        EXPECT_EQ(data, (std::vector<uint8_t>{0x00, 0x77, 0x01}));
        ASSERT_EQ(device->ClassRequests().size(), 3u);
        EXPECT_FALSE(device->ClassRequests()[0].stalled);
        EXPECT_EQ(device->ClassRequests()[0].data, (std::vector<uint8_t>{0x00, 0x77, 0x01}));
        EXPECT_TRUE(device->ClassRequests()[1].stalled);
    }
}

TEST_F(DeviceTest, ClockSourceOfClass2)
{
    Build({});
    ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    std::vector<uint8_t> data{0x44, 0xAC, 0, 0};
    ASSERT_EQ(device->Control({0x21, 0x01, 0x0100, 0x2900, 4}, data).outcome, Outcome::Ok);
    EXPECT_EQ(device->SampleRate(), 44100u);
    ASSERT_EQ(Request({0xA1, 0x02, 0x0100, 0x2900, 38}, data).outcome, Outcome::Ok);
    EXPECT_EQ(data[0], 3) << "three rates";
    EXPECT_EQ(data[2] | data[3] << 8, 44100);
    EXPECT_EQ(Request({0xA1, 0x01, 0x0100, 0x1100, 4}).outcome, Outcome::Stall) << "no entity 0x11";
}

TEST_F(DeviceTest, SingleRateEndpointHasNoRateControl)
{
    Build({.audioClass = 1, .rates = {48000}});
    Stream();
    EXPECT_EQ(SetRate(0x01, 48000).outcome, Outcome::Stall);
}

struct InCase
{
    int audioClass;
    uint32_t rate;
    int32_t ppm;
    uint32_t frames;
    uint64_t expectedSamples;
};

TEST_F(DeviceTest, InSamplesFollowTheDeviceClock)
{
    const InCase cases[] = {
        {1, 44100, 0, 10, 441},        // 44 x 9 + 45
        {2, 48000, 0, 1000, 48000},    // 8 packets a frame
        {2, 48000, 500, 1000, 48024},  // 500 ppm fast
        {1, 48000, -1000, 1000, 47952},
    };
    for (const InCase& c : cases) {
        Build({.audioClass = c.audioClass, .outChannels = 0, .inChannels = 2, .rates = {c.rate}});
        Stream();
        const uint32_t packets = c.audioClass == 2 ? 8 : 1;
        device->SetClockOffsetPpm(c.ppm);
        std::array<uint8_t, 1024> packet{};
        uint64_t bytes = 0;
        for (uint32_t f = 0; f < c.frames; ++f) {
            for (uint8_t m = 0; m < packets; ++m) {
                Result r = device->IsoIn(0x82, f, m, packet);
                ASSERT_EQ(r.outcome, Outcome::Ok);
                bytes += r.length;
            }
        }
        EXPECT_EQ(bytes / 6, c.expectedSamples) << c.rate << " at " << c.ppm << " ppm";
        EXPECT_EQ(device->InSamplesProduced(0x82), c.expectedSamples);
    }
}

// The device's clock moves on from where it stood when its offset changes: over the whole run the
// samples produced are the run's sample fractions added up, whole, with nothing lost or counted
// twice at a change.
TEST_F(DeviceTest, InSamplesStayExactAcrossClockChanges)
{
    struct Step
    {
        int32_t ppm;
        uint32_t frames;
    };
    struct Case
    {
        int audioClass;
        uint32_t rate;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {1, 44100, {{250, 7}, {-100, 13}, {0, 3}, {999, 11}}},
        {2, 44100, {{-37, 5}, {412, 9}, {0, 1}}},
        {2, 96000, {{1, 3}, {-1, 3}, {500, 17}}},
        {1, 96000, {{-999, 2}, {999, 2}, {-999, 2}}},
    };
    for (const Case& c : cases) {
        Build({.audioClass = c.audioClass, .outChannels = 0, .inChannels = 2, .rates = {c.rate}});
        Stream();
        const uint32_t packets = c.audioClass == 2 ? 8 : 1;
        const uint64_t unit = uint64_t{packets} * 1000 * 1000000;
        uint64_t fractions = 0;  // sample fractions of the whole run, in units of 1 / unit
        uint64_t frame = 0;
        std::array<uint8_t, 1024> packet{};
        for (const Step& step : c.steps) {
            device->SetClockOffsetPpm(step.ppm);
            for (uint32_t f = 0; f < step.frames; ++f, ++frame) {
                for (uint8_t m = 0; m < packets; ++m) {
                    ASSERT_EQ(device->IsoIn(0x82, static_cast<uint32_t>(frame), m, packet).outcome,
                              Outcome::Ok);
                    fractions += uint64_t{c.rate} * static_cast<uint64_t>(1000000 + step.ppm);
                }
            }
            EXPECT_EQ(device->InSamplesProduced(0x82), fractions / unit)
                << c.rate << " Hz, class " << c.audioClass << ", after " << frame << " frames";
        }
    }
}

TEST_F(DeviceTest, InDataComesFromTheGenerator)
{
    Build({.audioClass = 1, .outChannels = 0, .inChannels = 2, .rates = {48000}});
    Stream();
    device->SetInGenerator([](uint32_t channel, uint64_t index) {
        return static_cast<int32_t>(channel == 0 ? index : -static_cast<int64_t>(index) - 1);
    });
    std::array<uint8_t, 512> packet{};
    ASSERT_EQ(device->IsoIn(0x82, 0, 0, packet).length, 48u * 6);
    EXPECT_EQ(packet[6 * 5 + 0], 5);                                // left of sample 5
    EXPECT_EQ(packet[6 * 5 + 3] | packet[6 * 5 + 4] << 8, 0xFFFA);  // right: -6
}

// Every generated value lands in its own 3-byte subslot, little-endian, across a whole packet.
TEST_F(DeviceTest, EveryInSampleIsPackedIntoItsSubslot)
{
    Build({.audioClass = 1, .outChannels = 0, .inChannels = 2, .rates = {48000}});
    Stream();
    const auto value = [](uint32_t channel, uint64_t index) {
        return static_cast<int32_t>((index * 0x9E3779B1u) ^ (channel * 0x7F4A7C15u));
    };
    device->SetInGenerator(value);
    for (uint64_t first = 0; first < 3 * 48; first += 48) {
        std::array<uint8_t, 512> packet{};
        ASSERT_EQ(device->IsoIn(0x82, 0, 0, packet).length, 48u * 6);
        for (uint32_t i = 0; i < 48 * 2; ++i) {
            const uint32_t want = static_cast<uint32_t>(value(i % 2, first + i / 2)) & 0xFFFFFF;
            const uint32_t got = packet[3 * i] | packet[3 * i + 1] << 8 | packet[3 * i + 2] << 16;
            EXPECT_EQ(got, want) << "sample " << i << " of the packet from frame " << first;
        }
    }
}

// A packet's frames from one call produce the bytes the per-sample generator does, at every
// subslot width, with the running index carried from packet to packet.
TEST_F(DeviceTest, FrameGeneratorMatchesTheSampleGenerator)
{
    const auto sample = [](uint32_t channel, uint64_t index) {
        const auto value = static_cast<int32_t>(index * 0x01010101u) ^ 0x5A5A5A5A;
        return channel == 0 ? value : ~value - static_cast<int32_t>(channel);
    };
    int calls = 0;
    const auto frames = [&](uint64_t first, uint32_t channels, std::span<int32_t> samples) {
        ++calls;
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = sample(static_cast<uint32_t>(i % channels), first + i / channels);
        }
    };
    for (const uint8_t width : {1, 2, 3, 4}) {
        const uint8_t bits = static_cast<uint8_t>(width * 8);
        std::vector<std::vector<uint8_t>> produced[2];
        for (int framewise = 0; framewise < 2; ++framewise) {
            Build({.audioClass = 2,
                   .outChannels = 0,
                   .inChannels = 3,
                   .subslotBytes = width,
                   .bitResolution = bits,
                   .rates = {44100}});
            Stream();
            if (framewise != 0) {
                device->SetInFrameGenerator(frames);
            } else {
                device->SetInGenerator(sample);
            }
            for (int p = 0; p < 9; ++p) {  // 44100 Hz: 5 or 6 frames a microframe
                std::array<uint8_t, 512> packet{};
                const Result r = device->IsoIn(0x82, 0, static_cast<uint8_t>(p % 8), packet);
                ASSERT_EQ(r.outcome, Outcome::Ok);
                produced[framewise].emplace_back(packet.begin(), packet.begin() + r.length);
            }
        }
        EXPECT_EQ(produced[1], produced[0]) << width << "-byte subslots";
        size_t bytes = 0;
        for (const std::vector<uint8_t>& packet : produced[1]) {
            bytes += packet.size();
        }
        EXPECT_EQ(bytes, width * 3u * 49) << "nine microframes at 44100 Hz";
    }
    EXPECT_EQ(calls, 4 * 9) << "one call a packet";
    // Null goes back to the built-in ramp, from where the stream is.
    device->SetInFrameGenerator(nullptr);
    std::array<uint8_t, 512> packet{};
    ASSERT_EQ(device->IsoIn(0x82, 0, 0, packet).outcome, Outcome::Ok);
    const uint32_t expected = 49u * 0x010203u;
    EXPECT_EQ(packet[0] | packet[1] << 8 | packet[2] << 16 | uint32_t{packet[3]} << 24, expected);
}

TEST_F(DeviceTest, FeedbackReportsTheClock)
{
    struct Case
    {
        int audioClass;
        int32_t ppm;
        size_t length;
        uint32_t value;
    } cases[] = {
        {1, 0, 3, 48u << 14},            // 10.14 samples per frame
        {2, 0, 4, 6u << 16},             // 16.16 samples per microframe
        {2, 1000, 4, (6u << 16) + 393},  // 6.006 x 65536
    };
    for (const Case& c : cases) {
        Build({.audioClass = c.audioClass, .feedback = true, .rates = {48000}});
        Stream();
        device->SetClockOffsetPpm(c.ppm);
        std::array<uint8_t, 4> packet{};
        Result r = device->IsoIn(0x81, 0, 0, packet);
        ASSERT_EQ(r.outcome, Outcome::Ok);
        ASSERT_EQ(r.length, c.length);
        uint32_t value = 0;
        for (size_t i = 0; i < r.length; ++i) {
            value |= packet[i] << (8 * i);
        }
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(DeviceTest, InjectedFaults)
{
    Build({.inChannels = 2, .midi = true});
    ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    device->StallRequests(0x80, 0x06, 1);
    EXPECT_EQ(Request({0x80, 0x06, 0x0100, 0, 18}).outcome, Outcome::Stall);
    EXPECT_EQ(Request({0x80, 0x06, 0x0100, 0, 18}).outcome, Outcome::Ok) << "count ran out";
    device->HangRequests(0x21, 0x01);
    EXPECT_EQ(Request({0x21, 0x01, 0x0100, 0x2900, 4}).outcome, Outcome::NoResponse);
    device->RefuseDescriptor(2, 0, 2);
    EXPECT_EQ(Request({0x80, 0x06, 0x0200, 0, 9}).outcome, Outcome::Stall);
    EXPECT_EQ(Request({0x80, 0x06, 0x0200, 0, 9}).outcome, Outcome::Stall);
    std::vector<uint8_t> data;
    EXPECT_EQ(Request({0x80, 0x06, 0x0200, 0, 9}, data).outcome, Outcome::Ok);
    device->PatchDescriptor(2, 0, 2, {0x20, 0x00});
    ASSERT_EQ(Request({0x80, 0x06, 0x0200, 0, 9}, data).outcome, Outcome::Ok);
    EXPECT_EQ(data[2], 0x20);

    ASSERT_EQ(Request({0x01, 0x0B, 1, 2, 0}).outcome, Outcome::Ok);
    std::array<uint8_t, 128> packet{};
    device->DropPackets(0x82, 1);
    device->ShortenPackets(0x82, 1, 6);
    EXPECT_EQ(device->IsoIn(0x82, 0, 0, packet).outcome, Outcome::NoResponse);
    const size_t full = device->IsoIn(0x82, 0, 2, packet).length;
    EXPECT_EQ(full, 6u * 6 - 6) << "shortened by one sample frame";

    EXPECT_EQ(device->BulkIn(0x83, packet).outcome, Outcome::Nak);
    device->QueueBulkIn(0x83, {0x09, 0x90, 0x40, 0x7F});
    EXPECT_EQ(device->BulkIn(0x83, packet).length, 4u);
    const std::vector<uint8_t> midi{0x0B, 0xB0, 0x07, 0x64};
    EXPECT_EQ(device->BulkOut(0x03, midi).outcome, Outcome::Ok);
    EXPECT_EQ(device->BulkReceived(0x03), midi);

    device->SetGone(true);
    EXPECT_EQ(Request({0x80, 0x06, 0x0100, 0, 18}).outcome, Outcome::Gone);
    EXPECT_EQ(device->IsoIn(0x82, 1, 0, packet).outcome, Outcome::Gone);
    EXPECT_EQ(device->BulkOut(0x03, midi).outcome, Outcome::Gone);
    EXPECT_TRUE(device->Violations().empty());
}

TEST(SimulatedUsbDeviceCreate, RefusesBadDescriptorBytes)
{
    struct Case
    {
        const char* name;
        void (*edit)(UsbDescriptorSet&);
    } cases[] = {
        {"short device descriptor", [](UsbDescriptorSet& s) { s.device.resize(17); }},
        {"configuration count", [](UsbDescriptorSet& s) { s.device[17] = 2; }},
        {"total length beyond bytes", [](UsbDescriptorSet& s) { s.configurations[0][2] += 1; }},
        {"descriptor length zero", [](UsbDescriptorSet& s) { s.configurations[0][9] = 0; }},
        {"descriptor overruns", [](UsbDescriptorSet& s) { s.configurations[0][9] = 0xFF; }},
        {"endpoint before interface",
         [](UsbDescriptorSet& s) {
             s.configurations[0] = {9, 2, 16, 0, 1, 1, 0, 0x80, 50, 7, 5, 1, 1, 8, 0, 1};
         }},
    };
    for (const auto& c : cases) {
        UsbDescriptorSet set = ProductUac2();
        c.edit(set);
        std::string error;
        EXPECT_EQ(SimulatedUsbDevice::Create(set, &error), nullptr) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

}  // namespace
