// The product's wave filter as the audio stack finds it: its interface and values, its
// descriptors, the formats its render pin takes, proposed formats and intersection; and the
// render pin's state walk when the rate is taken, when stopped in storms and when the device goes.
#include <KsPinHandle.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "StreamTestSupport.h"
#include "WaveFixture.h"
#include "device/DeviceModel.h"
#include "engine/EngineRouting.h"
#include "engine/StreamManager.h"
#include "engine/StreamManagerParts.h"
#include "ks/PinStream.h"

namespace {

using namespace std::chrono_literals;
using Platform::Ks::PcmFormatBytes;

template <typename T>
std::vector<uint8_t> Bytes(const T& value)
{
    std::vector<uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text)
{
    std::vector<uint8_t> bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

TEST(WaveReferenceStringTest, KeepsLettersDigitsAndUnderscoresOfTheFirst32Characters)
{
    struct Case
    {
        const char* name;
        std::u16string endpoint;
        std::u16string reference;
    };
    const Case cases[] = {
        {"the Part's example", u"Line 1/2 Out", u"LINE12OUT"},
        {"no-break space", u"Line\u00A01/2", u"LINE_12"},
        {"only 32 looked at", u"abcdefghijklmnopqrstuvwxyz0123456789",
         u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
        {"the product", u"Corvane Quorvel Stereo Out 1-2", u"CORVANEQUORVELSTEREOOUT12"},
    };
    for (const Case& c : cases) {
        WCHAR name[kEndpointNameCharacters] = {};
        for (size_t i = 0; i < c.endpoint.size() && i < kEndpointNameCharacters; ++i) {
            name[i] = c.endpoint[i];
        }
        WCHAR out[kEndpointNameCharacters + 1];
        WaveReferenceString(name, out);
        EXPECT_EQ(std::u16string(out), c.reference) << c.name;
    }
}

TEST_F(WaveFilterTest, TheProductEndpointIsPublishedWithItsValuesAndDescriptors)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_EQ(CreatedWaveFilters().size(), 1u);
    WaveFilter* wave = CreatedWaveFilters()[0];
    ASSERT_NE(wave, nullptr);
    // The values live under the factory's first interface, the audio one.
    for (const GUID& category : {KSCATEGORY_AUDIO}) {
        const std::u16string link = device->FindInterface(category, kProductReference);
        ASSERT_FALSE(link.empty());
        for (const Platform::Ks::DeviceInterface& i : device->Interfaces()) {
            if (i.symbolicLink != link) {
                continue;
            }
            EXPECT_TRUE(i.enabled);
            const auto values = Platform::Ks::InterfaceValues(i);
            ASSERT_EQ(values.size(), 2u);
            EXPECT_EQ(values[0].name, u"CLSID");
            EXPECT_EQ(values[0].type, REG_SZ);
            EXPECT_EQ(values[0].data, Utf16Bytes(u"{17CCA71B-ECD7-11D0-B908-00A0C9223196}"));
            EXPECT_EQ(values[1].name, u"FriendlyName");
            EXPECT_EQ(values[1].data, Utf16Bytes(u"Corvane Quorvel Stereo Out 1-2"));
        }
    }
    const KSFILTER_DESCRIPTOR& d = *wave->descriptor;
    EXPECT_TRUE(IsEqualGUIDAligned(*d.ReferenceGuid, kWaveFilterReferenceGuid));
    ASSERT_EQ(d.PinDescriptorsCount, 2u);
    EXPECT_EQ(d.PinDescriptorSize, 136u);
    EXPECT_EQ(d.NodeDescriptorSize, 24u);
    EXPECT_EQ(d.ConnectionsCount, 2u);
    const KSPIN_DESCRIPTOR_EX& stream = d.PinDescriptors[0];
    EXPECT_EQ(stream.PinDescriptor.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(stream.Flags, 0x10001u);
    EXPECT_EQ(stream.InstancesPossible, 1u);
    ASSERT_EQ(stream.PinDescriptor.DataRangesCount, 2u);
    const auto* range =
        reinterpret_cast<const KSDATARANGE_AUDIO*>(stream.PinDescriptor.DataRanges[0]);
    EXPECT_EQ(range->DataRange.FormatSize, 88u);
    EXPECT_EQ(range->MaximumChannels, 2u);
    EXPECT_EQ(range->MinimumBitsPerSample, 16u);
    EXPECT_EQ(range->MaximumBitsPerSample, 32u);
    EXPECT_EQ(range->MinimumSampleFrequency, 44100u);
    EXPECT_EQ(range->MaximumSampleFrequency, 96000u);
    const KSPIN_DESCRIPTOR_EX& bridge = d.PinDescriptors[1];
    EXPECT_EQ(bridge.PinDescriptor.Communication, KSPIN_COMMUNICATION_NONE);
    EXPECT_EQ(bridge.PinDescriptor.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_TRUE(IsEqualGUIDAligned(*bridge.PinDescriptor.Category, KSNODETYPE_SPEAKER));
    if (wave->endpoint.systemVersion >= 0x06000000) {
        EXPECT_TRUE(IsEqualGUIDAligned(*bridge.PinDescriptor.Name, kLine12PinName));
    }
}

TEST_F(WaveFilterTest, AnEndpointWithoutChannelsGetsNoFilter)
{
    EndpointForNextStart().channelCount = 0;
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_EQ(CreatedWaveFilters().size(), 1u);
    EXPECT_EQ(CreatedWaveFilters()[0], nullptr);
    EXPECT_TRUE(device->FindInterface(KSCATEGORY_RENDER, kProductReference).empty());
}

TEST_F(WaveFilterTest, DescriptorAllocationFailuresCreateNoFactory)
{
    PlugInAndStart(UsbSim::ProductUac2());
    WaveEndpoint endpoint = ProductEndpoint();
    const WCHAR name[] = u"Second Out";
    std::memcpy(endpoint.name, name, sizeof name);
    for (uint64_t n = 1;; ++n) {
        Platform::Kernel::FailAllocationNumber(n);
        WaveFilter* filter = CreateWaveFilterFactory(Context(), &endpoint);
        Platform::Kernel::FailAllocationNumber(0);
        if (filter != nullptr) {
            EXPECT_FALSE(device->FindInterface(KSCATEGORY_RENDER, u"SECONDOUT").empty());
            break;
        }
        EXPECT_TRUE(device->FindInterface(KSCATEGORY_RENDER, u"SECONDOUT").empty()) << n;
        ASSERT_LT(n, 50u);
    }
}

TEST_F(WaveFilterTest, TheRenderPinTakesOnlyFormatsTheEngineCanCarry)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    std::vector<uint8_t> shortExtensible = PcmFormatBytes(2, 48000, 32, true);
    shortExtensible.resize(sizeof(KSDATAFORMAT_WAVEFORMATEX));
    const ULONG cutSize = sizeof(KSDATAFORMAT_WAVEFORMATEX);
    std::memcpy(shortExtensible.data(), &cutSize, sizeof cutSize);
    struct Case
    {
        const char* name;
        std::vector<uint8_t> format;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"16-bit stereo", PcmFormatBytes(2, 48000, 16, false), STATUS_SUCCESS},
        {"24 valid bits in 4 bytes", PcmFormatBytes(2, 44100, 32, true, 24), STATUS_SUCCESS},
        {"24 bits in a 4-byte container", PcmFormatBytes(2, 48000, 24, false, 0, 8),
         STATUS_SUCCESS},
        {"32-bit stereo", PcmFormatBytes(2, 96000, 32, false), STATUS_SUCCESS},
        {"packed 24-bit", PcmFormatBytes(2, 48000, 24, false), STATUS_NO_MATCH},
        {"32 bits in a block of 2", PcmFormatBytes(2, 48000, 32, false, 0, 2), STATUS_NO_MATCH},
        {"32 bits in 2-byte containers", PcmFormatBytes(2, 48000, 32, false, 0, 4),
         STATUS_NO_MATCH},
        {"block not a whole number of samples", PcmFormatBytes(2, 48000, 16, false, 0, 5),
         STATUS_NO_MATCH},
        {"three channels", PcmFormatBytes(3, 48000, 16, false), STATUS_NO_MATCH},
        {"8-bit", PcmFormatBytes(2, 48000, 8, false), STATUS_NO_MATCH},
        {"rate below the range", PcmFormatBytes(2, 22050, 16, false), STATUS_NO_MATCH},
        {"rate above the range", PcmFormatBytes(2, 192000, 16, false), STATUS_NO_MATCH},
        {"rate the device lacks", PcmFormatBytes(2, 88200, 16, false), STATUS_NO_MATCH},
        {"extensible cut to 82 bytes", shortExtensible, STATUS_NO_MATCH},
    };
    for (const Case& c : cases) {
        NTSTATUS status = STATUS_PENDING;
        Platform::Ks::PinHandle* pin = OpenPin(0, c.format, &status);
        EXPECT_EQ(status, c.status) << c.name;
        if (pin != nullptr) {
            pin->Close();
        }
    }
}

// A KSP_PIN for pin 0 followed by the caller's ranges.
std::vector<uint8_t> IntersectionTail(const std::vector<KSDATARANGE_AUDIO>& ranges)
{
    std::vector<uint8_t> tail(8, 0);  // PinId 0, Reserved
    KSMULTIPLE_ITEM items{static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + ranges.size() * 88),
                          static_cast<ULONG>(ranges.size())};
    const auto header = Bytes(items);
    tail.insert(tail.end(), header.begin(), header.end());
    for (const KSDATARANGE_AUDIO& range : ranges) {
        const auto bytes = Bytes(range);
        tail.insert(tail.end(), bytes.begin(), bytes.end());
    }
    return tail;
}

KSDATARANGE_AUDIO CallerRange(const GUID& specifier, ULONG channels, ULONG minBits, ULONG maxBits,
                              ULONG minRate, ULONG maxRate,
                              const GUID& subFormat = KSDATAFORMAT_SUBTYPE_PCM)
{
    KSDATARANGE_AUDIO range{};
    range.DataRange.FormatSize = sizeof range;
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.DataRange.SubFormat = subFormat;
    range.DataRange.Specifier = specifier;
    range.MaximumChannels = channels;
    range.MinimumBitsPerSample = minBits;
    range.MaximumBitsPerSample = maxBits;
    range.MinimumSampleFrequency = minRate;
    range.MaximumSampleFrequency = maxRate;
    return range;
}

TEST_F(WaveFilterTest, IntersectionAnswersTheDeepestFormatBothSidesTake)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    const ULONG rate = Context()->deviceModel->GetCurrentRate();
    const GUID& wave = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    struct Case
    {
        const char* name;
        KSDATARANGE_AUDIO range;
        ULONG bufferSize;
        NTSTATUS status;
        ULONG_PTR information;
        ULONG bits;
    };
    const Case cases[] = {
        {"size asked", CallerRange(wave, 8, 8, 32, 8000, 192000), 0, STATUS_BUFFER_OVERFLOW, 104,
         0},
        {"size asked, DSOUND", CallerRange(KSDATAFORMAT_SPECIFIER_DSOUND, 2, 16, 32, 8000, 192000),
         0, STATUS_BUFFER_OVERFLOW, 112, 0},
        {"buffer too small", CallerRange(wave, 2, 16, 32, 8000, 192000), 50,
         STATUS_BUFFER_TOO_SMALL, 104, 0},
        {"deep caller", CallerRange(wave, 8, 8, 32, 8000, 192000), 104, STATUS_SUCCESS, 104, 32},
        {"16-bit caller", CallerRange(wave, 2, 8, 16, 8000, 192000), 104, STATUS_SUCCESS, 104, 16},
        {"rates apart", CallerRange(wave, 2, 16, 32, 8000, 22050), 104, STATUS_NO_MATCH, 0, 0},
        {"24-bit only caller", CallerRange(wave, 2, 24, 24, 8000, 192000), 104, STATUS_NO_MATCH, 0,
         0},
        {"not PCM", CallerRange(wave, 2, 16, 32, 8000, 192000, KSDATAFORMAT_SUBTYPE_ANALOG), 104,
         STATUS_INVALID_PARAMETER, 0, 0},
    };
    for (const Case& c : cases) {
        const Platform::Ks::RequestResult result =
            filter_->GetProperty(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, c.bufferSize,
                                 IntersectionTail({c.range}));
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.information, c.information) << c.name;
        if (c.status != STATUS_SUCCESS) {
            continue;
        }
        KSDATAFORMAT_WAVEFORMATEXTENSIBLE format;
        ASSERT_GE(result.data.size(), sizeof format) << c.name;
        std::memcpy(&format, result.data.data(), sizeof format);
        EXPECT_EQ(format.DataFormat.FormatSize, 104u) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Format.nChannels, 2) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Format.nSamplesPerSec, rate) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Format.wBitsPerSample, c.bits) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Format.nBlockAlign, c.bits / 4) << c.name;
        EXPECT_EQ(format.WaveFormatExt.Samples.wValidBitsPerSample, c.bits < 24 ? c.bits : 24)
            << c.name;
        EXPECT_EQ(format.WaveFormatExt.dwChannelMask, 3u) << c.name;
        // What intersection answers, the pin takes.
        NTSTATUS status = STATUS_PENDING;
        std::vector<uint8_t> bytes(result.data.begin(), result.data.begin() + 104);
        Platform::Ks::PinHandle* pin = OpenPin(0, bytes, &status);
        EXPECT_EQ(status, STATUS_SUCCESS) << c.name;
        if (pin != nullptr) {
            pin->Close();
        }
    }
}

