// The MIDI filters a port table gives: one per output (paired with the input of the same id), one
// per input no output took, none for private ports; their pins, nodes, reference strings and
// interface values; and what their nodes, clock and pins answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "MidiPinFixture.h"

namespace {

using Platform::Ks::PropertyBytes;

struct ExpectedFilter
{
    std::u16string reference;
    ULONG kind;
    LONG input;
    LONG output;
    ULONG pins;
    std::u16string friendlyName;
};

struct TableCase
{
    const char* name;
    MidiPortTable table;
    std::vector<ExpectedFilter> filters;
};

std::u16string Utf16Of(const std::vector<uint8_t>& data)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

class MidiFilterTest : public MidiPinTest
{
};

const TableCase kTables[] = {
    {"TwoInThreeOut",
     TwoInThreeOut(),
     {{u"PORTA", 2, 0, 0, 5, u"Port A"},
      {u"PORTB", 2, 1, 1, 5, u"Port B"},
      {u"PORTCO", 1, -1, 2, 3, u"Port C"}}},
    {"UnpairedEachWay",
     {{{u"Port A", 7}}, {{u"Port A", 8}}},
     {{u"PORTAO", 1, -1, 0, 3, u"Port A"}, {u"PORTAI", 0, 0, -1, 2, u"Port A"}}},
    {"PrivatePortsAreNoFilters",
     {{{u"Private In", -1}, {u"Keys", 3}}, {{u"Private Out", -2}, {u"Synth", 4}}},
     {{u"SYNTHO", 1, -1, 1, 3, u"Synth"}, {u"KEYSI", 0, 1, -1, 2, u"Keys"}}},
    {"NamesAreCutAndCleaned",
     {{}, {{u"my-port\u00A0one: the very long name of it all", 0}, {u"\u00E9t\u00E9 9", 1}}},
     {{u"MYPORT_ONETHEVERYLONGNAMEO", 1, -1, 0, 3,
       u"my-port\u00A0one: the very long name of it all"},
      {u"T9O", 1, -1, 1, 3, u"\u00E9t\u00E9 9"}}},
    {"InputsPairWithTheOutputOfTheirId",
     {{{u"In 1", 5}, {u"In 2", 4}}, {{u"Out 1", 4}, {u"Out 2", 5}}},
     {{u"OUT1", 2, 1, 0, 5, u"Out 1"}, {u"OUT2", 2, 0, 1, 5, u"Out 2"}}},
};

}  // namespace

TEST_F(MidiFilterTest, EachPortTableGivesItsFilters)
{
    for (const TableCase& c : kTables) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(PlugIn(c.table), nullptr);
        const std::vector<MidiFilter*> filters = MidiFilters();
        ASSERT_EQ(filters.size(), c.filters.size());
        for (size_t i = 0; i < filters.size(); ++i) {
            const ExpectedFilter& want = c.filters[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(filters[i]->kind, want.kind);
            EXPECT_EQ(filters[i]->inputPort, want.input);
            EXPECT_EQ(filters[i]->outputPort, want.output);
            EXPECT_EQ(filters[i]->pinCount, want.pins);
            EXPECT_EQ(filters[i]->descriptor->NodeDescriptorsCount, want.kind == 2 ? 2u : 1u);
            EXPECT_EQ(filters[i]->descriptor->CategoriesCount, want.kind == 2 ? 3u : 2u);
            EXPECT_EQ(filters[i]->enabled, 1);
            for (const GUID& category :
                 {KSCATEGORY_AUDIO, want.kind == 1 ? KSCATEGORY_RENDER : KSCATEGORY_CAPTURE}) {
                EXPECT_FALSE(device->FindInterface(category, want.reference).empty());
            }
            // The values live under the factory's first interface, the audio one.
            const std::u16string link = device->FindInterface(KSCATEGORY_AUDIO, want.reference);
            for (const Platform::Ks::DeviceInterface& i : device->Interfaces()) {
                if (i.symbolicLink != link) {
                    continue;
                }
                EXPECT_TRUE(i.enabled);
                const auto values = Platform::Ks::InterfaceValues(i);
                ASSERT_EQ(values.size(), 2u);
                EXPECT_EQ(values[0].name, u"CLSID");
                EXPECT_EQ(Utf16Of(values[0].data), u"{17CCA71B-ECD7-11D0-B908-00A0C9223196}");
                EXPECT_EQ(values[1].name, u"FriendlyName");
                EXPECT_EQ(Utf16Of(values[1].data), want.friendlyName);
            }
        }
        ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Remove), STATUS_SUCCESS);
        Platform::Kernel::RunPending();
    }
}

