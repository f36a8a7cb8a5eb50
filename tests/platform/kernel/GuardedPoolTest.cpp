// The verifier's pool rules: blocks exactly the size asked for and guarded, freed blocks poisoned,
// a re-initialised armed timer, and the seeded low-resources simulation.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KernelTestFixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEST_UNDER_ASAN 1
#endif
#endif

namespace {

using namespace Platform::Kernel;

constexpr ULONG kTag = MakeTag("SpPl");

class SpecialPool : public Testing::KernelTest
{
};

// Writes past a block's end the way a driver's off-by-one would, but out of the address
// sanitizer's sight, so that the guard check at free is what finds it.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize_address, noinline))
#endif
void WriteOutOfSight(volatile unsigned char* block, size_t offset)
{
    block[offset] = 0x5A;
}

struct OverrunCase
{
    const char* name;
    size_t size;
    size_t offset;  // written, counted from the block's start
    bool contiguous;
};

class SpecialPoolOverrun : public SpecialPool, public ::testing::WithParamInterface<OverrunCase>
{
};

TEST_P(SpecialPoolOverrun, FreeingABlockWrittenPastItsEndStopsTheSystemNamingTheBlock)
{
    const OverrunCase& c = GetParam();
    PHYSICAL_ADDRESS high{};
    high.QuadPart = 0xFFFFFFFF;
    auto* block = static_cast<unsigned char*>(
        c.contiguous ? MmAllocateContiguousMemory(c.size, high)
                     : ExAllocatePoolWithTag(NonPagedPoolNx, c.size, kTag));
    ASSERT_NE(block, nullptr);
    WriteOutOfSight(block, c.offset);

    const auto stop = ExpectBugCheck([&] {
        if (c.contiguous) {
            MmFreeContiguousMemory(block);
        } else {
            ExFreePoolWithTag(block, kTag);
        }
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kSpecialPoolDetectedCorruption);
    EXPECT_NE(stop->reason.find("special pool"), std::string::npos) << stop->reason;
    EXPECT_NE(stop->reason.find(std::to_string(c.size) + " bytes"), std::string::npos)
        << stop->reason;
    EXPECT_NE(stop->reason.find(c.contiguous ? "contiguous memory" : "tag 'SpPl'"),
              std::string::npos)
        << stop->reason;
    EXPECT_NE(stop->reason.find(std::to_string(c.offset - c.size) + " byte(s) past its end"),
              std::string::npos)
        << stop->reason;
    EXPECT_EQ(stop->parameters[2], c.offset - c.size);
    // The block stays outstanding after the stop; the fixture reclaims it.
    ASSERT_EQ(OutstandingPool().size(), 1u);
    FreeOutstandingPool();
}

// Offsets that fell in the rounding slack of a 16-byte or page-sized allocator.
INSTANTIATE_TEST_SUITE_P(Blocks, SpecialPoolOverrun,
                         ::testing::Values(OverrunCase{"OddSizeOneBytePast", 13, 13, false},
                                           OverrunCase{"RoundSizeLastGuardByte", 16, 47, false},
                                           OverrunCase{"ContiguousOneBytePast", 100, 100, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpecialPool, BlocksWrittenUpToTheirLastByteFreeCleanly)
{
    auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 13, kTag));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < 13; ++i) {
        block[i] = static_cast<unsigned char>(i);
    }
    EXPECT_FALSE(ExpectBugCheck([&] { ExFreePoolWithTag(block, kTag); }).has_value());
    EXPECT_TRUE(OutstandingPool().empty());
}

#ifdef TEST_UNDER_ASAN
using SpecialPoolDeathTest = SpecialPool;

TEST_F(SpecialPoolDeathTest, AnOverrunIntoWhatWasRoundingSlackIsCaughtWhereItHappens)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* block = static_cast<volatile unsigned char*>(
                ExAllocatePoolWithTag(NonPagedPoolNx, 13, kTag));
            block[13] = 1;
        },
        "AddressSanitizer");
    EXPECT_DEATH(
        {
            PHYSICAL_ADDRESS high{};
            high.QuadPart = 0xFFFFFFFF;
            auto* block =
                static_cast<volatile unsigned char*>(MmAllocateContiguousMemory(100, high));
            (void)block[100];
        },
        "AddressSanitizer");
}
#endif