TEST_F(WaveFilterTest, ProposedFormatsAreCheckedAgainstTheDevice)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    auto withAverage = [](std::vector<uint8_t> bytes, ULONG average) {
        std::memcpy(bytes.data() + sizeof(KSDATAFORMAT) + 8, &average, 4);
        return bytes;
    };
    struct Case
    {
        const char* name;
        std::vector<uint8_t> format;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"16-bit stereo", PcmFormatBytes(2, 48000, 16, false), STATUS_SUCCESS},
        {"32-bit extensible", PcmFormatBytes(2, 96000, 32, true, 24), STATUS_SUCCESS},
        {"24-bit", PcmFormatBytes(2, 48000, 24, false), STATUS_NO_MATCH},
        {"plain PCM with 6 channels", PcmFormatBytes(6, 48000, 16, false), STATUS_NO_MATCH},
        {"rate not the device's", PcmFormatBytes(2, 22050, 16, false), STATUS_NO_MATCH},
        {"average bytes wrong", withAverage(PcmFormatBytes(2, 48000, 16, false), 1),
         STATUS_NO_MATCH},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> tail(8, 0);
        EXPECT_EQ(
            filter_->SetProperty(KSPROPSETID_Pin, KSPROPERTY_PIN_PROPOSEDATAFORMAT, c.format, tail)
                .status,
            c.status)
            << c.name;
    }
}

