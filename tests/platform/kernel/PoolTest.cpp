// Pool accounting, poisoning, failure injection and the checks on bad frees.
#include <KernelTestApi.h>
#include <wdm.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>

#include "KernelTestFixture.h"

namespace {

using namespace Platform::Kernel;

constexpr ULONG kTagA = MakeTag("TstA");
constexpr ULONG kTagB = MakeTag("TstB");

class Pool : public Testing::KernelTest
{
};

TEST_F(Pool, TagTextSpellsTheBytesInMemoryOrder)
{
    const ULONG tag = MakeTag("PcNw");
    char bytes[4];
    std::memcpy(bytes, &tag, 4);
    EXPECT_EQ(std::string(bytes, 4), "PcNw");
    EXPECT_EQ(TagText(tag), "PcNw");
    EXPECT_EQ(TagText(0x0100'0041), "A...");
}

TEST_F(Pool, NewBlocksArePoisonedAndCountedByTagUntilFreed)
{
    auto* a = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 24, kTagA));
    void* b = ExAllocatePoolWithTag(PagedPool, 8, kTagB);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(a[i], kPoolPoisonByte) << "byte " << i;
    }
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);

    auto outstanding = OutstandingPool();
    ASSERT_EQ(outstanding.size(), 2u);
    EXPECT_EQ(outstanding[0].tag, kTagA);
    EXPECT_EQ(outstanding[0].size, 24u);
    EXPECT_EQ(outstanding[1].tag, kTagB);

    ExFreePoolWithTag(a, kTagA);
    ExFreePool(b);
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(Pool, ASetPoisonByteFillsNewBlocksUntilTheKernelIsReset)
{
    SetPoolPoisonByte(0x5A);
    auto* a = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 40, kTagA));
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(a[i], 0x5A) << "byte " << i;
    }
    ExFreePoolWithTag(a, kTagA);
    ResetKernel();
    EXPECT_EQ(PoolPoisonByte(), kPoolPoisonByte);
}

TEST_F(Pool, ContiguousMemoryIsPageAlignedAndAccounted)
{
    PHYSICAL_ADDRESS low{}, high{}, boundary{};
    high.QuadPart = 0xFFFFFFFF;
    void* p = MmAllocateContiguousMemorySpecifyCache(10000, low, high, boundary, MmCached);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % PAGE_SIZE, 0u);
    ASSERT_EQ(OutstandingPool().size(), 1u);
    EXPECT_TRUE(OutstandingPool()[0].contiguous);
    MmFreeContiguousMemory(p);
    EXPECT_TRUE(OutstandingPool().empty());
}

TEST_F(Pool, TheNthAllocationFailsOnceAndTheRestSucceed)
{
    FailAllocationNumber(2);
    void* first = ExAllocatePoolWithTag(NonPagedPool, 4, kTagA);
    void* second = ExAllocatePoolWithTag(NonPagedPool, 4, kTagA);
    void* third = ExAllocatePoolWithTag(NonPagedPool, 4, kTagA);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    ExFreePool(first);
    ExFreePool(third);
}

TEST_F(Pool, EveryAllocationWithAFailingTagFailsUntilCleared)
{
    FailAllocationsWithTag(kTagB);
    void* a = ExAllocatePoolWithTag(NonPagedPool, 4, kTagA);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 4, kTagB), nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 4, kTagB), nullptr);
    ClearAllocationFailures();
    void* b = ExAllocatePoolWithTag(NonPagedPool, 4, kTagB);
    EXPECT_NE(b, nullptr);
    ExFreePool(a);
    ExFreePool(b);
}

struct BadFree
{
    const char* name;
    void (*run)(void* block);
};

void PrintTo(const BadFree& c, std::ostream* out)
{
    *out << c.name;
}

const BadFree kBadFrees[] = {
    {"WrongTag", [](void* block) { ExFreePoolWithTag(block, kTagB); }},
    {"DoubleFree",
     [](void* block) {
         ExFreePool(block);
         ExFreePool(block);
     }},
    {"Null", [](void*) { ExFreePool(nullptr); }},
    {"PoolBlockAsContiguous", [](void* block) { MmFreeContiguousMemory(block); }},
    {"AtRaisedIrql",
     [](void* block) {
         KIRQL old;
         KeRaiseIrql(HIGH_LEVEL, &old);
         ExFreePool(block);
     }},
};

class PoolBadFree : public Pool, public testing::WithParamInterface<BadFree>
{
};

TEST_P(PoolBadFree, StopsTheSystem)
{
    void* block = ExAllocatePoolWithTag(NonPagedPool, 4, kTagA);
    const auto stop = ExpectBugCheck([&] { GetParam().run(block); });
    ASSERT_TRUE(stop.has_value());
    EXPECT_TRUE(stop->code == kBadPoolCaller || stop->code == kIrqlNotLessOrEqual)
        << stop->Describe();
    FreeOutstandingPool();
}

INSTANTIATE_TEST_SUITE_P(Cases, PoolBadFree, testing::ValuesIn(kBadFrees),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pool, PagedPoolAtDispatchLevelStopsTheSystem)
{
    const auto stop = ExpectBugCheck([] {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        ExAllocatePoolWithTag(PagedPool, 4, kTagA);
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->code, kIrqlNotLessOrEqual);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(PoolFixture, ALeakedBlockFailsTheTestNamingItsTag)
{
    Testing::BeginKernelTest();
    ExAllocatePoolWithTag(NonPagedPool, 40, MakeTag("Leak"));
    EXPECT_NONFATAL_FAILURE(Testing::EndKernelTest(), "pool leaked: tag 'Leak', 40 bytes");
    EXPECT_TRUE(OutstandingPool().empty());
}

}  // namespace
