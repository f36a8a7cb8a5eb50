#include "Renderer/PurgableObjectCache.h"

#include <gtest/gtest.h>

#include <string>

#include "ObjectBase/RefCountedObject.h"
#include "Utilities/Graphics/Polyline.h"

namespace {

// A cached back-end object that counts how many of its kind are alive, so a test sees releases.
class CachedThing : public Orv::LRefCountedObject
{
public:
    explicit CachedThing(int tag) : tag(tag) { ++alive; }
    ~CachedThing() override { --alive; }
    int tag;
    static inline int alive = 0;
};

int KeyId(const int& key)
{
    return key;
}

using Cache = Orv::PurgableObjectCache<CachedThing, int, int, &KeyId>;

// Acquires key and, when the slot is empty, fills it with a thing tagged by the key.
bool AcquireAndFill(Cache& cache, int key, bool invalidate = false)
{
    Orv::RCPtr<CachedThing>& slot = cache.Acquire(key, invalidate);
    const bool wasEmpty = slot.IsNull();
    if (wasEmpty) {
        slot = new CachedThing(key);
    }
    return wasEmpty;
}

class PurgableObjectCacheTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(CachedThing::alive, 0) << "a cached object leaked"; }
};

TEST_F(PurgableObjectCacheTest, LeastRecentlyUsedIsReused)
{
    Cache cache(2);
    EXPECT_TRUE(AcquireAndFill(cache, 'A'));
    EXPECT_TRUE(AcquireAndFill(cache, 'B'));
    EXPECT_FALSE(AcquireAndFill(cache, 'A'));
    EXPECT_TRUE(cache.Acquire('C', false).IsNull()) << "the slot for a new key is empty";
    // B's entry (index 1) was taken for C; A is still cached.
    EXPECT_EQ(cache.GetEntry(1).id, 'C');
    EXPECT_EQ(cache.GetEntry(0).id, 'A');
    EXPECT_EQ(CachedThing::alive, 1) << "B's object was released";
    EXPECT_FALSE(cache.Acquire('A', false).IsNull());
    EXPECT_EQ(cache.GetIndexedCount(), 2);
}

TEST_F(PurgableObjectCacheTest, EntriesAreTakenInOrderAndCountUses)
{
    Cache cache(4);
    for (int key : {10, 20, 30}) {
        AcquireAndFill(cache, key);
    }
    AcquireAndFill(cache, 20);
    EXPECT_EQ(cache.GetEntry(0).id, 10);
    EXPECT_EQ(cache.GetEntry(1).id, 20);
    EXPECT_EQ(cache.GetEntry(2).id, 30);
    EXPECT_EQ(cache.GetEntry(1).useCount, 2u);
    EXPECT_EQ(cache.GetEntry(1).lastUse, 4u);
    EXPECT_EQ(cache.GetUseCounter(), 4u);
}

TEST_F(PurgableObjectCacheTest, InvalidateDropsTheObject)
{
    Cache cache(2);
    AcquireAndFill(cache, 1);
    EXPECT_TRUE(cache.Acquire(1, true).IsNull());
    EXPECT_EQ(CachedThing::alive, 0);
    EXPECT_EQ(cache.GetEntry(0).useCount, 1u) << "the invalidating lookup counts as one use";
}

TEST_F(PurgableObjectCacheTest, PurgeReleasesWhatWasNotUsedSinceTheMark)
{
    Cache cache(4);
    AcquireAndFill(cache, 1);
    AcquireAndFill(cache, 2);
    const uint32_t mark = cache.GetUseCounter() + 1;  // the next lookup is at the mark
    AcquireAndFill(cache, 3);
    AcquireAndFill(cache, 1);
    // Entry 3 (last use 0, never used) counts as older too.
    EXPECT_EQ(cache.PurgeOlderThan(mark), 2);
    EXPECT_EQ(CachedThing::alive, 2);
    EXPECT_TRUE(cache.Acquire(2, false).IsNull()) << "purged: the key stays, the object goes";
    EXPECT_EQ(cache.GetIndexedCount(), 3);
    EXPECT_FALSE(cache.Acquire(3, false).IsNull());
    EXPECT_FALSE(cache.Acquire(1, false).IsNull());
}

