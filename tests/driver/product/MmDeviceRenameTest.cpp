// The formats Windows stored for this device's endpoints follow the rate in force; other devices'
// endpoints, values too short to hold a format and formats with no rate are left alone; and the
// rename's buffers go back to the pool on every path.
#include <KernelTestApi.h>
#include <KsHostApi.h>
#include <Registry/MachineRegistry.h>
#include <UsbDescriptorSet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "LoadedDriverFixture.h"
#include "device/EndpointNaming.h"
#include "engine/StreamManagerParts.h"
#include "product/ProductDeviceParts.h"

namespace {

using Platform::Registry::Hive;
using Platform::Registry::MachineRegistry;
using Platform::Registry::Result;
using Platform::Registry::Value;
using Platform::Registry::View;

constexpr ULONG kTagPathBuffer = 0x63696E55;   // "Unic"
constexpr ULONG kTagEnumeration = 0x41525651;  // "QVRA"

const char16_t* const kFormatValues[] = {Platform::Ks::kMmOemFormatValue,
                                         Platform::Ks::kMmDeviceFormatValue,
                                         Platform::Ks::kMmMixFormatValue};

uint32_t Load32(const std::vector<uint8_t>& v, size_t at)
{
    return static_cast<uint32_t>(v[at]) | static_cast<uint32_t>(v[at + 1]) << 8 |
           static_cast<uint32_t>(v[at + 2]) << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

Value Read(const std::u16string& key, const char16_t* name)
{
    Value value;
    EXPECT_EQ(
        MachineRegistry::Instance().GetValue(Hive::LocalMachine, key, name, View::Native, &value),
        Result::Ok);
    return value;
}

void Write(const std::u16string& key, const char16_t* name, const Value& value)
{
    ASSERT_EQ(MachineRegistry::Instance().SetValue(Hive::LocalMachine, key, name, value),
              Result::Ok);
}

// Every value of every endpoint in the store.
std::map<std::u16string, Value> Snapshot()
{
    std::map<std::u16string, Value> all;
    for (bool capture : {false, true}) {
        for (const std::u16string& key : Platform::Ks::StoredAudioEndpoints(capture)) {
            const std::u16string properties = Platform::Ks::AudioEndpointProperties(capture, key);
            std::u16string name;
            Value value;
            for (size_t i = 0;
                 MachineRegistry::Instance().EnumerateValue(
                     Hive::LocalMachine, properties, View::Native, i, &name, &value) == Result::Ok;
                 ++i) {
                all[properties + u"|" + name] = value;
            }
        }
    }
    return all;
}

class MmDeviceRenameTest : public LoadedDriverFixture
{
protected:
    void SetUp() override
    {
        LoadDriver(ProductDriverEntry, DriverKey::Installed);
        device = PlugInDevice(UsbSim::ProductUac2(), true);
        ASSERT_NE(device, nullptr);
        Platform::Kernel::RunPending();
        const auto render = Platform::Ks::StoredAudioEndpoints(false);
        ASSERT_EQ(render.size(), 1u);
        own = Platform::Ks::AudioEndpointProperties(false, render[0]);
        // Other devices the machine knows: another product, one whose instance path is a
        // shortened form of this device's, and one without an instance path at all.
        const std::u16string ids = Platform::Ks::HardwareIdsOf(UsbSim::ProductUac2()).back();
        Platform::Ks::StoreAudioEndpoint(false, u"{0.0.0.00000000}.{other-product}",
                                         u"USB\\VID_0D8C&PID_0014\\5&1&0000");
        Platform::Ks::StoreAudioEndpoint(false, u"{0.0.0.00000000}.{short-path}", ids.substr(0, 8));
        Platform::Ks::StoreAudioEndpoint(true, u"{0.0.0.00000000}.{no-path}", u"");
        Write(Platform::Ks::AudioEndpointProperties(true, u"{0.0.0.00000000}.{no-path}"),
              Platform::Ks::kMmInstancePathValue, Value{REG_SZ, {0, 0}});
        others = Snapshot();
        for (const char16_t* name : kFormatValues) {
            others.erase(own + u"|" + name);
        }
    }

    void ExpectOwnRate(uint32_t rate)
    {
        for (const char16_t* name : kFormatValues) {
            const Value v = Read(own, name);
            ASSERT_GE(v.data.size(), 24u);
            EXPECT_EQ(Load32(v.data, 12), rate);
            const uint32_t blockAlign = v.data[20] | v.data[21] << 8;
            EXPECT_EQ(Load32(v.data, 16), rate * blockAlign);
        }
    }

    void ExpectOthersUntouched()
    {
        auto now = Snapshot();
        for (const char16_t* name : kFormatValues) {
            now.erase(own + u"|" + name);
        }
        EXPECT_EQ(now, others);
    }

    Platform::Ks::Device* device = nullptr;
    std::u16string own;
    std::map<std::u16string, Value> others;
};

}  // namespace

TEST_F(MmDeviceRenameTest, OnlyThisDevicesFormatsFollowTheRate)
{
    // Windows stored 48000; the start put the device's rate in force and renamed.
    ExpectOwnRate(44100);
    EXPECT_EQ(RenameMmDeviceEndpoints(ContextOf(device), 96000), STATUS_NO_MORE_ENTRIES);
    ExpectOwnRate(96000);
    ExpectOthersUntouched();
    EXPECT_TRUE(Platform::Kernel::OutstandingPool().size() > 0);  // the device's own, no more:
    for (const auto& block : Platform::Kernel::OutstandingPool()) {
        EXPECT_NE(block.tag, kTagPathBuffer);
        EXPECT_NE(block.tag, kTagEnumeration);
    }
}

TEST_F(MmDeviceRenameTest, ARateChangeOfTheStreamsRenamesThroughTheDevice)
{
    DeviceContext* context = ContextOf(device);
    const LONG index = FindConfigurationRate(context->streamManager, 96000);
    ASSERT_GE(index, 0);
    EXPECT_EQ(ApplyRateIndex(context->streamManager, index), 96000u);
    Platform::Kernel::RunPending();
    ExpectOwnRate(96000);
    ExpectOthersUntouched();
}

TEST_F(MmDeviceRenameTest, ShortZeroRateAndMatchingValuesAreLeftAlone)
{
    const Value shortValue{REG_BINARY, std::vector<uint8_t>(23, 0x11)};
    Write(own, Platform::Ks::kMmOemFormatValue, shortValue);
    Value zeroRate = Read(own, Platform::Ks::kMmDeviceFormatValue);
    for (size_t i = 12; i < 16; ++i) {
        zeroRate.data[i] = 0;
    }
    Write(own, Platform::Ks::kMmDeviceFormatValue, zeroRate);
    const Value mix = Read(own, Platform::Ks::kMmMixFormatValue);  // 32-bit, at 44100 already

    EXPECT_EQ(RenameMmDeviceEndpoints(ContextOf(device), 44100), STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(Read(own, Platform::Ks::kMmOemFormatValue), shortValue);
    EXPECT_EQ(Read(own, Platform::Ks::kMmDeviceFormatValue), zeroRate);
    EXPECT_EQ(Read(own, Platform::Ks::kMmMixFormatValue), mix);

    EXPECT_EQ(RenameMmDeviceEndpoints(ContextOf(device), 88200), STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(Read(own, Platform::Ks::kMmOemFormatValue), shortValue);
    EXPECT_EQ(Read(own, Platform::Ks::kMmDeviceFormatValue), zeroRate);
    EXPECT_EQ(Load32(Read(own, Platform::Ks::kMmMixFormatValue).data, 12), 88200u);
    ExpectOthersUntouched();
}

TEST_F(MmDeviceRenameTest, WithoutAHardwareIdPrefixNothingIsTouched)
{
    DeviceContext* context = ContextOf(device);
    PWSTR prefix = context->hardwareIdPrefix;
    context->hardwareIdPrefix = nullptr;
    EXPECT_EQ(RenameMmDeviceEndpoints(context, 96000), STATUS_UNSUCCESSFUL);
    context->hardwareIdPrefix = prefix;
    ExpectOwnRate(44100);
}

TEST_F(MmDeviceRenameTest, BuffersAreFreedWhenAnAllocationFails)
{
    const auto before = Platform::Kernel::OutstandingPool().size();
    for (uint64_t n = 1; n <= 3; ++n) {
        Platform::Kernel::FailAllocationNumber(n);
        RenameMmDeviceEndpoints(ContextOf(device), 96000);
        Platform::Kernel::ClearAllocationFailures();
        EXPECT_EQ(Platform::Kernel::OutstandingPool().size(), before) << n;
    }
    ExpectOthersUntouched();
}

// A value of the wrong type is never taken for what it should be: the bytes of this device's
// instance path or of a format under another type leave that value (and, for the instance path,
// the whole endpoint) as it is, while the formats of the right type still follow the rate.
TEST_F(MmDeviceRenameTest, WronglyTypedValuesAreLeftAlone)
{
    struct Case
    {
        const char16_t* value;
        ULONG type;
    };
    const Case cases[] = {
        {Platform::Ks::kMmInstancePathValue, REG_BINARY},
        {Platform::Ks::kMmInstancePathValue, REG_MULTI_SZ},
        {Platform::Ks::kMmInstancePathValue, REG_EXPAND_SZ},
        {Platform::Ks::kMmInstancePathValue, REG_DWORD},
        {Platform::Ks::kMmOemFormatValue, REG_SZ},
        {Platform::Ks::kMmOemFormatValue, REG_DWORD},
        {Platform::Ks::kMmDeviceFormatValue, REG_MULTI_SZ},
        {Platform::Ks::kMmDeviceFormatValue, REG_QWORD},
        {Platform::Ks::kMmMixFormatValue, REG_EXPAND_SZ},
        {Platform::Ks::kMmMixFormatValue, REG_NONE},
    };
    const auto before = Platform::Kernel::OutstandingPool().size();
    uint32_t rate = 44100;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value, c.value + 8) + " as type " + std::to_string(c.type));
        const Value original = Read(own, c.value);
        Value wrong = original;
        wrong.type = c.type;
        Write(own, c.value, wrong);
        std::map<const char16_t*, Value> formats;
        for (const char16_t* name : kFormatValues) {
            formats[name] = Read(own, name);
        }
        rate = rate == 44100 ? 96000 : 44100;

        EXPECT_EQ(RenameMmDeviceEndpoints(ContextOf(device), rate), STATUS_NO_MORE_ENTRIES);
        EXPECT_EQ(Read(own, c.value), wrong);
        const bool endpointSkipped = c.value == Platform::Ks::kMmInstancePathValue;
        for (const char16_t* name : kFormatValues) {
            if (name == c.value || endpointSkipped) {
                EXPECT_EQ(Read(own, name), formats[name]);
            } else {
                EXPECT_EQ(Load32(Read(own, name).data, 12), rate);
            }
        }
        Write(own, c.value, original);
        EXPECT_EQ(Platform::Kernel::OutstandingPool().size(), before);
    }
    ExpectOthersUntouched();
}

