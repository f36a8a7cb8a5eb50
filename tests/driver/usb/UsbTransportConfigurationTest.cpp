// The transport against the product as class 2 (high speed) and class 1 (full speed), and against
// the variants: descriptors, configuration, pipe table, alternate settings and their buffers.
#include "UsbTestOwner.h"

namespace {

using UsbSim::ProductVariant;

struct ProductCase
{
    const char* name;
    int audioClass;
    bool highSpeed;
    ULONG packetsPerFrame;
    ULONG maxPacket;
    LONG rateCount;
};

void PrintTo(const ProductCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProductTransport : public UsbTransportTest, public testing::WithParamInterface<ProductCase>
{
};

TEST_P(ProductTransport, ConfiguresAndStreamsOnAlternateSetting1)
{
    const ProductCase& c = GetParam();
    Start(UsbSim::BuildProductDescriptors({.audioClass = c.audioClass}));
    EXPECT_EQ(transport->HighSpeed(), c.highSpeed);
    EXPECT_EQ(transport->PacketsPerTransfer(), c.highSpeed ? 32u : 4u);
    ASSERT_NE(transport->DeviceDescriptor(), nullptr);
    EXPECT_EQ(transport->DeviceDescriptor()->idVendor, 0x2B7E);
    EXPECT_EQ(transport->DeviceDescriptor()->idProduct, 0x5C19);
    EXPECT_EQ(std::u16string(transport->ManufacturerString()), u"Corvane");
    EXPECT_EQ(std::u16string(transport->ProductString()), u"Quorvel");
    EXPECT_TRUE(transport->Configured());
    EXPECT_TRUE(Pipes().empty()) << "alternate setting 0 of the streaming interface is empty";
    EXPECT_EQ(device->AlternateSetting(1), 0);
    EXPECT_EQ(bus->BusInterfaceReferences(), 1);

    ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
    EXPECT_EQ(device->AlternateSetting(1), 1);
    const auto pipes = Pipes();
    ASSERT_EQ(pipes.size(), 1u);
    UsbPipe* out = pipes[0];
    EXPECT_EQ(transport->FindLastOutAudioPipe(), out);
    EXPECT_EQ(transport->FindLastInAudioPipe(), nullptr);
    EXPECT_EQ(out->pipeInformation.EndpointAddress, 0x01);
    EXPECT_EQ(out->pipeInformation.PipeType, UsbdPipeTypeIsochronous);
    EXPECT_EQ(out->pipeInformation.MaximumPacketSize, c.maxPacket);
    EXPECT_EQ(out->interfaceNumber, 1u);
    EXPECT_EQ(out->alternateSetting, 1);
    EXPECT_EQ(out->format.channels, 2u);
    EXPECT_EQ(out->format.subframeSize, 3u);
    EXPECT_EQ(out->format.bitResolution, 24u);
    EXPECT_EQ(out->format.rateCount, c.rateCount);
    if (c.rateCount == 3) {
        EXPECT_EQ(out->format.rates[0], 44100u);
        EXPECT_EQ(out->format.rates[1], 48000u);
        EXPECT_EQ(out->format.rates[2], 96000u);
    }
    EXPECT_TRUE(out->format.isOut && out->format.hasFormat);
    EXPECT_EQ(out->packetsPerFrame, c.packetsPerFrame);
    EXPECT_EQ(out->bytesPerFrame, c.packetsPerFrame * c.maxPacket);
    EXPECT_EQ(out->firstChannel, 0);
    EXPECT_EQ(transport->OutAudioPipes(), 1u);
    EXPECT_EQ(transport->InAudioPipes(), 0u);
    for (PVOID buffer : out->transferBuffers) {
        EXPECT_NE(buffer, nullptr);
    }
}

TEST_P(ProductTransport, SwitchingBackAndForthKeepsTheBuffers)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = GetParam().audioClass}));
    ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
    std::vector<PVOID> first(std::begin(Pipes()[0]->transferBuffers),
                             std::end(Pipes()[0]->transferBuffers));
    const size_t allocations = Platform::Kernel::OutstandingPool().size();
    ASSERT_EQ(transport->SelectAlternateSettings(false), STATUS_SUCCESS);
    EXPECT_TRUE(Pipes().empty());
    EXPECT_EQ(transport->BufferCacheCount(), 1u);
    EXPECT_EQ(device->AlternateSetting(1), 0);
    ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
    ASSERT_EQ(Pipes().size(), 1u);
    std::vector<PVOID> second(std::begin(Pipes()[0]->transferBuffers),
                              std::end(Pipes()[0]->transferBuffers));
    EXPECT_EQ(first, second);
    EXPECT_EQ(transport->BufferCacheCount(), 0u);
    EXPECT_EQ(Platform::Kernel::OutstandingPool().size(), allocations) << "nothing reallocated";
}