TEST_F(WaveFilterTest, RunFailsWhenTheDeviceRunsAtAnotherRate)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_EQ(ApplyRateIndex(Manager(), 1), 48000u);
    StreamTest::RecordingClient client;
    StreamConfiguration configuration{};
    Manager()->GetConfiguration(&configuration);
    ManagedClientStream* stream = Manager()->AddClientStream(&client);
    ASSERT_EQ(stream->SetCaptureFormat(&configuration, 512, 4, 0, 0), 0);
    PVOID noBuffers[1] = {};
    ASSERT_EQ(stream->NextCaptureBuffer(noBuffers, 0), 0);
    ASSERT_EQ(Manager()->SetClientStreamRunning(stream, true), 0);

    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 44100, 16, false));
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(pin->State(), KSSTATE_PAUSE);
    EXPECT_EQ(Context()->rateFixedByPin, 0);
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    Manager()->RemoveClientStream(stream);
}

TEST_F(WaveFilterTest, AcquireStopStormsCompleteEveryFrame)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    size_t submitted = 0;
    size_t completed = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(pin->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
        if (cycle % 2 == 0) {
            ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
            for (int f = 0; f < 3; ++f) {
                EXPECT_EQ(pin->Write(std::vector<uint8_t>(4 * (1 + cycle % 300), 1)),
                          STATUS_PENDING);
                ++submitted;
            }
            Run(std::chrono::milliseconds(cycle % 5));
        }
        ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
        completed += pin->Collect().size();
        ASSERT_EQ(pin->PendingFrames(), 0u) << "cycle " << cycle;
        ASSERT_FALSE(Manager()->IsAnyStreamRunning()) << "cycle " << cycle;
    }
    EXPECT_EQ(completed, submitted);
    EXPECT_EQ(pin->OutOfOrderCompletions(), 0u);
    Run(300ms);
    EXPECT_FALSE(Engine()->IsStreaming());
}

