// The device model's base behaviour, seen through a device class that supplies only what the
// base cannot: the clock-source record and the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>

#include "ProductModelFixture.h"
#include "device/DeviceModelRecords.h"

namespace {

// A class that leaves out an operation the base cannot answer does not compile into an object.
static_assert(std::is_abstract_v<DeviceModel>);

class BareDeviceModel final : public DeviceModel
{
public:
    BareDeviceModel(DeviceLink link, PCWSTR path) : DeviceModel(link, path) {}
    ~BareDeviceModel() { StopStatusTimer(); }

    LONG GetClockSourceRecord(ClockSourceRecord* record) override
    {
        RtlZeroMemory(record, sizeof *record);
        return selectedClockSource;
    }
    StreamingEngine* GetEngine() override { return engine; }
    StreamingEngine* GetEngineAlias() override { return engine; }

    StreamingEngine* engine = nullptr;
};

class DeviceModelBaseTest : public ProductModelFixture
{
protected:
    void SetUp() override
    {
        ProductModelFixture::SetUp();
        device_ = PlugIn(false);
        ASSERT_NE(device_, nullptr);
        link_ = &Context(device_)->device;
    }

    // Counts the calls of one name ("SetRate") the engine saw.
    static size_t Calls(const StandInEngine& engine, const std::string& prefix)
    {
        return static_cast<size_t>(
            std::count_if(engine.calls.begin(), engine.calls.end(),
                          [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
    }

    Platform::Ks::Device* device_ = nullptr;
    DeviceLink link_ = nullptr;
};

TEST_F(DeviceModelBaseTest, HardwareIdOfTheBaseStopsTheSystem)
{
    BareDeviceModel model(link_, u"\\Registry\\Machine\\Software\\Test");
    const auto bugCheck = Platform::Kernel::ExpectBugCheck([&] { model.GetHardwareId(); });
    ASSERT_TRUE(bugCheck.has_value());
    EXPECT_EQ(bugCheck->code, 0xDEADDEADu);
    for (ULONG_PTR parameter : bugCheck->parameters) {
        EXPECT_EQ(parameter, 0u);
    }
}

// The base has no clock choices: selecting the source in force succeeds and changes nothing,
// any other fails and changes nothing; the status timer never starts.
TEST_F(DeviceModelBaseTest, SetClockSourceAcceptsOnlyTheSourceInForce)
{
    BareDeviceModel model(link_, u"\\Registry\\Machine\\Software\\Test");
    const struct
    {
        LONG index;
        NTSTATUS expected;
    } rows[] = {{0, STATUS_SUCCESS},
                {1, STATUS_UNSUCCESSFUL},
                {-1, STATUS_UNSUCCESSFUL},
                {0, STATUS_SUCCESS}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(model.SetClockSource(row.index), row.expected);
        EXPECT_FALSE(model.IsExternalClockSelected());
        EXPECT_FALSE(model.StatusTimerRunning());
        ClockSourceInfo info{};
        ASSERT_EQ(model.GetClockSourceInfo(&info), STATUS_SUCCESS);
        EXPECT_EQ(info.selectedSource, 0u);
    }
}

// Start of the base: a configuration with channels gets its rate set on the engine; the clock
// selection from -1 fails in the base, so the internal clock is left selected after one retry;
// a second Start answers success and does nothing.
TEST_F(DeviceModelBaseTest, StartSetsTheRateAndKeepsTheInternalClock)
{
    BareDeviceModel model(link_, u"\\Registry\\Machine\\Software\\Test");
    StandInEngine engine(&model, link_, model.RegistryPath());
    model.engine = &engine;
    StreamConfiguration configuration{};
    ASSERT_EQ(model.GetConfiguration(0, &configuration), 0);
    ASSERT_GE(model.SetStreamConfiguration(&configuration, 1), 0);

    EXPECT_EQ(model.Start(), STATUS_SUCCESS);
    EXPECT_TRUE(model.IsStarted());
    EXPECT_TRUE(engine.initialized);
    EXPECT_EQ(Calls(engine, "SetRate(0,1)"), 1u);
    EXPECT_FALSE(model.IsExternalClockSelected());
    EXPECT_FALSE(model.StatusTimerRunning());
    ULONG count = 0;
    const ULONG* rates = nullptr;
    model.GetSupportedRates(&count, &rates);
    EXPECT_EQ(count, 3u);

    const size_t callsBefore = engine.calls.size();
    EXPECT_EQ(model.Start(), STATUS_SUCCESS);
    EXPECT_EQ(engine.calls.size(), callsBefore);
    model.Stop(kStopStop);
    EXPECT_FALSE(model.IsStarted());
    EXPECT_FALSE(engine.initialized);
}

// A configuration without channels leaves the clock and the rate alone.
TEST_F(DeviceModelBaseTest, StartWithoutChannelsSetsNoRate)
{
    BareDeviceModel model(link_, u"\\Registry\\Machine\\Software\\Test");
    StandInEngine engine(&model, link_, model.RegistryPath());
    model.engine = &engine;
    EXPECT_EQ(model.Start(), STATUS_SUCCESS);
    EXPECT_TRUE(model.IsStarted());
    EXPECT_EQ(Calls(engine, "SetRate"), 0u);
    model.Stop(kStopStop);
}

// An engine that cannot be initialised fails Start at once: not started, no rates built.
TEST_F(DeviceModelBaseTest, StartReturnsTheEngineFailure)
{
    BareDeviceModel model(link_, u"\\Registry\\Machine\\Software\\Test");
    StandInEngine engine(&model, link_, model.RegistryPath());
    model.engine = &engine;
    usbDevices_.LastBus().Detach();
    EXPECT_FALSE(NT_SUCCESS(model.Start()));
    EXPECT_FALSE(model.IsStarted());
    ULONG count = 0;
    const ULONG* rates = nullptr;
    model.GetSupportedRates(&count, &rates);
    EXPECT_EQ(count, 0u);
}

}  // namespace
