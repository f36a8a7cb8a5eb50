// A code that is none of the seven stops the system wherever a routine is chosen by it.
#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "KernelTestFixture.h"
#include "audio/ChannelTransfer.h"
#include "audio/SampleConverters.h"

namespace {

using Platform::Kernel::BugCheckInfo;
using Platform::Kernel::ExpectBugCheck;

constexpr ULONG kUnknownFormatStop = 0xDEADDEAD;

const SampleFormatCode kUnknownCodes[] = {0x80000000u, 0x80000004u, 0x00000001u, 0xC0000000u,
                                          0xC1000001u, 0x40000003u, 0xFFFFFFFFu, 0u};

class UnknownFormat : public Platform::Kernel::Testing::KernelTest,
                      public testing::WithParamInterface<SampleFormatCode>
{
protected:
    static void ExpectStop(const std::function<void()>& body, const char* what)
    {
        const std::optional<BugCheckInfo> stop = ExpectBugCheck(body);
        ASSERT_TRUE(stop.has_value()) << what << " returned";
        EXPECT_EQ(stop->code, kUnknownFormatStop) << what;
        for (ULONG_PTR parameter : stop->parameters) {
            EXPECT_EQ(parameter, 0u) << what;
        }
    }
};

TEST_P(UnknownFormat, StopsTheSystemFromEverySelectorInEitherRole)
{
    const SampleFormatCode bad = GetParam();
    ExpectStop([&] { SelectConverter(bad, kSampleInt16LE, 0); }, "copy, unknown source");
    ExpectStop([&] { SelectConverter(kSampleInt32LE, bad, 1); }, "add, unknown destination");
    ExpectStop([&] { SelectGainConverter(bad, kSampleLabelled24BE, 0); }, "gain, unknown source");
    ExpectStop([&] { SelectGainConverter(kSampleInt24BE, bad, 1); },
               "gain add, unknown destination");
    ExpectStop([&] { SelectPeakScanner(bad); }, "peak scanner");
    const int32_t buffer[4] = {};
    uint32_t peaks[2] = {};
    ExpectStop([&] { MeasurePeak(1, {bad, 2, 0, 2}, buffer, peaks); }, "MeasurePeak");
}

std::string CodeName(const testing::TestParamInfo<SampleFormatCode>& info)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08X", info.param);
    return text;
}

INSTANTIATE_TEST_SUITE_P(Codes, UnknownFormat, testing::ValuesIn(kUnknownCodes), CodeName);

TEST(IsKnownSampleFormat, AcceptsExactlyTheSevenCodes)
{
    for (SampleFormatCode code : {kSampleInt16LE, kSampleInt24LE, kSampleInt32LE, kSampleInt16BE,
                                  kSampleInt24BE, kSampleLabelled24BE, kSampleLabelled24BEAlt}) {
        EXPECT_TRUE(IsKnownSampleFormat(code)) << std::hex << code;
    }
    for (SampleFormatCode code : kUnknownCodes) {
        EXPECT_FALSE(IsKnownSampleFormat(code)) << std::hex << code;
    }
}

TEST(UnknownFormatDeathTest, EndsTheProcessWithTheStopCode)
{
    EXPECT_DEATH(
        {
            Platform::Kernel::SetBugCheckHook(nullptr);
            SelectConverter(0x80000000u, kSampleInt16LE, 0);
        },
        "STOP: bug check 0xDEADDEAD");
}

#ifndef NDEBUG
class CallerPromises : public Platform::Kernel::Testing::KernelTest
{
};

TEST_F(CallerPromises, ARunOutsideItsFrameIsCaughtInDebugBuilds)
{
    int32_t buffer[8] = {};
    const auto stop = ExpectBugCheck([&] {
        TransferRun(1, false, {kSampleInt32LE, 2, 1, 2}, buffer, {kSampleInt32LE, 4, 0, 2},
                    buffer + 2, nullptr);
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, 0x1Eu);
}
#endif

}  // namespace