TEST_F(WaveFilterTest, SurpriseRemovalWithARunningPinCompletesEveryFrame)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    for (int f = 0; f < 20; ++f) {
        EXPECT_EQ(pin->Write(std::vector<uint8_t>(4 * 480, 1)), STATUS_PENDING);
    }
    Run(30ms);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::SurpriseRemoval), STATUS_SUCCESS);
    Run(50ms);
    NTSTATUS stateStatus = STATUS_PENDING;
    EXPECT_EQ(pin->State(&stateStatus), KSSTATE_RUN);
    EXPECT_EQ(stateStatus, STATUS_SUCCESS);
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
    const auto done = pin->Collect();
    EXPECT_EQ(pin->PendingFrames(), 0u);
    size_t frames = 0;
    for (const Platform::Ks::CompletedFrame& frame : done) {
        ++frames;
        EXPECT_TRUE(frame.status == STATUS_SUCCESS || frame.status == STATUS_DEVICE_NOT_CONNECTED ||
                    frame.status == STATUS_CANCELLED)
            << std::hex << frame.status;
    }
    EXPECT_EQ(frames, 20u);
    pin->Close();
    filter_->Close();
    EXPECT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
}

}  // namespace

namespace {

TEST(PinTimeTest, ThePerformanceCounterConvertsWithoutOverflow)
{
    EXPECT_EQ(QpcTo100ns(0x7FFFFFFFFFFFFFFFull, 10000000), 0x7FFFFFFFFFFFFFFFull);
    EXPECT_EQ(QpcToNs(0x7FFFFFFFFFFFFFFFull, 1000000000), 0x7FFFFFFFFFFFFFFFull);
    EXPECT_EQ(QpcTo100ns(3000000000ull, 3000000), 10000000000ull);
    EXPECT_EQ(QpcToNs(1, 3), 333333333ull);
}

TEST_F(WaveFilterTest, FramesWithATrailingPartialBlockAreConsumed)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    // 4 blocks and 2 bytes, 3 bytes, nothing, then whole blocks.
    const size_t sizes[] = {18, 3, 0, 16, 4000};
    size_t bytes = 0;
    for (size_t size : sizes) {
        EXPECT_EQ(pin->Write(std::vector<uint8_t>(size, 1), 64), STATUS_PENDING);
        bytes += size;
    }
    for (int ms = 0; ms < 200 && pin->Collect().size() < std::size(sizes); ++ms) {
        Run(1ms);
    }
    Run(50ms);
    pin->Collect();
    EXPECT_EQ(pin->PendingFrames(), 0u);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, bytes);
    EXPECT_EQ(position.WriteOffset, bytes);
}

