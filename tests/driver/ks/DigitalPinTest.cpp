// The S/PDIF output's wave filter: its IEC 61937 pin beside the PCM pin, the formats that pin
// takes and when, the bursts it carries to the device, and the device's digital-output mode that
// the pin switches on while it holds a node and off again when it lets it go.
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "DigitalOutputDeviceModel.h"
#include "StreamTestSupport.h"
#include "WaveFixture.h"
#include "device/DeviceLifecycle.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PcmFormatBytes;

constexpr char16_t kSpdifReference[] = u"CORVANEQUORVELSPDIFOUT";

WaveEndpoint SpdifEndpoint()
{
    WaveEndpoint endpoint = ProductEndpoint();
    const WCHAR name[] = u"Corvane Quorvel S/PDIF Out";
    RtlZeroMemory(endpoint.name, sizeof endpoint.name);
    std::memcpy(endpoint.name, name, sizeof name);
    endpoint.kind = kEndpointDigital;
    endpoint.mainOutput = 0;
    endpoint.digital = 1;
    return endpoint;
}

struct Iec61937Shape
{
    const GUID* subFormat = &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL;
    USHORT tag = WAVE_FORMAT_DOLBY_AC3_SPDIF;
    bool dsound = false;
    USHORT channels = 2;
    USHORT bits = 16;
    USHORT blockAlign = 4;
    ULONG rate = 48000;
};

// A KSDATAFORMAT of an IEC 61937 stream: the WAVEFORMATEX right behind it, or behind the two
// DSOUND words.
std::vector<uint8_t> Iec61937FormatBytes(const Iec61937Shape& s)
{
    WAVEFORMATEX wave{};
    wave.wFormatTag = s.tag;
    wave.nChannels = s.channels;
    wave.nSamplesPerSec = s.rate;
    wave.nAvgBytesPerSec = s.blockAlign * s.rate;
    wave.nBlockAlign = s.blockAlign;
    wave.wBitsPerSample = s.bits;
    KSDATAFORMAT format{};
    format.FormatSize = sizeof format + (s.dsound ? 8 : 0) + sizeof wave;
    format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.SubFormat = *s.subFormat;
    format.Specifier =
        s.dsound ? KSDATAFORMAT_SPECIFIER_DSOUND : KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    std::vector<uint8_t> bytes(format.FormatSize, 0);
    std::memcpy(bytes.data(), &format, sizeof format);
    std::memcpy(bytes.data() + format.FormatSize - sizeof wave, &wave, sizeof wave);
    return bytes;
}

class DigitalPinTest : public WaveFilterTest
{
protected:
    void SetUp() override
    {
        WaveFilterTest::SetUp();
        SetDeviceParts(&parts);
        EndpointForNextStart() = SpdifEndpoint();
    }
    void Start()
    {
        PlugInAndStart(UsbSim::ProductUac2());
        ASSERT_NE(OpenFilter(KSCATEGORY_RENDER, kSpdifReference), nullptr);
    }
    DigitalOutputDeviceModel& Model()
    {
        return *static_cast<DigitalOutputDeviceModel*>(Context()->deviceModel);
    }
    NTSTATUS Propose(const std::vector<uint8_t>& format, ULONG pinId)
    {
        std::vector<uint8_t> tail(8, 0);
        std::memcpy(tail.data(), &pinId, sizeof pinId);
        return filter_->SetProperty(KSPROPSETID_Pin, KSPROPERTY_PIN_PROPOSEDATAFORMAT, format, tail)
            .status;
    }
    NTSTATUS OpenAndClose(ULONG pinId, const std::vector<uint8_t>& format)
    {
        NTSTATUS status = STATUS_PENDING;
        auto pin = Platform::Ks::PinHandle::Open(*filter_, pinId, format, &status);
        if (pin != nullptr) {
            pin->Close();
        }
        return status;
    }

    DigitalOutputDeviceParts parts;
};

