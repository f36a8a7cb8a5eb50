// The simulated device's stricter rules: a stalled bulk endpoint stays halted until the host
// clears it, the length fields of control requests are checked, and whatever a device records
// fails the running test at its tear-down.
#include <KernelTestApi.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <array>

#include "KernelTestFixture.h"
#include "SimulatedUsbDevice.h"
#include "UsbDescriptorSet.h"

using namespace UsbSim;
using namespace Platform::Kernel;

namespace {

constexpr uint8_t kMidiIn = 0x83;
constexpr uint8_t kMidiOut = 0x03;
constexpr SetupPacket kSetConfiguration1{0x00, 0x09, 1, 0, 0};
// What the bus sends for a pipe reset (URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL).
constexpr SetupPacket ClearHalt(uint8_t endpoint)
{
    return {0x02, 0x01, 0, endpoint, 0};
}

class UsbVerifier : public Testing::KernelTest
{
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        device = SimulatedUsbDevice::Create(BuildProductDescriptors({.midi = true}), nullptr);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    }
    Result Request(SetupPacket setup)
    {
        std::vector<uint8_t> data(setup.wLength);
        return device->Control(setup, data);
    }
    Outcome Out()
    {
        const std::array<uint8_t, 4> packet{0x09, 0x90, 0x40, 0x7F};
        return device->BulkOut(kMidiOut, packet).outcome;
    }
    Outcome In()
    {
        std::array<uint8_t, 64> packet{};
        return device->BulkIn(kMidiIn, packet).outcome;
    }
    uint8_t HaltStatus(uint8_t endpoint)
    {
        std::vector<uint8_t> data(2);
        EXPECT_EQ(device->Control({0x82, 0x00, 0, endpoint, 2}, data).outcome, Outcome::Ok);
        return data[0];
    }

    std::unique_ptr<SimulatedUsbDevice> device;
};

TEST_F(UsbVerifier, AStalledBulkEndpointStaysHaltedUntilTheHostClearsIt)
{
    device->StallEndpoint(kMidiOut);
    EXPECT_EQ(Out(), Outcome::Stall);
    EXPECT_TRUE(device->Halted(kMidiOut));
    EXPECT_EQ(HaltStatus(kMidiOut), 1) << "GET_STATUS shows the halt";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Out(), Outcome::Stall) << "retrying does not clear a halt";
    }
    EXPECT_EQ(In(), Outcome::Nak) << "the other endpoint is not halted";
    EXPECT_TRUE(device->BulkReceived(kMidiOut).empty());

    ASSERT_EQ(Request(ClearHalt(kMidiOut)).outcome, Outcome::Ok);
    EXPECT_FALSE(device->Halted(kMidiOut));
    EXPECT_EQ(HaltStatus(kMidiOut), 0);
    EXPECT_EQ(Out(), Outcome::Ok);
    EXPECT_EQ(device->BulkReceived(kMidiOut).size(), 4u);
    EXPECT_TRUE(device->Violations().empty());
}

TEST_F(UsbVerifier, SetFeatureHaltsAndANewConfigurationClearsTheHalt)
{
    ASSERT_EQ(Request({0x02, 0x03, 0, kMidiIn, 0}).outcome, Outcome::Ok);
    EXPECT_EQ(In(), Outcome::Stall);
    ASSERT_EQ(Request(kSetConfiguration1).outcome, Outcome::Ok);
    EXPECT_EQ(In(), Outcome::Nak);
    EXPECT_EQ(Request({0x02, 0x01, 0, 0x7F, 0}).outcome, Outcome::Stall) << "no such endpoint";
}

struct LengthCase
{
    const char* name;
    SetupPacket setup;
    const char* violation;
};

class UsbControlLength : public UsbVerifier, public ::testing::WithParamInterface<LengthCase>
{
};

TEST_P(UsbControlLength, ARequestWhoseLengthDoesNotFitIsListedAndStalled)
{
    const LengthCase& c = GetParam();
    EXPECT_EQ(Request(c.setup).outcome, Outcome::Stall);
    ASSERT_EQ(device->Violations().size(), 1u);
    EXPECT_NE(device->Violations()[0].find(c.violation), std::string::npos)
        << device->Violations()[0];
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), c.violation);
    Testing::BeginKernelTest();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, UsbControlLength,
    ::testing::Values(
        LengthCase{
            "SetConfigurationWithData", {0x00, 0x09, 1, 0, 2}, "SET_CONFIGURATION with wLength 2"},
        LengthCase{"SetInterfaceWithData", {0x01, 0x0B, 1, 1, 1}, "SET_INTERFACE with wLength 1"},
        LengthCase{
            "ClearFeatureWithData", {0x02, 0x01, 0, kMidiOut, 4}, "CLEAR_FEATURE with wLength 4"},
        LengthCase{"GetStatusOfOneByte", {0x80, 0x00, 0, 0, 1}, "GET_STATUS with wLength 1"},
        LengthCase{
            "GetConfigurationOfTwo", {0x80, 0x08, 0, 0, 2}, "GET_CONFIGURATION with wLength 2"},
        LengthCase{
            "GetDescriptorOfNothing", {0x80, 0x06, 0x0100, 0, 0}, "GET_DESCRIPTOR with wLength 0"},
        LengthCase{"ClockSetCurOfThree",
                   {0x21, 0x01, 0x0100, 0x2900, 3},
                   "sampling-frequency SET request with wLength 3"},
        LengthCase{"ClockGetCurOfTwo",
                   {0xA1, 0x01, 0x0100, 0x2900, 2},
                   "sampling-frequency GET request with wLength 2"},
        LengthCase{
            "ClockRangeOfOne", {0xA1, 0x02, 0x0100, 0x2900, 1}, "RANGE request with wLength 1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbVerifier, AViolationOfADeviceAlreadyDestroyedStillFailsTheTest)
{
    Request({0x01, 0x0B, 1, 1, 1});
    device.reset();
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "SET_INTERFACE with wLength 1");
    Testing::BeginKernelTest();
}

TEST_F(UsbVerifier, EachViolationIsReportedOnce)
{
    Request({0x80, 0x00, 0, 0, 1});
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "GET_STATUS with wLength 1");
    Testing::BeginKernelTest();
    EXPECT_EQ(device->Violations().size(), 1u) << "the device's own list stays";
    EXPECT_TRUE(RunTearDownChecks().empty());
}

}  // namespace