TEST_F(WaveFilterTest, SettingThePositionKeepsWholeBlocks)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    Platform::Ks::PinHandle* pin = OpenPin(0, PcmFormatBytes(2, 48000, 16, false));
    ASSERT_NE(pin, nullptr);
    ASSERT_EQ(pin->SetPosition({500, 1001}), STATUS_SUCCESS);
    KSAUDIO_POSITION position{};
    ASSERT_EQ(pin->GetPosition(&position), STATUS_SUCCESS);
    EXPECT_EQ(position.PlayOffset, 500u);
    EXPECT_EQ(position.WriteOffset, 1000u);
}

// Every allocation of a filter's open failed in turn: the open fails cleanly, and the device's
// count of open filters and its all-closed event stay as they were.
TEST_F(WaveFilterTest, AFilterThatCannotBeListedLeavesTheOpenCountAlone)
{
    PlugInAndStart(UsbSim::ProductUac2());
    const std::u16string link = device->FindInterface(KSCATEGORY_RENDER, kProductReference);
    const LONG before = Context()->openControlFilters;
    for (uint64_t n = 1;; ++n) {
        Platform::Kernel::FailAllocationNumber(n);
        NTSTATUS status = STATUS_PENDING;
        auto handle = Platform::Ks::FilterHandle::Open(process_, *device, link, &status);
        Platform::Kernel::ClearAllocationFailures();
        if (handle != nullptr) {
            EXPECT_EQ(Context()->openControlFilters, before + 1);
            EXPECT_FALSE(KeReadStateEvent(&Context()->filtersClosedEvent));
            handle->Close();
            break;
        }
        EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << n;
        EXPECT_EQ(Context()->openControlFilters, before) << n;
        EXPECT_EQ(Context()->waveFilters, nullptr) << n;
        ASSERT_LT(n, 40u);
    }
    EXPECT_EQ(Context()->openControlFilters, before);
}