// Which stored format a rename rewrites, by the value's own fields: a format at the rate in force
// is left as it is unless it is the engine's format with samples other than 32 bits; and the
// average bytes per second, the rate times the registry's block alignment, is written only when
// it fits its 32 bits (a wrapped product would be a format no one stored).
TEST_F(MmDeviceRenameTest, FormatsAreRewrittenByRateBitsAndAFittingProduct)
{
    constexpr uint32_t kUntouched = 0x12345678;  // the average the row stores beforehand
    struct Row
    {
        const char* name;
        const char16_t* value;
        uint16_t bits;
        uint16_t blockAlign;
        uint32_t stored;
        uint32_t rate;
        bool rewritten;
    };
    const Row rows[] = {
        {"EngineFormatOf24BitsAtTheRateInForce", Platform::Ks::kMmMixFormatValue, 24, 6, 44100,
         44100, true},
        {"EngineFormatOf16BitsAtTheRateInForce", Platform::Ks::kMmMixFormatValue, 16, 4, 48000,
         48000, true},
        {"EngineFormatOf32BitsAtTheRateInForce", Platform::Ks::kMmMixFormatValue, 32, 8, 44100,
         44100, false},
        {"DeviceFormatOf24BitsAtTheRateInForce", Platform::Ks::kMmDeviceFormatValue, 24, 6, 44100,
         44100, false},
        {"OemFormatOf16BitsAtTheRateInForce", Platform::Ks::kMmOemFormatValue, 16, 4, 44100, 44100,
         false},
        {"DeviceFormatAtAnotherRate", Platform::Ks::kMmDeviceFormatValue, 24, 6, 44100, 96000,
         true},
        {"AlignmentWhoseProductDoesNotFit", Platform::Ks::kMmDeviceFormatValue, 24, 0xFFFF, 44100,
         96000, false},
        {"EngineAlignmentWhoseProductDoesNotFit", Platform::Ks::kMmMixFormatValue, 24, 0xFFFF,
         96000, 96000, false},
        {"AlignmentOfTheLargestProductThatFits", Platform::Ks::kMmDeviceFormatValue, 24,
         static_cast<uint16_t>(0xFFFFFFFFu / 96000), 44100, 96000, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Value format = Read(own, row.value);
        ASSERT_GE(format.data.size(), 24u);
        auto store32 = [&](size_t at, uint32_t v) {
            for (size_t i = 0; i < 4; ++i) {
                format.data[at + i] = static_cast<uint8_t>(v >> (8 * i));
            }
        };
        store32(12, row.stored);
        store32(16, kUntouched);
        format.data[20] = static_cast<uint8_t>(row.blockAlign);
        format.data[21] = static_cast<uint8_t>(row.blockAlign >> 8);
        format.data[22] = static_cast<uint8_t>(row.bits);
        format.data[23] = static_cast<uint8_t>(row.bits >> 8);
        Write(own, row.value, format);

        EXPECT_EQ(RenameMmDeviceEndpoints(ContextOf(device), row.rate), STATUS_NO_MORE_ENTRIES);
        const Value after = Read(own, row.value);
        if (row.rewritten) {
            EXPECT_EQ(Load32(after.data, 12), row.rate);
            EXPECT_EQ(Load32(after.data, 16), static_cast<uint64_t>(row.rate) * row.blockAlign);
            EXPECT_EQ(std::vector<uint8_t>(after.data.begin() + 20, after.data.end()),
                      std::vector<uint8_t>(format.data.begin() + 20, format.data.end()));
        } else {
            EXPECT_EQ(after, format);
        }
    }
    ExpectOthersUntouched();
}
