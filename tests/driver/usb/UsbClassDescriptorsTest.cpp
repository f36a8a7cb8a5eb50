// The endpoint format read from class-specific descriptors: the product's descriptors, and
// hand-made configurations for the edge cases and the malformed ones. Every configuration lives in
// a buffer of exactly wTotalLength bytes, so AddressSanitizer catches a read past the end.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "UsbDescriptorSet.h"
#include "usb/UsbClassDescriptors.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A configuration descriptor followed by the given descriptors, in a buffer of its exact size.
struct Configuration
{
    explicit Configuration(const std::vector<Bytes>& descriptors)
    {
        Bytes all{9, 2, 0, 0, 1, 1, 0, 0x80, 50};
        for (const Bytes& d : descriptors) {
            all.insert(all.end(), d.begin(), d.end());
        }
        all[2] = static_cast<uint8_t>(all.size());
        all[3] = static_cast<uint8_t>(all.size() >> 8);
        Adopt(all);
    }
    explicit Configuration(const Bytes& whole) { Adopt(whole); }
    void Adopt(const Bytes& bytes)
    {
        size = bytes.size();
        storage = std::make_unique<uint8_t[]>(size);
        std::copy(bytes.begin(), bytes.end(), storage.get());
    }
    PUSB_CONFIGURATION_DESCRIPTOR Get() const
    {
        return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(storage.get());
    }
    // The interface descriptor (number, alt), found by a plain walk of the test's own bytes.
    PUSB_INTERFACE_DESCRIPTOR Interface(uint8_t number, uint8_t alt) const
    {
        for (size_t at = 0; at + 1 < size && storage[at] >= 2; at += storage[at]) {
            if (storage[at + 1] == 4 && storage[at + 2] == number && storage[at + 3] == alt) {
                return reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(storage.get() + at);
            }
        }
        return nullptr;
    }
    std::unique_ptr<uint8_t[]> storage;
    size_t size = 0;
};

EndpointFormat Parse(const Configuration& c, uint8_t interface, uint8_t alt, ULONG j,
                     NTSTATUS expected = STATUS_SUCCESS)
{
    EndpointFormat format;
    EXPECT_EQ(ParseEndpointClassDescriptors(c.Get(), c.Interface(interface, alt), j, &format),
              expected);
    return format;
}

const Bytes kStreamingAlt1{9, 4, 1, 1, 1, 1, 2, 0x20, 0};
const Bytes kUac2General{16, 0x24, 1, 1, 0, 1, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0};
const Bytes kUac2Format{6, 0x24, 2, 1, 3, 24};
const Bytes kOutEndpoint{7, 5, 0x01, 0x09, 78, 0, 1};
const Bytes kFeedbackEndpoint{7, 5, 0x81, 0x11, 4, 0, 4};

TEST(ParseClassDescriptors, ProductAsClass2)
{
    const Configuration c(UsbSim::ProductUac2().configurations[0]);
    const EndpointFormat f = Parse(c, 1, 1, 0);
    EXPECT_EQ(f.channels, 2u);
    EXPECT_EQ(f.subframeSize, 3u);
    EXPECT_EQ(f.bitResolution, 24u);
    EXPECT_EQ(f.rateCount, 0);
    EXPECT_TRUE(f.hasFormat);
    EXPECT_TRUE(f.isOut);
    EXPECT_FALSE(f.isIn || f.isMidi || f.isFeedback || f.isHid);
    Parse(c, 1, 1, 1, STATUS_UNSUCCESSFUL);  // one endpoint only
    // From alternate setting 0 (no endpoints) the walk goes on into setting 1 and reaches its
    // endpoint: callers only ask for endpoints the interface descriptor counts.
    EXPECT_TRUE(Parse(c, 1, 0, 0).hasFormat);
}

TEST(ParseClassDescriptors, ProductAsClass1)
{
    const Configuration c(UsbSim::ProductUac1().configurations[0]);
    const EndpointFormat f = Parse(c, 1, 1, 0);
    EXPECT_EQ(f.channels, 2u);
    EXPECT_EQ(f.subframeSize, 3u);
    EXPECT_EQ(f.bitResolution, 24u);
    ASSERT_EQ(f.rateCount, 3);
    EXPECT_EQ(f.rates[0], 44100u);
    EXPECT_EQ(f.rates[1], 48000u);
    EXPECT_EQ(f.rates[2], 96000u);
    EXPECT_TRUE(f.hasFormat);
}

TEST(ParseClassDescriptors, VariantsClassifyTheirEndpoints)
{
    for (int audioClass : {1, 2}) {
        const Configuration c(
            UsbSim::BuildProductDescriptors(
                {.audioClass = audioClass, .inChannels = 4, .feedback = true, .midi = true})
                .configurations[0]);
        const EndpointFormat feedback = Parse(c, 1, 1, 1);
        EXPECT_TRUE(feedback.isFeedback && feedback.isIn);
        EXPECT_FALSE(feedback.hasFormat) << "the second endpoint gets no class descriptors";
        const EndpointFormat in = Parse(c, 2, 1, 0);
        EXPECT_TRUE(in.isIn && in.hasFormat);
        EXPECT_FALSE(in.isFeedback);
        EXPECT_EQ(in.channels, 4u);
        const EndpointFormat midiOut = Parse(c, 3, 0, 0);
        EXPECT_TRUE(midiOut.isMidi && midiOut.isOut);
        EXPECT_FALSE(midiOut.hasFormat);
        const EndpointFormat midiIn = Parse(c, 3, 0, 1);
        EXPECT_TRUE(midiIn.isMidi && midiIn.isIn);
    }
}

