// The duplex shapes of the wave filter builder: one filter that both plays and records, with or
// without the S/PDIF interface. No endpoint kind selects them; the tests ask for them by name.
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "InputDeviceModel.h"
#include "SoakRun.h"
#include "StreamTestSupport.h"
#include "WaveFixture.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PcmFormatBytes;

struct PinShape
{
    KSPIN_DATAFLOW flow;
    bool stream;    // a streaming pin (sink) rather than a bridge
    LONG rangeSet;  // the filter's range set of a streaming pin
};

struct DuplexCase
{
    const char* name;
    WaveTopology topology;
    std::vector<PinShape> pins;
    std::vector<const GUID*> nodes;
    std::vector<KSTOPOLOGY_CONNECTION> connections;
};

const DuplexCase kDuplexCases[] = {
    {"duplex",
     WaveTopology::Duplex,
     {{KSPIN_DATAFLOW_IN, true, kRenderPcmRanges},
      {KSPIN_DATAFLOW_OUT, false, -1},
      {KSPIN_DATAFLOW_OUT, true, kCapturePcmRanges},
      {KSPIN_DATAFLOW_IN, false, -1}},
     {&KSNODETYPE_DAC, &KSNODETYPE_ADC},
     {{KSFILTER_NODE, 0, 0, 1},
      {0, 0, KSFILTER_NODE, 1},
      {KSFILTER_NODE, 3, 1, 1},
      {1, 0, KSFILTER_NODE, 2}}},
    {"duplex S/PDIF",
     WaveTopology::DuplexSpdif,
     {{KSPIN_DATAFLOW_IN, true, kRenderPcmRanges},
      {KSPIN_DATAFLOW_IN, true, kRenderIec61937Ranges},
      {KSPIN_DATAFLOW_OUT, false, -1},
      {KSPIN_DATAFLOW_OUT, true, kCapturePcmRanges},
      {KSPIN_DATAFLOW_IN, false, -1}},
     {&KSNODETYPE_DAC, &KSNODETYPE_SPDIF_INTERFACE, &KSNODETYPE_ADC},
     {{KSFILTER_NODE, 0, 0, 1},
      {0, 0, KSFILTER_NODE, 2},
      {KSFILTER_NODE, 1, 1, 1},
      {1, 0, KSFILTER_NODE, 2},
      {KSFILTER_NODE, 4, 2, 1},
      {2, 0, KSFILTER_NODE, 3}}},
};

TEST_F(WaveFilterTest, TheDuplexShapesCarryRenderAndCapturePinsInOneFilter)
{
    PlugInAndStart(UsbSim::ProductUac2());
    for (const DuplexCase& c : kDuplexCases) {
        WaveEndpoint endpoint = ProductEndpoint();
        const std::u16string name =
            std::u16string(u"Duplex ") + (c.topology == WaveTopology::Duplex ? u"A" : u"B");
        RtlZeroMemory(endpoint.name, sizeof endpoint.name);
        std::memcpy(endpoint.name, name.data(), name.size() * 2);
        WaveFilter* wave = CreateWaveFilterFactory(Context(), &endpoint, c.topology);
        ASSERT_NE(wave, nullptr) << c.name;
        const KSFILTER_DESCRIPTOR& d = *wave->descriptor;
        ASSERT_EQ(d.CategoriesCount, 3u) << c.name;
        EXPECT_TRUE(IsEqualGUIDAligned(d.Categories[0], KSCATEGORY_AUDIO)) << c.name;
        EXPECT_TRUE(IsEqualGUIDAligned(d.Categories[1], KSCATEGORY_RENDER)) << c.name;
        EXPECT_TRUE(IsEqualGUIDAligned(d.Categories[2], KSCATEGORY_CAPTURE)) << c.name;
        ASSERT_EQ(d.PinDescriptorsCount, c.pins.size()) << c.name;
        for (size_t p = 0; p < c.pins.size(); ++p) {
            const KSPIN_DESCRIPTOR_EX& pin = d.PinDescriptors[p];
            const PinShape& shape = c.pins[p];
            EXPECT_EQ(pin.PinDescriptor.DataFlow, shape.flow) << c.name << " pin " << p;
            EXPECT_EQ(pin.PinDescriptor.Communication,
                      shape.stream ? KSPIN_COMMUNICATION_SINK : KSPIN_COMMUNICATION_NONE)
                << c.name << " pin " << p;
            EXPECT_EQ(pin.Dispatch != nullptr, shape.stream) << c.name << " pin " << p;
            if (shape.stream) {
                EXPECT_EQ(pin.PinDescriptor.DataRanges, wave->ranges[shape.rangeSet].pointers)
                    << c.name << " pin " << p;
                EXPECT_EQ(pin.Flags, shape.flow == KSPIN_DATAFLOW_OUT ? 0x10011u : 0x10001u)
                    << c.name << " pin " << p;
            }
        }
        ASSERT_EQ(d.NodeDescriptorsCount, c.nodes.size()) << c.name;
        for (size_t n = 0; n < c.nodes.size(); ++n) {
            EXPECT_TRUE(IsEqualGUIDAligned(*d.NodeDescriptors[n].Type, *c.nodes[n]))
                << c.name << " node " << n;
        }
        ASSERT_EQ(d.ConnectionsCount, c.connections.size()) << c.name;
        EXPECT_EQ(std::memcmp(d.Connections, c.connections.data(),
                              c.connections.size() * sizeof(KSTOPOLOGY_CONNECTION)),
                  0)
            << c.name;
        EXPECT_FALSE(device
                         ->FindInterface(KSCATEGORY_CAPTURE, c.topology == WaveTopology::Duplex
                                                                 ? u"DUPLEXA"
                                                                 : u"DUPLEXB")
                         .empty())
            << c.name;
    }
}