TEST_F(DigitalPinTest, TheSpdifFilterOffersAnIec61937PinBesideThePcmPin)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(CreatedWaveFilters().size(), 1u);
    const WaveFilter& wave = *CreatedWaveFilters()[0];
    const KSFILTER_DESCRIPTOR& d = *wave.descriptor;
    ASSERT_EQ(d.PinDescriptorsCount, 3u);
    const KSPIN_DESCRIPTOR_EX& iec = d.PinDescriptors[1];
    EXPECT_EQ(iec.PinDescriptor.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(iec.PinDescriptor.Communication, KSPIN_COMMUNICATION_SINK);
    ASSERT_EQ(iec.PinDescriptor.DataRangesCount, 4u);
    const GUID* subFormats[] = {
        &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL, &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL,
        &KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO, &KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO};
    for (ULONG i = 0; i < 4; ++i) {
        const auto* range =
            reinterpret_cast<const KSDATARANGE_AUDIO*>(iec.PinDescriptor.DataRanges[i]);
        EXPECT_TRUE(IsEqualGUIDAligned(range->DataRange.SubFormat, *subFormats[i])) << i;
        EXPECT_TRUE(IsEqualGUIDAligned(
            range->DataRange.Specifier,
            i % 2 == 0 ? KSDATAFORMAT_SPECIFIER_WAVEFORMATEX : KSDATAFORMAT_SPECIFIER_DSOUND))
            << i;
        EXPECT_EQ(range->MinimumBitsPerSample, 16u) << i;
        EXPECT_EQ(range->MaximumBitsPerSample, 16u) << i;
    }
    ASSERT_EQ(d.NodeDescriptorsCount, 2u);
    EXPECT_TRUE(IsEqualGUIDAligned(*d.NodeDescriptors[1].Type, KSNODETYPE_SPDIF_INTERFACE));
    const KSTOPOLOGY_CONNECTION connections[] = {{KSFILTER_NODE, 0, 0, 1},
                                                 {0, 0, KSFILTER_NODE, 2},
                                                 {KSFILTER_NODE, 1, 1, 1},
                                                 {1, 0, KSFILTER_NODE, 2}};
    ASSERT_EQ(d.ConnectionsCount, std::size(connections));
    EXPECT_EQ(std::memcmp(d.Connections, connections, sizeof connections), 0);
    const KSPIN_DESCRIPTOR_EX& bridge = d.PinDescriptors[2];
    EXPECT_EQ(bridge.PinDescriptor.Communication, KSPIN_COMMUNICATION_NONE);
    EXPECT_TRUE(IsEqualGUIDAligned(*bridge.PinDescriptor.Category, KSNODETYPE_SPDIF_INTERFACE));
}

// Intersection answers PCM formats only: the IEC 61937 pin has no PCM range to meet a PCM
// caller (its IEC 61937 ranges once gave such a caller a PCM format that the pin then refused),
// and an IEC 61937 caller is no PCM range to build a format from.
TEST_F(DigitalPinTest, IntersectionOnTheIec61937PinProducesNoFormat)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    auto tail = [](ULONG pinId, const KSDATARANGE_AUDIO& range) {
        std::vector<uint8_t> bytes(8, 0);
        std::memcpy(bytes.data(), &pinId, sizeof pinId);
        const KSMULTIPLE_ITEM items{static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + sizeof range), 1};
        const auto* header = reinterpret_cast<const uint8_t*>(&items);
        bytes.insert(bytes.end(), header, header + sizeof items);
        const auto* body = reinterpret_cast<const uint8_t*>(&range);
        bytes.insert(bytes.end(), body, body + sizeof range);
        return bytes;
    };
    auto range = [](const GUID& subFormat) {
        KSDATARANGE_AUDIO r{};
        r.DataRange.FormatSize = sizeof r;
        r.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
        r.DataRange.SubFormat = subFormat;
        r.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
        r.MaximumChannels = 2;
        r.MinimumBitsPerSample = 16;
        r.MaximumBitsPerSample = 16;
        r.MinimumSampleFrequency = 44100;
        r.MaximumSampleFrequency = 48000;
        return r;
    };
    for (const GUID* subFormat :
         {&KSDATAFORMAT_SUBTYPE_PCM, &KSDATAFORMAT_SUBTYPE_IEC61937_DOLBY_DIGITAL}) {
        const Platform::Ks::RequestResult result = filter_->GetProperty(
            KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, 104, tail(1, range(*subFormat)));
        EXPECT_FALSE(NT_SUCCESS(result.status)) << std::hex << result.status;
    }
    // The PCM pin of the same filter does answer a PCM caller.
    const Platform::Ks::RequestResult pcm =
        filter_->GetProperty(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, 104,
                             tail(0, range(KSDATAFORMAT_SUBTYPE_PCM)));
    EXPECT_EQ(pcm.status, STATUS_SUCCESS);
}

