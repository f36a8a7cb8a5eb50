// The engine's requests that pass straight to the device: raw class requests with their checks,
// the class request without data, and the identity and firmware version from the descriptor.
#include <cstring>

#include "UsbTestOwner.h"
#include "engine/EngineDeviceRequests.h"

namespace {

class EngineRequestTest : public UsbTransportTest
{
protected:
    RawDeviceRequest Request(UCHAR request, USHORT value, USHORT index, ULONG length)
    {
        RawDeviceRequest raw{};
        raw.tag = kRawDeviceRequestTag;
        raw.request = request;
        raw.value = value;
        raw.index = index;
        raw.length = length;
        return raw;
    }
    const UsbSim::ClassRequestRecord* LastClassRequest() const
    {
        const auto& all = device->ClassRequests();
        return all.empty() ? nullptr : &all.back();
    }
};

TEST_F(EngineRequestTest, RawGetReadsTheDeviceAnswer)
{
    Start(UsbSim::ProductUac2());
    UCHAR buffer[kRawDeviceBufferLength] = {};
    const RawDeviceRequest request = Request(0x01, 0x0100, 0x2900, 4);  // the clock's rate
    ASSERT_EQ(SendRawDeviceRequest(&*transport, &request, buffer, true), STATUS_SUCCESS);
    const UsbSim::ClassRequestRecord* seen = LastClassRequest();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->setup.bmRequestType & 0x80, 0x80) << "device to host";
    EXPECT_EQ(seen->setup.bRequest, 0x01);
    EXPECT_EQ(seen->setup.wValue, 0x0100);
    EXPECT_EQ(seen->setup.wIndex, 0x2900);
    ASSERT_EQ(seen->data.size(), 4u);
    EXPECT_EQ(std::memcmp(buffer, seen->data.data(), seen->data.size()), 0);
}

TEST_F(EngineRequestTest, RawSetSendsTheBuffer)
{
    Start(UsbSim::ProductUac1());
    UCHAR buffer[kRawDeviceBufferLength] = {0x11, 0x22};
    const RawDeviceRequest request = Request(0x01, 0x0200, 0x0100, 2);
    SendRawDeviceRequest(&*transport, &request, buffer, false);
    const UsbSim::ClassRequestRecord* seen = LastClassRequest();
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->setup.bmRequestType & 0x80, 0) << "host to device";
    EXPECT_EQ(seen->data, (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_F(EngineRequestTest, BadRawRequestsAreRefusedBeforeTheDevice)
{
    Start(UsbSim::ProductUac1());
    UCHAR buffer[kRawDeviceBufferLength] = {};
    RawDeviceRequest request = Request(0x81, 0x0100, 0x0100, 4);
    EXPECT_EQ(SendRawDeviceRequest(&*transport, nullptr, buffer, true), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SendRawDeviceRequest(&*transport, &request, nullptr, true), STATUS_INVALID_PARAMETER);
    request.tag = 0x0FFF;
    EXPECT_EQ(SendRawDeviceRequest(&*transport, &request, buffer, false), STATUS_UNSUCCESSFUL);
    // A length from user mode that reaches past the property's buffer.
    request = Request(0x81, 0x0100, 0x0100, kRawDeviceBufferLength + 1);
    EXPECT_EQ(SendRawDeviceRequest(&*transport, &request, buffer, true), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(device->ClassRequests().empty());
}

TEST_F(EngineRequestTest, ClassRequestWithoutData)
{
    Start(UsbSim::ProductUac1());
    const struct
    {
        USHORT index;
        bool flag;
        uint8_t request;
        uint16_t sentIndex;
    } cases[] = {{0, true, 0xF2, 4}, {0x0201, false, 0x00, 0x0201}};
    for (const auto& c : cases) {
        SendEngineClassRequest(&*transport, 0x0300, c.index, c.flag);
        const UsbSim::ClassRequestRecord* seen = LastClassRequest();
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(seen->setup.bRequest, c.request);
        EXPECT_EQ(seen->setup.wValue, 0x0300);
        EXPECT_EQ(seen->setup.wIndex, c.sentIndex);
        EXPECT_EQ(seen->setup.wLength, 0);
    }
}

TEST_F(EngineRequestTest, IdentityAndFirmwareVersionFromTheDescriptor)
{
    Plug(UsbSim::ProductUac1());
    ULONG major = 9, minor = 9, revision = 9, build = 9;
    ReadFirmwareVersion(&*transport, false, &major, &minor, &revision, &build);
    EXPECT_EQ(major + minor + revision + build, 0u) << "no descriptor read yet";
    EXPECT_EQ(DeviceVendorId(&*transport), 0);

    device->PatchDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 12, {0x34, 0x12});
    ASSERT_EQ(transport->InitializeUsb(ProductRecord()), STATUS_SUCCESS);
    EXPECT_EQ(DeviceVendorId(&*transport), UsbSim::kProductVendorId);
    EXPECT_EQ(DeviceProductId(&*transport), UsbSim::kProductProductId);
    ReadFirmwareVersion(&*transport, false, &major, &minor, &revision, &build);
    EXPECT_EQ((std::vector<ULONG>{major, minor, revision, build}),
              (std::vector<ULONG>{1, 23, 4, 0}));
    ReadFirmwareVersion(&*transport, true, &major, &minor, &revision, &build);
    EXPECT_EQ((std::vector<ULONG>{major, minor, revision, build}),
              (std::vector<ULONG>{12, 3, 4, 0}));
}

}  // namespace