// On a device with inputs one duplex filter plays through its render pin and records through
// its capture pin at the same time: the device hears the played ramp in order, and the recorded
// frames carry the device's input bit-exact.
class DuplexFilterTest : public WaveFilterTest
{
protected:
    DuplexFilterTest() : inputParts(InputDeviceUsbRecord(true, false)) {}
    void SetUp() override
    {
        WaveFilterTest::SetUp();
        SetDeviceParts(&inputParts);
        TopologyForNextStart() = WaveTopology::Duplex;
    }

    InputDeviceParts inputParts;
};

TEST_F(DuplexFilterTest, OneFilterPlaysAndRecordsAtOnce)
{
    PlugInAndStart(UsbSim::BuildProductDescriptors({.audioClass = 2, .inChannels = 2}));
    UsbDevice().SetInGenerator(&SoakRun::CaptureSample);
    ASSERT_NE(OpenFilter(KSCATEGORY_CAPTURE), nullptr);
    const std::vector<uint8_t> format = PcmFormatBytes(2, 48000, 32, true, 24);
    Platform::Ks::PinHandle* render = OpenPin(0, format);
    Platform::Ks::PinHandle* capture = OpenPin(2, format);
    ASSERT_NE(render, nullptr);
    ASSERT_NE(capture, nullptr);
    ASSERT_EQ(render->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(capture->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);

    uint64_t played = 0;
    int64_t heard = -1;
    uint64_t recorded = 0;
    int64_t nextInput = -1;
    for (int ms = 0; ms < 500; ++ms) {
        while (render->PendingFrames() < 8) {
            std::vector<uint8_t> data(240 * 8);
            for (uint64_t b = 0; b < 240; ++b) {
                const auto v = static_cast<int32_t>((played + b) % 0x7FFFFE) + 1;
                const int32_t samples[2] = {v * 256, -v * 256};
                std::memcpy(&data[b * 8], samples, sizeof samples);
            }
            ASSERT_EQ(render->Write(data), STATUS_PENDING);
            played += 240;
        }
        while (capture->PendingFrames() < 8) {
            ASSERT_EQ(capture->Read(240 * 8), STATUS_PENDING);
        }
        Run(1ms);
        render->Collect();
        for (const Platform::Ks::CompletedFrame& frame : capture->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
            for (size_t f = 0; f + 1 < frame.header.DataUsed / 4; f += 2) {
                int32_t samples[2];
                std::memcpy(samples, &frame.data[f * 4], sizeof samples);
                if (nextInput < 0 && samples[0] == 0) {
                    continue;
                }
                if (nextInput < 0) {
                    nextInput = samples[0] / 256 - 1;
                }
                ASSERT_EQ(samples[0], SoakRun::CaptureSample(0, nextInput) * 256) << recorded;
                ASSERT_EQ(samples[1], SoakRun::CaptureSample(1, nextInput) * 256) << recorded;
                ++nextInput;
                ++recorded;
            }
        }
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            for (size_t o = 0; packet.endpoint == 0x01 && o + 6 <= packet.bytes.size(); o += 6) {
                const int32_t left = StreamTest::Sample24(&packet.bytes[o]);
                if (heard < 0 && left == 0) {
                    continue;
                }
                ASSERT_EQ(left, heard + 2) << "the device heard the ramp out of order";
                ASSERT_EQ(StreamTest::Sample24(&packet.bytes[o + 3]), -left);
                heard = left - 1;
            }
        }
        UsbDevice().ClearOutPackets();
    }
    EXPECT_GT(heard, 48000 * 4 / 10);
    EXPECT_GT(recorded, 48000u * 4 / 10);
    EXPECT_EQ(render->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(capture->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
