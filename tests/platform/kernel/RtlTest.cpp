// Counted strings, the OS version and the bounded wide formatter.
#include <KernelTestApi.h>
#include <ntstrsafe.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

class Rtl : public Testing::KernelTest
{
};

TEST_F(Rtl, FormatsTheConversionsTheDriverUses)
{
    WCHAR buffer[256];
    ASSERT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer,
                                 u"%ws\\01020304%02X%02X%02X%02X%02X%02X%02X%02XDECAFBAD",
                                 u"\\Registry\\Machine\\P", 0x7E, 0x2B, 0, 0, 0x19, 0x5C, 0, 0),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"\\Registry\\Machine\\P\\010203047E2B0000195C0000DECAFBAD");
    ASSERT_EQ(
        RtlStringCbPrintfW(buffer, sizeof buffer, u"%s %s %d-%d", u"Corvane", u"Quorvel", 1, 2),
        STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"Corvane Quorvel 1-2");
    ASSERT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"%d|%u|%x|%5d|%-4d|%%|%lu|%I64d", -42,
                                 4000000000u, 0xBEEFu, 7, 3, 9u, -5LL),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"-42|4000000000|beef|    7|3   |%|9|-5");
}

TEST_F(Rtl, ACutShortTextIsTerminatedAndReportsOverflow)
{
    WCHAR buffer[8];
    EXPECT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"%s Stereo Out %d-%d", u"Quorvel", 1, 2),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(std::u16string(buffer), u"Quorvel");
    EXPECT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"1234567"), STATUS_SUCCESS);
    EXPECT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"12345678"), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(std::u16string(buffer), u"1234567");
}

TEST_F(Rtl, BadArgumentsAreRefused)
{
    WCHAR buffer[8] = {u'x'};
    EXPECT_EQ(RtlStringCbPrintfW(buffer, 0, u"a"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RtlStringCbPrintfW(buffer, 1, u"a"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"%q"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(RtlStringCbPrintfW(buffer, sizeof buffer, u"%wd", 1), STATUS_INVALID_PARAMETER);
}

TEST_F(Rtl, InitUnicodeStringCountsBytesWithoutTheTerminator)
{
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, u"Name");
    EXPECT_EQ(text.Length, 8);
    EXPECT_EQ(text.MaximumLength, 10);
    RtlInitUnicodeString(&text, nullptr);
    EXPECT_EQ(text.Length, 0);
    EXPECT_EQ(text.Buffer, nullptr);
}

TEST_F(Rtl, VersionsUpToTheConfiguredOneAreAvailable)
{
    SetOsVersion(0x06010000);
    EXPECT_FALSE(RtlIsNtDdiVersionAvailable(0x06020000));
    EXPECT_TRUE(RtlIsNtDdiVersionAvailable(0x06010000));
    EXPECT_TRUE(RtlIsNtDdiVersionAvailable(0x06000100));
    ResetKernel();
    EXPECT_TRUE(RtlIsNtDdiVersionAvailable(0x06020000));
}

}  // namespace