struct FormatRow
{
    const char* name;
    Bytes format;  // the class 1 format type descriptor
    LONG rateCount;
    std::vector<ULONG> rates;
    bool hasFormat;
};

TEST(ParseClassDescriptors, Class1RateTables)
{
    Bytes twelve{8 + 36, 0x24, 2, 1, 2, 3, 24, 12};
    for (ULONG i = 0; i < 12; ++i) {
        const ULONG rate = 8000 * (i + 1);
        twelve.insert(twelve.end(), {uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16)});
    }
    const std::vector<ULONG> firstTen{8000,  16000, 24000, 32000, 40000,
                                      48000, 56000, 64000, 72000, 80000};
    const FormatRow rows[] = {
        {"continuous",
         {14, 0x24, 2, 1, 2, 3, 24, 0, 0x44, 0xAC, 0, 0x00, 0x77, 1},
         0,
         {44100, 96000},
         true},
        {"two discrete",
         {14, 0x24, 2, 1, 2, 3, 24, 2, 0x44, 0xAC, 0, 0x80, 0xBB, 0},
         2,
         {44100, 48000},
         true},
        {"twelve, ten kept", twelve, 12, firstTen, true},
        {"claims five, holds two",
         {14, 0x24, 2, 1, 2, 3, 24, 5, 0x44, 0xAC, 0, 0x80, 0xBB, 0},
         2,
         {44100, 48000},
         true},
        {"continuous without its bounds", {8, 0x24, 2, 1, 2, 3, 24, 0}, 0, {}, true},
        {"format type 2 (not PCM)", {8, 0x24, 2, 2, 2, 3, 24, 0}, 0, {}, false},
        {"too short for its fields", {5, 0x24, 2, 1, 2}, 0, {}, false},
        {"zero channels", {11, 0x24, 2, 1, 0, 3, 24, 1, 0x80, 0xBB, 0}, 1, {48000}, false},
        {"zero subframe", {11, 0x24, 2, 1, 2, 0, 24, 1, 0x80, 0xBB, 0}, 1, {48000}, false},
        {"one-byte subframe", {11, 0x24, 2, 1, 2, 1, 8, 1, 0x80, 0xBB, 0}, 1, {48000}, true},
        {"four-byte subframe", {11, 0x24, 2, 1, 2, 4, 32, 1, 0x80, 0xBB, 0}, 1, {48000}, true},
        {"five-byte subframe", {11, 0x24, 2, 1, 2, 5, 24, 1, 0x80, 0xBB, 0}, 1, {48000}, false},
        {"eight-byte subframe", {11, 0x24, 2, 1, 2, 8, 64, 1, 0x80, 0xBB, 0}, 1, {48000}, false},
        {"255-byte subframe", {11, 0x24, 2, 1, 2, 255, 24, 1, 0x80, 0xBB, 0}, 1, {48000}, false},
    };
    for (const FormatRow& row : rows) {
        const Configuration c({{9, 4, 1, 1, 1, 1, 2, 0, 0},
                               {7, 0x24, 1, 1, 1, 1, 0},
                               row.format,
                               {9, 5, 0x01, 0x09, 0x40, 0x02, 1, 0, 0},
                               {7, 0x25, 1, 1, 0, 0, 0}});
        const EndpointFormat f = Parse(c, 1, 1, 0);
        EXPECT_EQ(f.rateCount, row.rateCount) << row.name;
        EXPECT_EQ(static_cast<bool>(f.hasFormat), row.hasFormat) << row.name;
        for (size_t i = 0; i < kUsbMaxRates; ++i) {
            EXPECT_EQ(f.rates[i], i < row.rates.size() ? row.rates[i] : 0u) << row.name << i;
        }
    }
}

// A sample wider than a 32-bit word has no format, at either class.
TEST(ParseClassDescriptors, Class2SubslotsOutsideOneToFourHaveNoFormat)
{
    for (uint8_t subslot : {0, 1, 2, 3, 4, 5, 6, 8, 255}) {
        const Configuration c(
            {kStreamingAlt1, kUac2General, {6, 0x24, 2, 1, subslot, 16}, kOutEndpoint});
        const EndpointFormat f = Parse(c, 1, 1, 0);
        EXPECT_EQ(static_cast<bool>(f.hasFormat), subslot >= 1 && subslot <= 4) << int{subslot};
    }
}

