// Every GUID the driver names, written out as text and compared with the text user-mode software
// and the bus know it by. The constants are compared with text, not with each other, so that a
// digit typed wrong once in the driver cannot hide behind the same constant in the tests.
#include <gtest/gtest.h>

#include <usbbusif.h>

#include <cstdio>
#include <string>

#include "device/DeviceLifecycle.h"

namespace {

std::string GuidText(const GUID& guid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

struct NamedGuid
{
    const char* name;
    const GUID* guid;
    const char* text;
};

const NamedGuid kDriverGuids[] = {
    {"GeneralPropertyAndEventSet", &kPropSetControlGeneral,
     "{55A8C0F3-67A0-4AF8-9C0D-EC86AE3F6789}"},
    {"RawRequestPropertyAndEventSet", &kPropSetControlRaw,
     "{3961234E-B801-4B28-8FAA-5BB5DC0EF610}"},
    {"UsbBusInterface", &USB_BUS_INTERFACE_USBDI_GUID, "{B1A96A13-3DE0-4574-9B01-C08FEAB318D6}"},
};

class DriverGuid : public ::testing::TestWithParam<NamedGuid>
{
};

TEST_P(DriverGuid, MatchesItsPublishedText)
{
    EXPECT_EQ(GuidText(*GetParam().guid), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Driver, DriverGuid, ::testing::ValuesIn(kDriverGuids),
                         [](const auto& info) { return std::string(info.param.name); });

// The text form itself: a known GUID comes out with every field in its place.
TEST(GuidText, WritesEachFieldInItsPlace)
{
    const GUID guid = {
        0x01234567, 0x89AB, 0xCDEF, {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}};
    EXPECT_EQ(GuidText(guid), "{01234567-89AB-CDEF-1032-547698BADCFE}");
}

}  // namespace