TEST_F(DigitalPinTest, TheIec61937PinTakesOnlyTwoChannelsOf16Bits)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const struct
    {
        const char* name;
        ULONG pinId;
        std::vector<uint8_t> format;
        bool taken;
    } cases[] = {
        {"Dolby Digital", 1, Iec61937FormatBytes({}), true},
        {"Dolby Digital, DSOUND", 1, Iec61937FormatBytes({.dsound = true}), true},
        {"WMA Pro", 1,
         Iec61937FormatBytes(
             {.subFormat = &KSDATAFORMAT_SUBTYPE_IEC61937_WMA_PRO, .tag = WAVE_FORMAT_WMASPDIF}),
         true},
        {"at 44100 Hz", 1, Iec61937FormatBytes({.rate = 44100}), true},
        {"six channels", 1, Iec61937FormatBytes({.channels = 6, .blockAlign = 12}), false},
        {"32 bits", 1, Iec61937FormatBytes({.bits = 32, .blockAlign = 8}), false},
        {"block of 2", 1, Iec61937FormatBytes({.blockAlign = 2}), false},
        {"a rate the device lacks", 1, Iec61937FormatBytes({.rate = 88200}), false},
        {"PCM on the digital pin", 1, PcmFormatBytes(2, 48000, 16, false), false},
        {"IEC 61937 on the PCM pin", 0, Iec61937FormatBytes({}), false},
    };
    for (const auto& c : cases) {
        const NTSTATUS status = OpenAndClose(c.pinId, c.format);
        EXPECT_EQ(NT_SUCCESS(status), c.taken) << c.name << ": " << std::hex << status;
    }
    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 1), STATUS_SUCCESS);
    EXPECT_EQ(Propose(Iec61937FormatBytes({.channels = 6, .blockAlign = 12}), 1), STATUS_NO_MATCH);
    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 0), STATUS_NO_MATCH);
    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 2), STATUS_NO_MATCH);
    EXPECT_EQ(Model().switchedOn, 0u) << "a pin that never left STOP holds no node";
}