TEST_P(ProductTransport, SampleRateReachesTheDevice)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = GetParam().audioClass}));
    EXPECT_TRUE(transport->RateRequestFlag());
    ASSERT_EQ(transport->SetSampleRate(96000), STATUS_SUCCESS);
    EXPECT_EQ(transport->CurrentRate(), 96000u);
    EXPECT_EQ(transport->EffectiveRate(), 96000u);
    EXPECT_EQ(device->SampleRate(), 96000u);
    ASSERT_EQ(device->ClassRequests().size(), 1u);
    const auto& request = device->ClassRequests()[0];
    EXPECT_EQ(request.setup.bmRequestType, 0x22);
    EXPECT_EQ(request.setup.bRequest, 0x01);
    EXPECT_EQ(request.setup.wValue, 0x0100);
    EXPECT_EQ(request.setup.wIndex, 0x01);
    EXPECT_EQ(request.data, (std::vector<uint8_t>{0x00, 0x77, 0x01}));
    EXPECT_FALSE(transport->AlternateSettingsActive());
    EXPECT_EQ(device->AlternateSetting(1), 0) << "switched on for the request only";
}

INSTANTIATE_TEST_SUITE_P(Product, ProductTransport,
                         testing::Values(ProductCase{"Class2HighSpeed", 2, true, 8, 78, 0},
                                         ProductCase{"Class1FullSpeed", 1, false, 1, 582, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbTransportTest, Class2RateIsWhatTheClockThenReports)
{
    Start(UsbSim::ProductUac2());
    ASSERT_EQ(transport->SetSampleRate(44100), STATUS_SUCCESS);
    uint8_t current[4] = {};
    const RawClassRequest getCur{0x01, 0x0100, 0x2900, 4};
    ASSERT_EQ(transport->SendRawClassRequest(USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK,
                                             getCur, current, sizeof(current)),
              STATUS_SUCCESS);
    EXPECT_EQ(current[0] | current[1] << 8 | current[2] << 16, 44100);
}

TEST_F(UsbTransportTest, SingleRateEndpointGetsNoRequest)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .rates = {48000}}));
    EXPECT_FALSE(transport->RateRequestFlag()) << "one rate: nothing to ask for at full speed";
    ASSERT_EQ(transport->SetSampleRate(48000), STATUS_SUCCESS);
    EXPECT_EQ(transport->CurrentRate(), 48000u);
    EXPECT_TRUE(device->ClassRequests().empty());
}

TEST_F(UsbTransportTest, SingleRateEndpointIsSkippedEvenWhenAsked)
{
    // High speed never clears the flag; the endpoint's single rate still keeps the request away.
    UsbSim::ProductVariant variant{.audioClass = 1, .rates = {48000}};
    UsbSim::UsbDescriptorSet set = UsbSim::BuildProductDescriptors(variant);
    set.highSpeed = true;
    Start(set);
    EXPECT_TRUE(transport->RateRequestFlag());
    ASSERT_EQ(transport->SetSampleRate(48000), STATUS_SUCCESS);
    EXPECT_TRUE(device->ClassRequests().empty());
    EXPECT_EQ(transport->CurrentRate(), 48000u);
}

