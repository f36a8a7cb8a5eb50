#include "ControlBase/RectNodePool.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "ControlBase/RectRegion.h"
#include "RegionTestSupport.h"

namespace {

using Orv::RectNode;
using Orv::RectNodePool;

TEST(RectNodePool, SlotsHoldANodeAndItsRingEntryWithoutOverlap)
{
    static_assert(RectNodePool::kSlotStride >= sizeof(RectNode) + sizeof(int32_t));
    static_assert(RectNodePool::kSlotStride % alignof(RectNode) == 0);

    RectNodePool pool(4);
    std::vector<RectNode*> nodes;
    for (int i = 0; i < 4; ++i) {
        nodes.push_back(pool.Allocate());
        ASSERT_NE(nodes.back(), nullptr);
        EXPECT_TRUE(pool.IsFromPool(nodes.back()));
    }
    // A full node written in every slot, then the last two freed: their ring entries go to ring
    // positions 0 and 1, the int32 after slots 0 and 1, which are still in use. Slots sized for
    // 32-bit pointers put those entries inside the live nodes' next pointers.
    for (RectNode* n : nodes) {
        *n = RectNode{-1, -1, -1, -1, n};
    }
    pool.Free(nodes[3]);
    pool.Free(nodes[2]);
    for (int i : {0, 1}) {
        EXPECT_EQ(nodes[i]->next, nodes[i]) << "node " << i;
        EXPECT_EQ(nodes[i]->bottom, -1) << "node " << i;
    }
    EXPECT_EQ(pool.Allocate(), nodes[3]) << "first freed, first reused";
    pool.Free(nodes[0]);
    pool.Free(nodes[1]);
    pool.Free(nodes[3]);
}

TEST(RectNodePool, FirstFreedIsFirstReusedAndOverflowGoesToTheHeap)
{
    RectNodePool pool(3);
    EXPECT_EQ(pool.GetCapacity(), 0) << "initialised by the first allocation";
    RectNode* a = pool.Allocate();
    RectNode* b = pool.Allocate();
    RectNode* c = pool.Allocate();
    EXPECT_EQ(pool.GetCapacity(), 3);
    EXPECT_EQ(pool.GetFreeCount(), 0);
    RectNode* heap = pool.Allocate();
    ASSERT_NE(heap, nullptr);
    EXPECT_FALSE(pool.IsFromPool(heap));
    EXPECT_EQ(pool.GetLiveCount(), 4);
    EXPECT_EQ(pool.GetPeakCount(), 4);
    pool.Free(heap);
    EXPECT_EQ(pool.GetFreeCount(), 0) << "a heap node does not enter the ring";
    pool.Free(b);
    pool.Free(a);
    EXPECT_EQ(pool.Allocate(), b);
    EXPECT_EQ(pool.Allocate(), a);
    pool.Free(a);
    pool.Free(b);
    pool.Free(c);
    EXPECT_EQ(pool.GetLiveCount(), 0);
    EXPECT_EQ(pool.GetPeakCount(), 4);
}

TEST(RectNodePool, NodesAreZeroed)
{
    RectNodePool pool(1);
    RectNode* n = pool.Allocate();
    *n = RectNode{1, 2, 3, 4, n};
    pool.Free(n);
    n = pool.Allocate();
    EXPECT_EQ(n->left | n->top | n->right | n->bottom, 0);
    EXPECT_EQ(n->next, nullptr);
    pool.Free(n);
}

TEST(RectNodePool, FreeingAPoolNodeTwiceKeepsTheRingWhole)
{
    RectNodePool pool(2);
    RectNode* a = pool.Allocate();
    pool.Free(a);
    pool.Free(a);  // misuse: must neither crash nor hand the slot out twice
    RectNode* x = pool.Allocate();
    RectNode* y = pool.Allocate();
    EXPECT_NE(x, y);
    pool.Free(x);
    pool.Free(y);
}

TEST(RectNodePool, ProcessPoolHands513thNodeFromTheHeap)
{
    RectNodePool& pool = RectNodePool::GetProcessPool();
    EXPECT_EQ(&pool, &RectNodePool::GetProcessPool());
    std::vector<RectNode*> nodes;
    const int32_t liveBefore = pool.GetLiveCount();
    while (pool.GetCapacity() == 0 || pool.GetFreeCount() > 0) {
        nodes.push_back(pool.Allocate());
    }
    EXPECT_EQ(pool.GetCapacity(), 512);
    RectNode* extra = pool.Allocate();
    EXPECT_FALSE(pool.IsFromPool(extra));
    EXPECT_EQ(pool.GetLiveCount(), liveBefore + static_cast<int32_t>(nodes.size()) + 1);
    pool.Free(extra);
    EXPECT_EQ(pool.GetFreeCount(), 0);
    for (RectNode* n : nodes) {
        pool.Free(n);
    }
    EXPECT_EQ(pool.GetLiveCount(), liveBefore);
}

// The heap as a test can make it refuse.
int heapAllowance = 0;
void* LimitedHeap(size_t size)
{
    if (heapAllowance <= 0) {
        return nullptr;
    }
    --heapAllowance;
    return ::operator new(size, std::nothrow);
}

TEST(RectNodePool, RefusedNodeThrowsAndLeavesTheRegionWhole)
{
    RectNodePool pool(0, &LimitedHeap);  // no slots: every node from the limited heap
    heapAllowance = 1;
    {
        Orv::RectRegion region(pool);
        region.AddRect(0, 0, 30, 30);
        EXPECT_THROW(region.AddRect(10, 10, 20, 20), std::bad_alloc);
        EXPECT_EQ(RegionTest::CompareArea(region, {{0, 0, 30, 30}}), "");
        heapAllowance = 2;  // the new node and only one of the four pieces
        EXPECT_THROW(region.AddRect(10, 10, 20, 20), std::bad_alloc);
        EXPECT_EQ(RegionTest::CompareArea(region, {{0, 0, 30, 30}}), "");
        heapAllowance = 0;
        EXPECT_THROW(region.SubtractRect(10, 10, 20, 20), std::bad_alloc);
        EXPECT_EQ(RegionTest::CompareArea(region, {{0, 0, 30, 30}}), "");
        Orv::RectRegion other(pool);
        EXPECT_THROW(other.Append(region), std::bad_alloc);
    }
    EXPECT_EQ(pool.GetLiveCount(), 0) << "nothing leaked on the failing paths";
}

}  // namespace