TEST_F(MidiFilterTest, PinsOfAPairFilterAreInTheirPlaces)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    const MidiFilter* pair = MidiFilters().at(0);
    const KSPIN_DESCRIPTOR_EX* pins = pair->pins;
    EXPECT_EQ(pins[0].PinDescriptor.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(pins[0].InstancesPossible, 4u);
    EXPECT_EQ(pins[0].Flags, 0x10001u);
    EXPECT_TRUE(IsEqualGUIDAligned(pins[0].PinDescriptor.DataRanges[0]->SubFormat,
                                   KSDATAFORMAT_SUBTYPE_MIDI));
    EXPECT_TRUE(IsEqualGUIDAligned(pins[1].PinDescriptor.DataRanges[0]->SubFormat,
                                   KSDATAFORMAT_SUBTYPE_DIRECTMUSIC));
    EXPECT_EQ(pins[2].PinDescriptor.Communication, KSPIN_COMMUNICATION_NONE);
    EXPECT_EQ(pins[3].PinDescriptor.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(pins[4].PinDescriptor.DataFlow, KSPIN_DATAFLOW_OUT);
    EXPECT_EQ(pins[4].PinDescriptor.DataRangesCount, 2u);
    EXPECT_EQ(pins[4].AllocatorFraming->FramingItem[0].Frames, 0u);
    EXPECT_EQ(pins[4].AllocatorFraming->FramingItem[0].FramingRange.Range.MaxFrameSize, 4096u);
    EXPECT_EQ(pins[0].AllocatorFraming->FramingItem[0].FramingRange.Range.MaxFrameSize, 8192u);
    EXPECT_EQ(pair->descriptor->ConnectionsCount, 5u);
    const KSTOPOLOGY_CONNECTION last = pair->descriptor->Connections[4];
    EXPECT_EQ(last.FromNode, 1u);
    EXPECT_EQ(last.ToNode, KSFILTER_NODE);
    EXPECT_EQ(last.ToNodePin, 4u);
}

namespace {

std::vector<uint8_t> NodeProperty(ULONG id, ULONG node, ULONG flags,
                                  const std::vector<uint8_t>& tail = {})
{
    // Sized once, so the optimiser sees no insert into an eight-byte vector.
    std::vector<uint8_t> ids(8 + tail.size(), 0);
    std::memcpy(ids.data(), &node, sizeof node);
    std::copy(tail.begin(), tail.end(), ids.begin() + 8);
    return PropertyBytes(KSPROPSETID_Synth, id, flags | KSPROPERTY_TYPE_TOPOLOGY, ids);
}

template <typename T>
T As(const Platform::Ks::RequestResult& result)
{
    T value{};
    std::memcpy(&value, result.data.data(), std::min(sizeof value, result.data.size()));
    return value;
}

}  // namespace

TEST_F(MidiFilterTest, SynthNodesAnswerTheirCapabilities)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTA");
    ASSERT_NE(filter, nullptr);
    struct CapsCase
    {
        ULONG node;
        const char16_t* description;
        uint32_t guidData1;
    };
    for (const CapsCase& c :
         {CapsCase{0, u"MIDI Out ", 0xD3F0CE1C}, CapsCase{1, u"MIDI In ", 0xD3F0CE1D}}) {
        const auto result = filter->DeviceIoControl(
            IOCTL_KS_PROPERTY, NodeProperty(KSPROPERTY_SYNTH_CAPS, c.node, KSPROPERTY_TYPE_GET),
            sizeof(SYNTHCAPS));
        ASSERT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.information, sizeof(SYNTHCAPS));
        const auto caps = As<SYNTHCAPS>(result);
        EXPECT_EQ(caps.Guid.Data1, c.guidData1);
        EXPECT_EQ(std::u16string(caps.Description), c.description);
        EXPECT_EQ(caps.Flags, 2u);
        EXPECT_EQ(caps.MaxChannelGroups, 1u);
        EXPECT_EQ(caps.MaxVoices, 0xFFFFFFFFu);
        EXPECT_EQ(caps.MaxAudioChannels, 0xFFFFFFFFu);
    }
    // A node the filter does not have is not answered.
    EXPECT_NE(filter
                  ->DeviceIoControl(IOCTL_KS_PROPERTY,
                                    NodeProperty(KSPROPERTY_SYNTH_CAPS, 2, KSPROPERTY_TYPE_GET),
                                    sizeof(SYNTHCAPS))
                  .status,
              STATUS_SUCCESS);
}

