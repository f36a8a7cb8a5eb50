// Processor features: what the host has, hidden on demand so every path of a caller can run.
#include <KernelTestApi.h>

#include <gtest/gtest.h>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

class Processor : public Testing::KernelTest
{
};

TEST_F(Processor, AnswersFromTheHostAndHidesOnDemand)
{
#if defined(__x86_64__)
    EXPECT_TRUE(ExIsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) << "x64 has SSE2";
#endif
    EXPECT_FALSE(ExIsProcessorFeaturePresent(63)) << "a number nobody defined";
    EXPECT_FALSE(ExIsProcessorFeaturePresent(1000));
    HideProcessorFeature(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
    HideProcessorFeature(PF_SSE4_1_INSTRUCTIONS_AVAILABLE);
    EXPECT_FALSE(ExIsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
    EXPECT_FALSE(ExIsProcessorFeaturePresent(PF_SSE4_1_INSTRUCTIONS_AVAILABLE));
    HideProcessorFeature(PF_XMMI64_INSTRUCTIONS_AVAILABLE, false);
#if defined(__x86_64__)
    EXPECT_TRUE(ExIsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) << "shown again";
#endif
    ResetKernel();
    EXPECT_EQ(ExIsProcessorFeaturePresent(PF_SSE4_1_INSTRUCTIONS_AVAILABLE),
              __builtin_cpu_supports("sse4.1") ? TRUE : FALSE)
        << "a reset shows every feature";
}

}  // namespace