TEST(ParseClassDescriptors, Class2WithoutGeneralDescriptorHasNoFormat)
{
    const Configuration c({kStreamingAlt1, kUac2Format, kOutEndpoint});
    const EndpointFormat f = Parse(c, 1, 1, 0);
    EXPECT_FALSE(f.hasFormat);
    EXPECT_EQ(f.subframeSize, 3u);
}

struct WalkRow
{
    const char* name;
    std::vector<Bytes> descriptors;
    ULONG endpoint;
    NTSTATUS status;
};

TEST(ParseClassDescriptors, WalkStopsAtBadOrForeignDescriptors)
{
    const WalkRow rows[] = {
        {"zero length ends the walk",
         {kStreamingAlt1, {0, 0x24}, kOutEndpoint},
         0,
         STATUS_UNSUCCESSFUL},
        {"length one ends the walk", {kStreamingAlt1, {1}, kOutEndpoint}, 0, STATUS_UNSUCCESSFUL},
        {"length past the end", {kStreamingAlt1, {7, 5, 1, 9}}, 0, STATUS_UNSUCCESSFUL},
        {"short endpoint", {kStreamingAlt1, {4, 5, 1, 9}, kOutEndpoint}, 0, STATUS_UNSUCCESSFUL},
        {"short interface",
         {kStreamingAlt1, kOutEndpoint, {5, 4, 2, 0, 1}, kOutEndpoint},
         1,
         STATUS_UNSUCCESSFUL},
        {"unknown descriptor type",
         {kStreamingAlt1, {3, 0x21, 0}, kOutEndpoint},
         0,
         STATUS_UNSUCCESSFUL},
        {"class-specific on a control interface",
         {{9, 4, 0, 0, 1, 1, 1, 0, 0}, {9, 0x24, 1, 0, 1, 9, 0, 1, 1}, kOutEndpoint},
         0,
         STATUS_UNSUCCESSFUL},
        {"foreign interface class",
         {{9, 4, 1, 1, 1, 0x0E, 2, 0, 0}, kOutEndpoint},
         0,
         STATUS_UNSUCCESSFUL},
        {"short class-specific descriptors are skipped",
         {kStreamingAlt1, {2, 0x24}, {3, 0x24, 1}, kUac2General, kUac2Format, kOutEndpoint},
         0,
         STATUS_SUCCESS},
        {"class-specific endpoint skipped",
         {kStreamingAlt1, kOutEndpoint, {8, 0x25, 1, 0, 0, 0, 0, 0}, kFeedbackEndpoint},
         1,
         STATUS_SUCCESS},
        {"continues into the next interface",
         {kStreamingAlt1, kOutEndpoint, {9, 4, 1, 2, 1, 1, 2, 0x20, 0}, kFeedbackEndpoint},
         1,
         STATUS_SUCCESS},
    };
    for (const WalkRow& row : rows) {
        const Configuration c(row.descriptors);
        EndpointFormat f;
        const NTSTATUS status = ParseEndpointClassDescriptors(
            c.Get(), reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(c.storage.get() + 9), row.endpoint,
            &f);
        EXPECT_EQ(status, row.status) << row.name;
    }
}

TEST(ParseClassDescriptors, FormatWithoutItsEndpointIsNoFormat)
{
    // The walk fails before it reaches the endpoint: the format it gathered belongs to nothing,
    // and the direction it last saw is not this endpoint's.
    const Configuration c(
        {kStreamingAlt1, kFeedbackEndpoint, kUac2General, kUac2Format, {3, 0x21, 0}, kOutEndpoint});
    const EndpointFormat f = Parse(c, 1, 1, 1, STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(f.hasFormat);
    EXPECT_FALSE(f.isFeedback);
}

TEST(ParseClassDescriptors, EndpointWithAFormatIsNotFeedback)
{
    // Attributes 0xFF match the feedback test (bits 0 and 4) but the endpoint has its format.
    const Configuration c(
        {kStreamingAlt1, kUac2General, kUac2Format, {7, 5, 0x82, 0xFF, 78, 0, 1}});
    const EndpointFormat f = Parse(c, 1, 1, 0);
    EXPECT_TRUE(f.hasFormat && f.isIn);
    EXPECT_FALSE(f.isFeedback);
}

TEST(ParseClassDescriptors, HidInterfaceIsMarked)
{
    const Configuration c({{9, 4, 2, 0, 1, 3, 0, 0, 0}, {7, 5, 0x84, 3, 8, 0, 10}});
    const EndpointFormat f = Parse(c, 2, 0, 0);
    EXPECT_TRUE(f.isHid && f.isIn);
    EXPECT_FALSE(f.hasFormat);
}

TEST(ParseClassDescriptors, InterfaceOutsideTheConfigurationIsRefused)
{
    const Configuration c({kStreamingAlt1, kOutEndpoint});
    EndpointFormat f;
    EXPECT_EQ(
        ParseEndpointClassDescriptors(
            c.Get(), reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(c.storage.get() + c.size), 0, &f),
        STATUS_UNSUCCESSFUL);
    EXPECT_EQ(ParseEndpointClassDescriptors(c.Get(), nullptr, 0, &f), STATUS_UNSUCCESSFUL);
}

}  // namespace