TEST_F(PurgableObjectCacheTest, PurgeAcrossTheCounterWrap)
{
    Cache cache(2);
    AcquireAndFill(cache, 1);  // last use 1
    // A mark "just after" a counter that wrapped: entry 1 was used long before it.
    EXPECT_EQ(cache.PurgeOlderThan(0x80000000u), 2) << "1 - 0x80000000 is negative";
    Cache other(2);
    AcquireAndFill(other, 1);
    // A mark taken just before the counter wrapped: uses after the wrap (1, and 0 of the unused
    // entry) are newer, not 4 billion uses older.
    EXPECT_EQ(other.PurgeOlderThan(0xFFFFFFFFu), 0);
    EXPECT_FALSE(other.Acquire(1, false).IsNull());
}

TEST_F(PurgableObjectCacheTest, FullCacheTakesAPurgedEntryFirst)
{
    Cache cache(3);
    AcquireAndFill(cache, 1);
    AcquireAndFill(cache, 2);
    AcquireAndFill(cache, 3);
    AcquireAndFill(cache, 1);
    EXPECT_EQ(cache.Discard(3), 0);
    EXPECT_EQ(cache.Discard(99), 1);
    // Entry 2 (key 2) is the oldest, but entry 2's neighbour with key 3 is empty: it goes first.
    EXPECT_TRUE(AcquireAndFill(cache, 4));
    EXPECT_EQ(cache.GetEntry(2).id, 4);
    EXPECT_FALSE(AcquireAndFill(cache, 2)) << "key 2 kept its object";
}

TEST_F(PurgableObjectCacheTest, UseCountSaturates)
{
    Cache cache(1);
    AcquireAndFill(cache, 7);
    auto& entry = const_cast<Cache::Entry&>(cache.GetEntry(0));
    entry.useCount = 0xFFFFFFFEu;
    cache.Acquire(7, false);
    EXPECT_EQ(cache.GetEntry(0).useCount, 0xFFFFFFFFu);
    cache.Acquire(7, false);
    EXPECT_EQ(cache.GetEntry(0).useCount, 0xFFFFFFFFu);
}

TEST_F(PurgableObjectCacheTest, KeysSharingABucketStayApart)
{
    Cache cache(4);
    // 5, 261, 517 and 773 all hash to bucket 5.
    for (int key : {5, 261, 517, 773}) {
        EXPECT_TRUE(AcquireAndFill(cache, key)) << key;
    }
    for (int key : {773, 5, 517, 261}) {
        Orv::RCPtr<CachedThing>& slot = cache.Acquire(key, false);
        ASSERT_FALSE(slot.IsNull()) << key;
        EXPECT_EQ(slot->tag, key);
    }
}

TEST_F(PurgableObjectCacheTest, RefusesCapacityZero)
{
    EXPECT_THROW(Cache(0), std::invalid_argument);
}

// Keyed by drawable handles, a polyline built where a freed one lived cannot find its entry.
Orv::GraphicsHandle PolylineId(const Orv::PolylineF& line)
{
    return line.GetHandle();
}

TEST_F(PurgableObjectCacheTest, NewPolylineAtAFreedAddressMissesTheCache)
{
    Orv::PurgableObjectCache<CachedThing, Orv::PolylineF, Orv::GraphicsHandle, &PolylineId> cache(
        8);
    alignas(Orv::PolylineF) unsigned char storage[sizeof(Orv::PolylineF)];
    auto* first = new (storage) Orv::PolylineF();
    cache.Acquire(*first, false) = new CachedThing(1);
    first->~PolylineT();
    auto* second = new (storage) Orv::PolylineF();  // the very same address
    EXPECT_TRUE(cache.Acquire(*second, false).IsNull());
    second->~PolylineT();
}

}  // namespace