// Each allocation of a render pin's open, run and first frame failed in turn: every failure is
// a clean refusal and the pin still stops and closes.
TEST_F(WaveFilterTest, RenderPinOpenAndRunSurviveEveryAllocationFailure)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    for (uint64_t n = 1;; ++n) {
        Platform::Kernel::FailAllocationNumber(n);
        NTSTATUS status = STATUS_PENDING;
        auto pin = Platform::Ks::PinHandle::Open(*filter_, 0, PcmFormatBytes(2, 48000, 16, false),
                                                 &status);
        NTSTATUS run = STATUS_PENDING;
        if (pin != nullptr) {
            run = pin->WalkTo(KSSTATE_RUN);
            pin->Write(std::vector<uint8_t>(256, 1));
        }
        Platform::Kernel::ClearAllocationFailures();
        Run(5ms);
        if (pin != nullptr) {
            EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS) << n;
            pin->Collect();
            pin->Close();
            if (NT_SUCCESS(run) && n > 60) {
                break;
            }
        } else {
            EXPECT_FALSE(NT_SUCCESS(status)) << n;
        }
        ASSERT_LT(n, 200u);
    }
}

}  // namespace

namespace {

std::vector<uint8_t> Prefix(const Platform::Ks::RequestResult& result)
{
    return {result.data.begin(),
            result.data.begin() + static_cast<std::ptrdiff_t>(
                                      std::min<size_t>(result.information, result.data.size()))};
}

// A new data format for an open render pin: refused while the pin runs (the device plays the
// format it has), taken while it is stopped and in force at the next RUN; a format the pin cannot
// carry, or bytes that lie about their size, leave the pin its format.
TEST_F(WaveFilterTest, AnOpenPinChangesItsFormatOnlyWhileStopped)
{
    PlugInAndStart(UsbSim::ProductUac2());
    ASSERT_NE(OpenFilter(), nullptr);
    const std::vector<uint8_t> first = PcmFormatBytes(2, 48000, 16, false);
    Platform::Ks::PinHandle* pin = OpenPin(0, first);
    ASSERT_NE(pin, nullptr);
    auto set = [&](const std::vector<uint8_t>& format) {
        return pin->Handle()
            .SetProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, format)
            .status;
    };
    auto current = [&] {
        return Prefix(pin->Handle().GetProperty(KSPROPSETID_Connection,
                                                KSPROPERTY_CONNECTION_DATAFORMAT, 256));
    };
    EXPECT_EQ(current(), first);

    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(set(PcmFormatBytes(2, 48000, 32, true, 24)), static_cast<NTSTATUS>(0xC0000184));
    EXPECT_EQ(current(), first);
    ASSERT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);

    std::vector<uint8_t> cutShort = PcmFormatBytes(2, 44100, 16, false);
    cutShort.resize(40);
    std::vector<uint8_t> sizeBeyondData = PcmFormatBytes(2, 44100, 16, false);
    const ULONG tooLarge = 200;
    std::memcpy(sizeBeyondData.data(), &tooLarge, sizeof tooLarge);  // FormatSize comes first
    const struct
    {
        const char* name;
        std::vector<uint8_t> format;
        NTSTATUS status;
    } refused[] = {
        {"packed 24-bit", PcmFormatBytes(2, 48000, 24, false), STATUS_NO_MATCH},
        {"rate the device lacks", PcmFormatBytes(2, 88200, 16, false), STATUS_NO_MATCH},
        {"shorter than a data format", cutShort, STATUS_INVALID_BUFFER_SIZE},
        {"format size past its bytes", sizeBeyondData, STATUS_INVALID_BUFFER_SIZE},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(set(c.format), c.status) << c.name;
        EXPECT_EQ(current(), first) << c.name;
    }

    const std::vector<uint8_t> second = PcmFormatBytes(2, 44100, 32, true, 24);
    EXPECT_EQ(set(second), STATUS_SUCCESS);
    EXPECT_EQ(current(), second);
    ASSERT_EQ(pin->WalkTo(KSSTATE_RUN), STATUS_SUCCESS);
    LONG configurationIndex = -1;
    ULONG rateIndex = 0;
    ULONG rate = 0;
    Manager()->Routing()->GetRoutingState(&configurationIndex, &rateIndex, &rate);
    EXPECT_EQ(rate, 44100u) << "the new format's rate is in force";
    EXPECT_EQ(pin->WalkTo(KSSTATE_STOP), STATUS_SUCCESS);
}

}  // namespace