// The bursts go to the device word for word (each 16-bit word in the top of a 24-bit sample).
// While the pin holds its node the device is in its digital-output mode and no other wave pin
// takes a format; once the pin stops, or closes, the mode is off and the PCM pin opens again.
TEST_F(DigitalPinTest, BurstsReachTheDeviceAndTheOutputModeEndsWithThePin)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    Platform::Ks::PinHandle* pin = OpenPin(1, Iec61937FormatBytes({}));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_TRUE(Model().IsOutputModeActive());
    EXPECT_EQ(Model().switchedOn, 1u);
    EXPECT_EQ(OpenAndClose(0, PcmFormatBytes(2, 48000, 16, false)), STATUS_NO_MATCH);

    auto word = [](uint64_t n, int channel) {
        const auto v = static_cast<int16_t>(n % 0x7FFE + 1);
        return channel == 0 ? v : static_cast<int16_t>(~v);
    };
    const uint64_t total = 384 * 60;
    uint64_t submitted = 0;
    uint64_t received = 0;
    std::string failure;
    for (int ms = 0; ms < 800 && (received < total || pin->PendingFrames() != 0); ++ms) {
        while (submitted < total && pin->PendingFrames() < 8) {
            std::vector<uint8_t> data(384 * 4);
            for (uint64_t b = 0; b < 384; ++b) {
                const int16_t words[2] = {word(submitted + b, 0), word(submitted + b, 1)};
                std::memcpy(&data[b * 4], words, sizeof words);
            }
            ASSERT_EQ(pin->Write(data), STATUS_PENDING);
            submitted += 384;
        }
        Run(1ms);
        for (const Platform::Ks::CompletedFrame& frame : pin->Collect()) {
            ASSERT_EQ(frame.status, STATUS_SUCCESS);
        }
        for (const UsbSim::OutPacketRecord& packet : UsbDevice().OutPackets()) {
            for (size_t o = 0; packet.endpoint == 0x01 && o + 6 <= packet.bytes.size(); o += 6) {
                const int32_t left = StreamTest::Sample24(&packet.bytes[o]);
                const int32_t right = StreamTest::Sample24(&packet.bytes[o + 3]);
                if ((received == 0 || received == total) && left == 0 && right == 0) {
                    continue;
                }
                ASSERT_LT(received, total) << "more than was sent: " << left << ", " << right;
                ASSERT_EQ(left, word(received, 0) * 256) << "burst word " << received;
                ASSERT_EQ(right, word(received, 1) * 256) << "burst word " << received;
                ++received;
            }
        }
        UsbDevice().ClearOutPackets();
    }
    EXPECT_EQ(received, total);
    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 1), STATUS_NO_MATCH) << "a wave pin runs";

    ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_FALSE(Model().IsOutputModeActive());
    EXPECT_EQ(Model().switchedOff, 1u);
    EXPECT_EQ(OpenAndClose(0, PcmFormatBytes(2, 48000, 16, false)), STATUS_SUCCESS);

    // Acquired again and closed from there: the close gives the mode back as well.
    ASSERT_EQ(pin->WalkTo(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_TRUE(Model().IsOutputModeActive());
    EXPECT_EQ(pin->Close(), STATUS_SUCCESS);
    EXPECT_FALSE(Model().IsOutputModeActive());
    EXPECT_EQ(Model().switchedOn, 2u);
    EXPECT_EQ(Model().switchedOff, 2u);
    EXPECT_EQ(OpenAndClose(0, PcmFormatBytes(2, 48000, 16, false)), STATUS_SUCCESS);
}

// The digital pin waits for the device's other streams: its format is refused while the PCM pin
// runs, and a digital pin acquired meanwhile gets no node format and leaves the mode off.
TEST_F(DigitalPinTest, TheDigitalPinWaitsForTheOtherStreams)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    Platform::Ks::PinHandle* digital = OpenPin(1, Iec61937FormatBytes({}));
    ASSERT_NE(digital, nullptr);
    Platform::Ks::PinHandle* pcm = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pcm, nullptr);
    ASSERT_EQ(pcm->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(pcm->Write(std::vector<uint8_t>(4 * 480, 1)), STATUS_PENDING);
    Run(40ms);
    ASSERT_TRUE(IsAnyWavePinRunning(Context()));

    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 1), STATUS_NO_MATCH);
    EXPECT_EQ(digital->Handle()
                  .SetProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT,
                               Iec61937FormatBytes({.dsound = true}))
                  .status,
              STATUS_NO_MATCH);
    EXPECT_EQ(digital->WalkTo(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(Model().switchedOn, 0u);
    EXPECT_FALSE(Model().IsOutputModeActive());
    EXPECT_EQ(digital->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(Model().switchedOff, 0u) << "only the pin that switched the mode on switches it off";

    ASSERT_EQ(pcm->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    pcm->Collect();
    EXPECT_EQ(Propose(Iec61937FormatBytes({}), 1), STATUS_SUCCESS);
    ASSERT_EQ(digital->WalkTo(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_TRUE(Model().IsOutputModeActive());
    EXPECT_EQ(digital->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_FALSE(Model().IsOutputModeActive());
}

}  // namespace
