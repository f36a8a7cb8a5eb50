// The counted-pointer ring: order, growth by one slot, references.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Utilities/Storage/RCPtrQueue.h"

namespace OrvTest {

class LItem : public virtual Orv::LRefCountedObject
{
public:
    LItem(int value, int& live) : value(value), live(live) { ++live; }
    ~LItem() override { --live; }
    int value;
    int& live;
};

}  // namespace OrvTest

namespace {

using Orv::RCPtr;
using OrvTest::LItem;

class RCPtrQueueTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(live, 0) << "every item released"; }

    RCPtr<LItem> Make(int value) { return RCPtr<LItem>(new LItem(value, live)); }

    template <class Queue>
    std::vector<int> Drain(Queue& queue)
    {
        std::vector<int> values;
        while (queue.GetCount() > 0) {
            values.push_back(queue.Dequeue()->value);
        }
        return values;
    }

    static std::vector<int> Range(int from, int to)
    {
        std::vector<int> values;
        for (int v = from; v < to; ++v) {
            values.push_back(v);
        }
        return values;
    }

    int live = 0;
};

TEST_F(RCPtrQueueTest, TakesSlotsLessOneItemsThenGrowsByOneSlotAndKeepsTheOrder)
{
    Orv::RCPtrQueue<LItem, 256> queue;
    EXPECT_EQ(queue.GetSlotCount(), 256u);
    for (int i = 0; i < 255; ++i) {
        queue.Enqueue(Make(i));
    }
    EXPECT_EQ(queue.GetSlotCount(), 256u) << "255 items fit without growing";
    EXPECT_EQ(queue.GetCount(), 255);
    queue.Enqueue(Make(255));
    EXPECT_EQ(queue.GetSlotCount(), 257u);
    EXPECT_EQ(queue.GetCount(), 256);
    EXPECT_EQ(Drain(queue), Range(0, 256));
}

TEST_F(RCPtrQueueTest, GrowthWithAWrappedRingKeepsTheOrder)
{
    // Every fill level and every rotation of a small ring, then growth past it.
    for (int rotation = 0; rotation < 4; ++rotation) {
        for (int extra = 0; extra < 6; ++extra) {
            Orv::RCPtrQueue<LItem, 4> queue;
            for (int i = 0; i < rotation; ++i) {
                queue.Enqueue(Make(-1));
                queue.Dequeue();
            }
            const int total = 3 + extra;
            for (int i = 0; i < total; ++i) {
                queue.Enqueue(Make(i));
            }
            EXPECT_EQ(queue.GetSlotCount(), static_cast<uint32_t>(4 + extra));
            EXPECT_EQ(Drain(queue), Range(0, total))
                << "rotation " << rotation << " extra " << extra;
        }
    }
}

TEST_F(RCPtrQueueTest, InterleavedUseAfterGrowth)
{
    Orv::RCPtrQueue<LItem, 2> queue;
    std::vector<int> out;
    int next = 0;
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < round % 7; ++i) {
            queue.Enqueue(Make(next++));
        }
        for (int i = 0; i < round % 5 && queue.GetCount() > 0; ++i) {
            out.push_back(queue.Dequeue()->value);
        }
    }
    const std::vector<int> rest = Drain(queue);
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, Range(0, next));
}

TEST_F(RCPtrQueueTest, AQueueWithoutSlotsStartsWithTwo)
{
    Orv::RCPtrQueue<LItem, 256> queue(nullptr, 0);
    EXPECT_EQ(queue.GetCount(), 0);
    EXPECT_EQ(queue.Enqueue(Make(1)), S_OK);
    EXPECT_EQ(queue.GetSlotCount(), 2u);
    queue.Enqueue(Make(2));
    EXPECT_EQ(queue.GetSlotCount(), 3u);
    EXPECT_EQ(Drain(queue), (std::vector<int>{1, 2}));
}

TEST_F(RCPtrQueueTest, DequeueOfAnEmptyQueueThrowsARuntimeError)
{
    Orv::Mutex lock;
    Orv::RCPtrQueue<LItem, 256> queue(&lock);
    try {
        queue.Dequeue();
        FAIL() << "no exception";
    } catch (const Orv::Exception<std::runtime_error>& error) {
        EXPECT_THAT(error.what(),
                    ::testing::MatchesRegex("Runtime Error : Orv::RCPtrQueue<class "
                                            "OrvTest::LItem,256>::Dequeue : "
                                            "Utilities.Storage.RCPtrQueue : Line [0-9]+"));
    }
    queue.Enqueue(Make(1));
    queue.Dequeue();
    EXPECT_THROW(queue.Dequeue(), std::runtime_error);
}

TEST_F(RCPtrQueueTest, TheQueueHoldsOneReferenceAndHandsItToTheReader)
{
    RCPtr<LItem> item = Make(5);
    {
        Orv::RCPtrQueue<LItem, 4> queue;
        queue.Enqueue(item);
        queue.Enqueue(item);
        EXPECT_EQ(item->GetRefCount(), 3);
        RCPtr<LItem> out = queue.Dequeue();
        EXPECT_EQ(item->GetRefCount(), 3) << "the reference moved to the reader";
        out = nullptr;
        EXPECT_EQ(item->GetRefCount(), 2);
        queue.Enqueue(Make(6));
    }
    EXPECT_EQ(item->GetRefCount(), 1) << "a destroyed queue releases what it held";
}

}  // namespace
