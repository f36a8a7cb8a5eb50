// The bug check and its hook.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

class BugCheck : public Testing::KernelTest
{
};

TEST_F(BugCheck, ExpectBugCheckReturnsTheCodeAndParameters)
{
    const auto stop = ExpectBugCheck([] { KeBugCheckEx(0x17, 1, 2, 3, 4); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, 0x17u);
    EXPECT_EQ(stop->parameters[0], 1u);
    EXPECT_EQ(stop->parameters[3], 4u);
    EXPECT_TRUE(stop->reason.empty());
    EXPECT_NE(stop->Describe().find("0x00000017"), std::string::npos);
}

TEST_F(BugCheck, ExpectBugCheckReturnsNothingWhenTheBodyReturns)
{
    EXPECT_FALSE(ExpectBugCheck([] {}).has_value());
}

TEST_F(BugCheck, OutsideExpectBugCheckItFailsTheTestAsAnException)
{
    try {
        KeBugCheckEx(0xDEADDEAD, 0, 0, 0, 0);
        FAIL() << "KeBugCheckEx returned";
    } catch (const BugCheckRaised& stop) {
        EXPECT_EQ(stop.Info().code, 0xDEADDEADu);
    }
}

TEST(BugCheckDeathTest, TheDefaultHookPrintsTheCodeAndAborts)
{
    EXPECT_DEATH(
        {
            SetBugCheckHook(nullptr);
            KeBugCheckEx(0x6F, 0, 0, 0, 0);
        },
        "STOP: bug check 0x0000006F");
}

}  // namespace
