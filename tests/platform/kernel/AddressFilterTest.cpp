// The verifier's filter of tracked addresses (locks the lock-order graph knows, timers and work
// items the dispatcher holds) against a set: a range holding a tracked address must always be
// answered "may hold", also after other addresses that share its slots were removed, and a
// range whose addresses all went must be answered no once nothing else shares its lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <set>

#include "AddressFilter.h"

namespace {

using Platform::Kernel::Internal::AddressFilter;

const void* At(uintptr_t address)
{
    return reinterpret_cast<const void*>(address);
}

TEST(AddressFilterTest, NeverMissesATrackedAddress)
{
    auto filter = std::make_unique<AddressFilter>();
    std::multiset<uintptr_t> model;
    std::mt19937_64 random(5);
    for (int round = 0; round < 20000; ++round) {
        const uintptr_t address = 0x10000 + ((random() >> 24) << 3);  // scattered, 8-byte aligned
        if (model.empty() || random() % 3 != 0) {
            filter->Add(At(address));
            model.insert(address);
        } else {
            const auto victim =
                std::next(model.begin(), static_cast<long>(random() % model.size()));
            filter->Remove(At(*victim));
            model.erase(victim);
        }
        if (round % 500 != 499) {
            continue;
        }
        for (const uintptr_t tracked : model) {
            for (const size_t before : {size_t{0}, size_t{1}, size_t{63}, size_t{200}}) {
                ASSERT_TRUE(filter->MayHoldAny(At(tracked - before), before + 1))
                    << "a block ending at a tracked lock";
                ASSERT_TRUE(filter->MayHoldAny(At(tracked - before), before + 8));
            }
        }
    }
}

TEST(AddressFilterTest, AnswersNoOnceEveryAddressWent)
{
    auto filter = std::make_unique<AddressFilter>();
    const uintptr_t base = 0x7f0000100000;
    for (uintptr_t offset = 0; offset < 4096; offset += 40) {
        filter->Add(At(base + offset));
    }
    EXPECT_TRUE(filter->MayHoldAny(At(base), 4096));
    EXPECT_TRUE(filter->MayHoldAny(At(base + 80), 1));
    for (uintptr_t offset = 0; offset < 4096; offset += 40) {
        filter->Remove(At(base + offset));
    }
    for (uintptr_t offset = 0; offset < 4096; offset += 64) {
        EXPECT_FALSE(filter->MayHoldAny(At(base + offset), 64)) << "offset " << offset;
    }
    EXPECT_FALSE(filter->MayHoldAny(At(base), 0));
    filter->Add(At(base + 8));
    filter->Clear();
    EXPECT_FALSE(filter->MayHoldAny(At(base), 64));
}

// Large blocks are not looked at line by line: the owner's own look-up answers for them.
TEST(AddressFilterTest, LargeBlocksAreAlwaysLookedUp)
{
    auto filter = std::make_unique<AddressFilter>();
    EXPECT_FALSE(filter->MayHoldAny(At(0x10000), 4096));
    EXPECT_TRUE(filter->MayHoldAny(At(0x10000), 4096 + 64));
}

}  // namespace