TEST_F(UsbTransportTest, FailedRateRequestRestoresAlternateSettingZero)
{
    Start(UsbSim::ProductUac1());
    ASSERT_EQ(transport->SetSampleRate(48000), STATUS_SUCCESS);
    device->StallRequests(0x22, 0x01);
    EXPECT_EQ(transport->SetSampleRate(96000), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(transport->CurrentRate(), 48000u) << "the old rate stays";
    EXPECT_EQ(device->SampleRate(), 48000u);
    EXPECT_FALSE(transport->AlternateSettingsActive());
    EXPECT_EQ(device->AlternateSetting(1), 0) << "no bandwidth held after the failure";
}

TEST_F(UsbTransportTest, RateRequestWithoutAudioPipesFails)
{
    Start(UsbSim::BuildProductDescriptors({.outChannels = 0, .midi = true}), UsbConfigRecord{});
    EXPECT_EQ(transport->SetSampleRate(48000), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(transport->CurrentRate(), 0u);
}

TEST_F(UsbTransportTest, TwoRatesAtFullSpeedAskForRequests)
{
    Start(UsbSim::BuildProductDescriptors({.audioClass = 1, .rates = {44100, 48000}}));
    EXPECT_TRUE(transport->RateRequestFlag());
}

TEST_F(UsbTransportTest, VariantEndpointsAreFoundAndClassified)
{
    for (int audioClass : {1, 2}) {
        SCOPED_TRACE(audioClass);
        UsbConfigRecord record = ProductRecord();
        record.alternateSettings[2] = 1;
        Start(UsbSim::BuildProductDescriptors({.audioClass = audioClass,
                                               .outChannels = 8,
                                               .inChannels = 4,
                                               .feedback = true,
                                               .midi = true}),
              record);
        auto pipes = Pipes();
        ASSERT_EQ(pipes.size(), 2u) << "the MIDI endpoints, at alternate setting 0";
        for (UsbPipe* midi : pipes) {
            EXPECT_TRUE(midi->format.isMidi);
            EXPECT_FALSE(midi->format.hasFormat);
            EXPECT_EQ(midi->pipeInformation.PipeType, UsbdPipeTypeBulk);
            EXPECT_EQ(midi->interfaceNumber, 3u);
        }
        EXPECT_TRUE(pipes[0]->format.isOut);
        EXPECT_TRUE(pipes[1]->format.isIn);

        ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
        pipes = Pipes();
        ASSERT_EQ(pipes.size(), 5u);
        UsbPipe* out = transport->FindLastOutAudioPipe();
        UsbPipe* in = transport->FindLastInAudioPipe();
        ASSERT_TRUE(out && in);
        EXPECT_EQ(out->format.channels, 8u);
        EXPECT_EQ(in->format.channels, 4u);
        EXPECT_EQ(in->pipeInformation.EndpointAddress, 0x82);
        EXPECT_NE(in->transferBuffers[14], nullptr);
        EXPECT_EQ(transport->OutAudioPipes(), 1u);
        EXPECT_EQ(transport->InAudioPipes(), 1u);
        const auto feedback = std::find_if(pipes.begin(), pipes.end(),
                                           [](UsbPipe* p) { return p->format.isFeedback; });
        ASSERT_NE(feedback, pipes.end());
        EXPECT_EQ((*feedback)->pipeInformation.EndpointAddress, 0x81);
        EXPECT_FALSE((*feedback)->format.hasFormat);
        EXPECT_EQ((*feedback)->transferBuffers[0], nullptr);
        Unplug();
    }
}

// The product with its OUT streaming interface repeated as interface 2 (endpoint 0x02).
UsbSim::UsbDescriptorSet TwoOutInterfaces()
{
    UsbSim::UsbDescriptorSet set = UsbSim::ProductUac2();
    std::vector<uint8_t>& bytes = set.configurations[0];
    size_t start = 0;
    for (size_t at = 9; at < bytes.size(); at += bytes[at]) {
        if (bytes[at + 1] == 4 && bytes[at + 2] == 1 && start == 0) {
            start = at;
        }
    }
    std::vector<uint8_t> copy(bytes.begin() + start, bytes.end());
    for (size_t at = 0; at < copy.size(); at += copy[at]) {
        if (copy[at + 1] == 4) {
            copy[at + 2] = 2;
        } else if (copy[at + 1] == 5) {
            copy[at + 2] = 0x02;
        }
    }
    bytes.insert(bytes.end(), copy.begin(), copy.end());
    bytes[2] = static_cast<uint8_t>(bytes.size());
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    bytes[4] = 3;
    return set;
}

TEST_F(UsbTransportTest, FirstChannelsCountAlongEachDirection)
{
    UsbConfigRecord record = ProductRecord();
    record.alternateSettings[2] = 1;
    Start(TwoOutInterfaces(), record);
    ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
    const auto pipes = Pipes();
    ASSERT_EQ(pipes.size(), 2u);
    EXPECT_EQ(pipes[0]->firstChannel, 0);
    EXPECT_EQ(pipes[1]->firstChannel, 2) << "after the two channels of the first OUT pipe";
    EXPECT_EQ(transport->OutAudioPipes(), 2u);
    EXPECT_EQ(transport->FindLastOutAudioPipe(), pipes[1]);
}

TEST_F(UsbTransportTest, ConfigurationChoice)
{
    struct Row
    {
        uint8_t configurations;
        UCHAR number;
        ULONG selected;
    } rows[] = {{1, 0, 0}, {2, 0, 1}, {2, 1, 0}, {2, 3, 1}, {4, 2, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.configurations) << " " << int(row.number));
        UsbConfigRecord record = ProductRecord();
        record.configurationNumber = row.number;
        Start(UsbSim::BuildProductDescriptors({.configurationCount = row.configurations}), record);
        EXPECT_EQ(transport->SelectedConfiguration(), row.selected);
        const UsbSim::ConfigurationModel* active = device->ActiveConfiguration();
        ASSERT_NE(active, nullptr);
        EXPECT_EQ(active->value, row.selected + 1);
        Unplug();
    }
}

TEST_F(UsbTransportTest, HighSpeedIntervalSetsPacketsPerFrame)
{
    struct Row
    {
        uint8_t interval;
        ULONG packets;
    } rows[] = {{1, 8}, {2, 4}, {3, 2}, {4, 1}, {5, 1}};
    for (const Row& row : rows) {
        UsbSim::UsbDescriptorSet set = UsbSim::ProductUac2();
        auto& bytes = set.configurations[0];
        for (size_t at = 0; at + 6 < bytes.size(); at += bytes[at]) {
            if (bytes[at + 1] == 5 && bytes[at + 2] == 0x01) {
                bytes[at + 6] = row.interval;
            }
        }
        Start(set);
        ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
        EXPECT_EQ(Pipes()[0]->packetsPerFrame, row.packets) << int(row.interval);
        Unplug();
    }
}

TEST_F(UsbTransportTest, NextPipeSurvivesRemovalBetweenCalls)
{
    UsbConfigRecord record = ProductRecord();
    record.alternateSettings[2] = 1;
    Start(UsbSim::BuildProductDescriptors({.inChannels = 2, .feedback = true, .midi = true}),
          record);
    ASSERT_EQ(transport->SelectAlternateSettings(true), STATUS_SUCCESS);
    const auto all = Pipes();
    ASSERT_EQ(all.size(), 5u);
    // MIDI OUT, MIDI IN, then interface 1 (OUT, feedback), then interface 2 (IN).
    UsbPipe* pipe = nullptr;
    ULONG index = 0;
    ASSERT_TRUE(transport->NextPipe(&pipe, &index));
    ASSERT_TRUE(transport->NextPipe(&pipe, &index));
    ASSERT_TRUE(transport->NextPipe(&pipe, &index));
    EXPECT_EQ(pipe, all[2]);
    // Interface 1 leaves the table: the entry that takes index 2 (interface 2's pipe) is next.
    ASSERT_EQ(transport->SelectInterface(1, 0), STATUS_SUCCESS);
    ASSERT_TRUE(transport->NextPipe(&pipe, &index));
    EXPECT_EQ(pipe, all[4]);
    EXPECT_FALSE(transport->NextPipe(&pipe, &index));
    EXPECT_EQ(pipe, nullptr);
}

TEST_F(UsbTransportTest, MissingInterfaceOrSettingIsAnInvalidParameter)
{
    Start(UsbSim::ProductUac2());
    EXPECT_EQ(transport->SelectInterface(1, 2), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(transport->SelectInterface(7, 0), STATUS_INVALID_PARAMETER);
}

}  // namespace
