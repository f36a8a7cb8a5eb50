// The endpoints and names the device offers per stream configuration, over device models from the
// product's two outputs to twelve, with inputs, described endpoints and odd channel counts; and
// the MIDI filters the port ids pair up.
#include <gtest/gtest.h>
#include <ks.h>

#include <string>
#include <vector>

#include "device/EndpointList.h"
#include "device/PinNameCategories.h"
#include "device/ProductConfigurations.h"

namespace {

constexpr ULONG kLine = ChannelKindTag("line");
constexpr ULONG kSpdf = ChannelKindTag("spdf");
constexpr ULONG kSpdo = ChannelKindTag("spdo");

std::string Narrow(const char16_t* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

std::string PinNameOf(const GUID* guid)
{
    if (guid == nullptr) {
        return "-";
    }
    for (const PinNameCategory& row : kPinNameCategories) {
        if (IsEqualGUIDAligned(row.guid, *guid)) {
            return Narrow(row.name);
        }
    }
    return "?";
}

// One line per endpoint: name | first+count | kind | flags | pin name | rates.
std::string Describe(const WaveEndpoint& e)
{
    std::string flags =
        std::string(e.mainOutput ? "M" : "") + (e.capture ? "C" : "") + (e.digital ? "D" : "");
    return Narrow(e.name) + "|" + std::to_string(e.firstChannel) + "+" +
           std::to_string(e.channelCount) + "|" + std::to_string(static_cast<LONG>(e.kind)) + "|" +
           flags + "|" + PinNameOf(e.pinName) + "|" + std::to_string(e.lowestRate) + "-" +
           std::to_string(e.highestRate);
}

class RecordingSink final : public WaveEndpointSink
{
public:
    void AttachEndpoint(const WaveEndpoint& endpoint) override
    {
        EXPECT_EQ(endpoint.systemVersion, 0x0A000000u);
        EXPECT_EQ(endpoint.interfaceState, 1);
        lines.push_back(Describe(endpoint));
    }
    std::vector<std::string> lines;
};

const ULONG kProductRates[] = {44100, 48000, 88200, 96000};

struct Model
{
    const char* what;
    std::vector<ULONG> outputs;
    std::vector<ULONG> inputs;
    std::vector<ULONG> describedOutputChannels;
    std::vector<std::string> expected;
    const char16_t* product = u"Quorvel";
};

std::vector<std::string> ListFor(const Model& m)
{
    static const char16_t* const kDescribedNames[] = {u"Main", u"Phones", u"Reamp"};
    static const GUID* const kDescribedGuids[] = {
        &kPinNameCategories[24].guid, &kPinNameCategories[16].guid, &kPinNameCategories[23].guid};
    StreamConfiguration c{};
    c.deviceOutputChannels = static_cast<ULONG>(m.outputs.size());
    c.outputChannels = c.deviceOutputChannels;
    c.outputChannelKinds = m.outputs.data();
    c.outputEndpointCount = static_cast<ULONG>(m.describedOutputChannels.size());
    c.outputEndpointChannels = m.describedOutputChannels.data();
    c.outputEndpointNames = kDescribedNames;
    c.outputEndpointNameGuids = kDescribedGuids;
    c.deviceInputChannels = static_cast<ULONG>(m.inputs.size());
    c.inputChannels = c.deviceInputChannels;
    c.inputChannelKinds = m.inputs.data();
    const EndpointSources sources{&c,
                                  c.deviceOutputChannels,
                                  c.deviceInputChannels,
                                  static_cast<ULONG>(std::size(kProductRates)),
                                  kProductRates,
                                  m.product,
                                  0x0A000000};
    RecordingSink sink;
    ListWaveEndpoints(sources, &sink);
    return sink.lines;
}

std::vector<ULONG> Lines(ULONG count)
{
    return std::vector<ULONG>(count, kLine);
}

const char* const kRates = "44100-96000";

std::string Row(const std::string& head)
{
    return head + "|" + kRates;
}

}  // namespace

TEST(EndpointListTest, ModelsYieldTheirEndpointsAndNames)
{
    const std::vector<Model> models = {
        {"the product: two line outputs",
         Lines(2),
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2")}},
        {"three outputs: the last endpoint takes only the channel that exists",
         Lines(3),
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0||Line 1/2"),
          Row("Corvane Quorvel Stereo Out 3-3|2+1|0||Line 3/4"),
          Row("Corvane Quorvel Multi Out|0+3|0|M|Multichannel")}},
        {"four outputs: two pairs and a main multichannel endpoint",
         Lines(4),
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0||Line 1/2"),
          Row("Corvane Quorvel Stereo Out 3-4|2+2|0||Line 3/4"),
          Row("Corvane Quorvel Multi Out|0+4|0|M|Multichannel")}},
        {"twelve outputs: the two-digit line names, shorter names past 31 characters",
         Lines(12),
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0||Line 01/02"),
          Row("Corvane Quorvel Stereo Out 3-4|2+2|0||Line 03/04"),
          Row("Corvane Quorvel Stereo Out 5-6|4+2|0||Line 05/06"),
          Row("Corvane Quorvel Stereo Out 7-8|6+2|0||Line 07/08"),
          Row("Corvane Quorvel Stereo Out 9-10|8+2|0||Line 09/10"),
          Row("Corvane Quorvel Out 11-12|10+2|0||Line 11/12"),
          Row("Corvane Quorvel Multi Out|0+12|0|M|Multichannel")}},
        {"eight line and two digital outputs",
         {kLine, kLine, kLine, kLine, kLine, kLine, kLine, kLine, kSpdf, kSpdo},
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0||Line 1/2"),
          Row("Corvane Quorvel Stereo Out 3-4|2+2|0||Line 3/4"),
          Row("Corvane Quorvel Stereo Out 5-6|4+2|0||Line 5/6"),
          Row("Corvane Quorvel Stereo Out 7-8|6+2|0||Line 7/8"),
          Row("Corvane Quorvel Stereo Out 9-10|8+2|1|D|S/PDIF"),
          Row("Corvane Quorvel Multi Out|0+10|3|MD|Multichannel")}},
        {"digital first: the first channel's kind does not count in the multichannel kind",
         {kSpdf, kSpdf, kSpdf},
         {},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|1|D|S/PDIF"),
          Row("Corvane Quorvel Stereo Out 3-3|2+1|1|D|S/PDIF"),
          Row("Corvane Quorvel Multi Out|0+3|1|MD|Multichannel")}},
        {"two outputs and four inputs",
         Lines(2),
         Lines(4),
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2"),
          Row("Corvane Quorvel Stereo In 1-2|0+2|0|C|Line 1/2"),
          Row("Corvane Quorvel Stereo In 3-4|2+2|0|C|Line 3/4"),
          Row("Corvane Quorvel Multichannel In|0+4|0|C|Multichannel")}},
        {"digital inputs carry no digital flag",
         Lines(2),
         {kLine, kLine, kSpdf, kSpdf},
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2"),
          Row("Corvane Quorvel Stereo In 1-2|0+2|0|C|Line 1/2"),
          Row("Corvane Quorvel Stereo In 3-4|2+2|1|C|S/PDIF"),
          Row("Corvane Quorvel Multichannel In|0+4|3|C|Multichannel")}},
        {"twelve inputs take the two-digit names on the input count",
         Lines(2),
         Lines(12),
         {},
         {Row("Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2"),
          Row("Corvane Quorvel Stereo In 1-2|0+2|0|C|Line 01/02"),
          Row("Corvane Quorvel Stereo In 3-4|2+2|0|C|Line 03/04"),
          Row("Corvane Quorvel Stereo In 5-6|4+2|0|C|Line 05/06"),
          Row("Corvane Quorvel Stereo In 7-8|6+2|0|C|Line 07/08"),
          Row("Corvane Quorvel Stereo In 9-10|8+2|0|C|Line 09/10"),
          Row("Corvane Quorvel Stereo In 11-12|10+2|0|C|Line 11/12"),
          Row("Corvane Quorvel Multichannel In|0+12|0|C|Multichannel")}},
        {"described endpoints; the last one takes only the channels left",
         Lines(5),
         {},
         {2, 4},
         {Row("Corvane Quorvel Main|0+2|0||Main Out 1/2"),
          Row("Corvane Quorvel Phones|2+3|0||Monitor"),
          Row("Corvane Quorvel Multi Out|0+5|0|M|Multichannel")}},
        {"a described endpoint on a two-output device is the main output",
         Lines(2),
         {},
         {2},
         {Row("Corvane Quorvel Main|0+2|0|M|Main Out 1/2")}},
        {"a long product name falls back to the shorter formats",
         Lines(4),
         {},
         {},
         {Row("Quorvel Professional Out 1-2|0+2|0||Line 1/2"),
          Row("Quorvel Professional Out 3-4|2+2|0||Line 3/4"),
          Row("Quorvel Professional Multi Out|0+4|0|M|Multichannel")},
         u"Quorvel Professional"},
        {"the last format is kept even when cut",
         Lines(2),
         {},
         {},
         {Row("Quorvel Professional Studio Edi|0+2|0|M|Line 1/2")},
         u"Quorvel Professional Studio Edition"},
        {"no channels, no endpoints", {}, {}, {}, {}},
    };
    for (const Model& m : models) {
        EXPECT_EQ(ListFor(m), m.expected) << m.what;
    }
}

