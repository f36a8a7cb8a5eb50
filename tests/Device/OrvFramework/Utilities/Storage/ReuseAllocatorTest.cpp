// The payload pools: blocks reused last in, first out; other sizes from the heap.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <set>
#include <vector>

#include "Utilities/Storage/ReuseAllocator.h"

namespace {

struct Payload
{
    double value;
    void* pointer;
};

TEST(ReuseAllocator, AFreedBlockIsTheNextOneHandedOut)
{
    Orv::ReuseAllocator<Payload, 4> pool;
    void* first = pool.Allocate(sizeof(Payload));
    void* second = pool.Allocate(sizeof(Payload));
    EXPECT_NE(first, second);
    pool.Free(first);
    EXPECT_EQ(pool.Allocate(sizeof(Payload)), first);
    pool.Free(second);
    pool.Free(first);
    EXPECT_EQ(pool.Allocate(sizeof(Payload)), first) << "last in, first out";
    EXPECT_EQ(pool.Allocate(sizeof(Payload)), second);
    EXPECT_EQ(pool.GetBlockCount(), 2u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % alignof(std::max_align_t), 0u);
}

TEST(ReuseAllocator, OtherSizesComeFromTheHeapAndGoBackThere)
{
    Orv::ReuseAllocator<Payload, 4> pool;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, sizeof(Payload) + 1, std::size_t{4096}}) {
        void* block = pool.Allocate(size);
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xAB, size);
        pool.Free(block);  // under AddressSanitizer a wrong free or a leak fails here
    }
    EXPECT_EQ(pool.GetBlockCount(), 0u) << "the pool is not touched";
    EXPECT_EQ(pool.GetFreeCount(), 0u);
    EXPECT_THROW(pool.Allocate(SIZE_MAX - 4), std::bad_alloc);
    pool.Free(nullptr);
}

TEST(ReuseAllocator, ABlockFreedTwiceIsHandedOutOnce)
{
    Orv::ReuseAllocator<Payload, 4> pool;
    void* block = pool.Allocate(sizeof(Payload));
    pool.Free(block);
    pool.Free(block);
    EXPECT_EQ(pool.GetFreeCount(), 1u);
    void* a = pool.Allocate(sizeof(Payload));
    void* b = pool.Allocate(sizeof(Payload));
    EXPECT_NE(a, b);
}

TEST(ReuseAllocator, TheBlockTableGrowsByNEntriesOfCapacity)
{
    Orv::ReuseAllocator<Payload, 32> pool;
    EXPECT_EQ(pool.GetBlockCapacity(), 32u) << "the first step is there from the start";
    std::vector<void*> blocks;
    std::set<void*> distinct;
    for (int i = 0; i < 33; ++i) {
        blocks.push_back(pool.Allocate(sizeof(Payload)));
        distinct.insert(blocks.back());
    }
    EXPECT_EQ(distinct.size(), 33u);
    EXPECT_EQ(pool.GetBlockCapacity(), 64u);
    for (void* block : blocks) {
        pool.Free(block);
    }
    EXPECT_EQ(pool.GetFreeCount(), 33u);
    EXPECT_EQ(pool.GetBlockCount(), 33u) << "blocks stay with the pool";
}

// A payload class bound to its pool, as the notification payloads are.
class LPooledParam
{
public:
    explicit LPooledParam(int value, bool fail = false) : value(value)
    {
        if (fail) {
            throw std::runtime_error("construction failed");
        }
    }
    static void* operator new(std::size_t size) { return Pool().Allocate(size); }
    static void operator delete(void* block) { Pool().Free(block); }
    static Orv::ReuseAllocator<LPooledParam, 4>& Pool()
    {
        static Orv::ReuseAllocator<LPooledParam, 4> pool;
        return pool;
    }
    int value;
    char padding[20] = {};
};

TEST(ReuseAllocator, APayloadClassLivesInItsPool)
{
    LPooledParam* first = new LPooledParam(1);
    delete first;
    LPooledParam* second = new LPooledParam(2);
    EXPECT_EQ(second, first) << "the storage is reused";
    EXPECT_EQ(second->value, 2);
    EXPECT_THROW(new LPooledParam(3, true), std::runtime_error);
    LPooledParam* third = new LPooledParam(4);
    EXPECT_NE(third, second);
    EXPECT_EQ(LPooledParam::Pool().GetBlockCount(), 2u)
        << "a constructor that throws gives its block back";
    delete second;
    delete third;
}

}  // namespace