#ifndef TEST_UNDER_ASAN
// Without the address sanitizer the freed bytes are still readable: they hold the freed-pool
// pattern, not the driver's old data.
TEST_F(SpecialPool, FreedBlocksArePoisoned)
{
    auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x11, 64);
    ExFreePoolWithTag(block, kTag);
    // Reading freed memory on purpose: the check the verifier makes possible.
    EXPECT_EQ(static_cast<volatile unsigned char*>(block)[8], kFreedPoolByte);
}
#else
using SpecialPoolFreedDeathTest = SpecialPool;

TEST_F(SpecialPoolFreedDeathTest, ReadingAFreedBlockIsCaught)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* block = static_cast<volatile unsigned char*>(
                ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag));
            ExFreePoolWithTag(const_cast<unsigned char*>(block), kTag);
            (void)block[8];
        },
        "heap-use-after-free");
}
#endif

// ---- Timers ----------------------------------------------------------------------------------

TEST_F(SpecialPool, ReinitialisingAnArmedTimerStopsTheSystem)
{
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER due;
    due.QuadPart = -10000;
    KeSetTimerEx(&timer, due, 1, nullptr);

    const auto stop = ExpectBugCheck([&] { KeInitializeTimer(&timer); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kTimerOrDpcInvalid);
    EXPECT_NE(stop->reason.find("still set"), std::string::npos) << stop->reason;
    EXPECT_EQ(stop->parameters[0], reinterpret_cast<ULONG_PTR>(&timer));

    KeCancelTimer(&timer);
    KeInitializeTimer(&timer);  // a cancelled timer may be initialised again
    EXPECT_EQ(ArmedTimerCount(), 0u);
}

// ---- Low resources ---------------------------------------------------------------------------

// Runs `attempts` allocations under the simulation; returns which ones failed.
std::vector<bool> FailurePattern(const LowResources& settings, int attempts)
{
    SimulateLowResources(settings);
    std::vector<bool> failed;
    for (int i = 0; i < attempts; ++i) {
        void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
        failed.push_back(p == nullptr);
        if (p != nullptr) {
            ExFreePoolWithTag(p, kTag);
        }
    }
    ClearAllocationFailures();
    return failed;
}

TEST_F(SpecialPool, LowResourcesFailsTheGivenShareAfterTheGracePeriodRepeatablyForASeed)
{
    const LowResources settings{.seed = 7, .failuresPerMillion = 10'000, .graceAllocations = 500};
    const std::vector<bool> first = FailurePattern(settings, 20'500);
    int failures = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_FALSE(i < 500 && first[i]) << "allocation " << i << " failed in the grace period";
        failures += first[i] ? 1 : 0;
    }
    EXPECT_GT(failures, 140);  // 1 % of 20000, within a generous bound
    EXPECT_LT(failures, 260);
    EXPECT_EQ(LowResourcesFailures(kTag), static_cast<uint64_t>(failures));
    EXPECT_EQ(LowResourcesFailures(), static_cast<uint64_t>(failures));

    EXPECT_EQ(FailurePattern(settings, 20'500), first) << "the same seed fails the same attempts";
    EXPECT_NE(
        FailurePattern({.seed = 8, .failuresPerMillion = 10'000, .graceAllocations = 500}, 20'500),
        first);
}

TEST_F(SpecialPool, ClearingAllocationFailuresEndsTheSimulation)
{
    SimulateLowResources({.seed = 1, .failuresPerMillion = 1'000'000, .graceAllocations = 0});
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag), nullptr);
    ClearAllocationFailures();
    void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    EXPECT_NE(p, nullptr);
    ExFreePoolWithTag(p, kTag);
    EXPECT_EQ(LowResourcesFailures(kTag), 1u);
    ResetKernel();
    EXPECT_EQ(LowResourcesFailures(), 0u);
}

}  // namespace