TEST(EndpointListTest, ProductConfigurationGivesOneMainLineEndpoint)
{
    StreamConfiguration c{};
    ASSERT_TRUE(CopyProductConfiguration(0, &c));
    ULONG rateCount = 0;
    const ULONG* rates = ProductSupportedRates(&rateCount);
    const EndpointSources sources{&c, 2, 0, rateCount, rates, u"Quorvel", 0x0A000000};
    RecordingSink sink;
    ListWaveEndpoints(sources, &sink);
    EXPECT_EQ(sink.lines, std::vector<std::string>{
                              "Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2|44100-96000"});
}

TEST(EndpointListTest, WithoutRatesBothEndsAre44100)
{
    StreamConfiguration c{};
    const std::vector<ULONG> kinds = Lines(2);
    c.outputChannels = 2;
    c.outputChannelKinds = kinds.data();
    const EndpointSources sources{&c, 2, 0, 0, nullptr, u"Quorvel", 0x0A000000};
    RecordingSink sink;
    ListWaveEndpoints(sources, &sink);
    EXPECT_EQ(sink.lines, std::vector<std::string>{
                              "Corvane Quorvel Stereo Out 1-2|0+2|0|M|Line 1/2|44100-44100"});
}

namespace {

class MidiRecorder final : public MidiFilterSink
{
public:
    void AddMidiFilter(const MidiFilterPlan& plan) override
    {
        plans.push_back(std::to_string(plan.kind) + ":" + std::to_string(plan.inputIndex) + "," +
                        std::to_string(plan.outputIndex));
    }
    std::vector<std::string> plans;
};

std::vector<std::string> MidiFiltersFor(std::vector<LONG> inputIds, std::vector<LONG> outputIds)
{
    std::vector<ULONG> in(inputIds.begin(), inputIds.end());
    std::vector<ULONG> out(outputIds.begin(), outputIds.end());
    MidiConfiguration c{};
    c.inputPortCount = static_cast<ULONG>(in.size());
    c.inputPortIds = in.data();
    c.outputPortCount = static_cast<ULONG>(out.size());
    c.outputPortIds = out.data();
    MidiRecorder recorder;
    ListMidiFilters(c, &recorder);
    return recorder.plans;
}

}  // namespace

TEST(EndpointListTest, MidiFiltersOnePerPortPair)
{
    struct Case
    {
        const char* what;
        std::vector<LONG> inputs;
        std::vector<LONG> outputs;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"no ports (the product)", {}, {}, {}},
        {"pairs by id, in output order", {0, 1}, {1, 0}, {"2:1,0", "2:0,1"}},
        {"an output alone, then an input alone", {5}, {7}, {"1:-1,0", "0:0,-1"}},
        {"negative ids are no ports", {-1, 3}, {-1, 3, 4}, {"2:1,1", "1:-1,2"}},
        {"four each way", {0, 1, 2, 3}, {0, 1, 2, 3}, {"2:0,0", "2:1,1", "2:2,2", "2:3,3"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MidiFiltersFor(c.inputs, c.outputs), c.expected) << c.what;
    }
}