TEST_F(MidiFilterTest, PortParametersAnswerOneChannelGroup)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTCO");
    ASSERT_NE(filter, nullptr);
    struct ParamsCase
    {
        ULONG valid;
        ULONG groups;
        NTSTATUS status;
        ULONG validAnswered;
    };
    for (const ParamsCase& c :
         {ParamsCase{0x2, 16, STATUS_NOT_ALL_ASSIGNED, 0x2},
          ParamsCase{0x2, 1, STATUS_SUCCESS, 0x2}, ParamsCase{0xFFFF, 1, STATUS_SUCCESS, 0x2},
          ParamsCase{0x1, 16, STATUS_SUCCESS, 0}}) {
        SYNTH_PORTPARAMS asked{c.valid, 32, c.groups, 2, 48000, 0, 0};
        std::vector<uint8_t> tail(sizeof asked);
        std::memcpy(tail.data(), &asked, sizeof asked);
        const auto result = filter->DeviceIoControl(
            IOCTL_KS_PROPERTY,
            NodeProperty(KSPROPERTY_SYNTH_PORTPARAMETERS, 0, KSPROPERTY_TYPE_GET, tail),
            sizeof(SYNTH_PORTPARAMS));
        EXPECT_EQ(result.status, c.status);
        const auto answer = As<SYNTH_PORTPARAMS>(result);
        EXPECT_EQ(answer.ChannelGroups, 1u);
        EXPECT_EQ(answer.ValidParams, c.validAnswered);
        EXPECT_EQ(answer.Voices, 32u);
    }
    const auto groups = filter->DeviceIoControl(
        IOCTL_KS_PROPERTY, NodeProperty(KSPROPERTY_SYNTH_CHANNELGROUPS, 0, KSPROPERTY_TYPE_GET),
        sizeof(ULONG));
    ASSERT_EQ(groups.status, STATUS_SUCCESS);
    EXPECT_EQ(As<ULONG>(groups), 1u);
}

TEST_F(MidiFilterTest, TheLatencyClockRunsFourMillisecondsAheadOfTheMasterClock)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_CAPTURE, u"PORTB");
    ASSERT_NE(filter, nullptr);
    Run(std::chrono::milliseconds(7));
    const std::vector<uint8_t> node(8, 0);
    const auto master =
        filter->DeviceIoControl(IOCTL_KS_PROPERTY,
                                PropertyBytes(KSPROPSETID_SynthClock, KSPROPERTY_SYNTH_MASTERCLOCK,
                                              KSPROPERTY_TYPE_GET, node),
                                sizeof(LONGLONG));
    const auto latency = filter->DeviceIoControl(
        IOCTL_KS_PROPERTY, NodeProperty(KSPROPERTY_SYNTH_LATENCYCLOCK, 0, KSPROPERTY_TYPE_GET),
        sizeof(LONGLONG));
    ASSERT_EQ(master.status, STATUS_SUCCESS);
    ASSERT_EQ(latency.status, STATUS_SUCCESS);
    EXPECT_EQ(As<LONGLONG>(master), Now100ns());
    EXPECT_EQ(As<LONGLONG>(latency) - As<LONGLONG>(master), 40000);
    std::vector<uint8_t> value(8, 0);
    EXPECT_EQ(
        filter
            ->DeviceIoControl(IOCTL_KS_PROPERTY,
                              PropertyBytes(KSPROPSETID_SynthClock, KSPROPERTY_SYNTH_MASTERCLOCK,
                                            KSPROPERTY_TYPE_SET, node),
                              8, value)
            .status,
        STATUS_SUCCESS);
}

TEST_F(MidiFilterTest, StreamingPinsTakeMidiAndDirectMusicOnly)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    Platform::Ks::FilterHandle* filter = OpenFilter(KSCATEGORY_AUDIO, u"PORTA");
    ASSERT_NE(filter, nullptr);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    EXPECT_NE(OpenPin(filter, kMidiPairPinInput, true, &status), nullptr);
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_NE(OpenPin(filter, kMidiPairPinInput, false, &status), nullptr);
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_NE(OpenPin(filter, kMidiOutPinRaw, false, &status), nullptr);
    EXPECT_NE(OpenPin(filter, kMidiOutPinDirectMusic, true, &status), nullptr);
    EXPECT_EQ(
        Platform::Ks::PinHandle::Open(*filter, kMidiPairPinInput,
                                      Platform::Ks::PcmFormatBytes(2, 48000, 16, false), &status),
        nullptr);
    EXPECT_EQ(status, STATUS_NO_MATCH);
}

// A stop and a new start keep one filter per port pair, its interfaces enabled.
TEST_F(MidiFilterTest, ARestartKeepsOneFilterPerPort)
{
    ASSERT_NE(PlugIn(TwoInThreeOut()), nullptr);
    ASSERT_EQ(MidiFilters().size(), 3u);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::QueryStop), STATUS_SUCCESS);
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Stop), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    ASSERT_EQ(device->Send(Platform::Ks::PnpRequest::Start), STATUS_SUCCESS);
    Platform::Kernel::RunPending();
    const std::vector<MidiFilter*> filters = MidiFilters();
    ASSERT_EQ(filters.size(), 3u);
    for (const MidiFilter* filter : filters) {
        EXPECT_EQ(filter->enabled, 1);
    }
    size_t audioInterfaces = 0;
    for (const Platform::Ks::DeviceInterface& i : device->Interfaces()) {
        if (IsEqualGUIDAligned(i.category, KSCATEGORY_AUDIO) &&
            i.referenceString.rfind(u"PORT", 0) == 0) {
            ++audioInterfaces;
            EXPECT_TRUE(i.enabled);
        }
    }
    EXPECT_EQ(audioInterfaces, 3u);
    ASSERT_NE(OpenFilter(KSCATEGORY_RENDER, u"PORTCO"), nullptr);
}
