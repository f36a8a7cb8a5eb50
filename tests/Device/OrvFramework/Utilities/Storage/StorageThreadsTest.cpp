// The queue and the pools across threads (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "ObjectBase/RCPtr.h"
#include "Utilities/Storage/PooledPayload.h"
#include "Utilities/Storage/RCPtrQueue.h"
#include "Utilities/Storage/ReuseAllocator.h"
#include "Utilities/Storage/StringT.h"

// Huge requests must come back as null so the pools can report them.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

class LMessage : public virtual Orv::LRefCountedObject
{
public:
    LMessage(int producer, int sequence, std::atomic<int>& live)
        : producer(producer), sequence(sequence), live(live)
    {
        live.fetch_add(1);
    }
    ~LMessage() override { live.fetch_sub(1); }
    int producer;
    int sequence;
    std::atomic<int>& live;
};

TEST(StorageThreads, ProducersAndOneConsumerLoseNothingAndKeepEachProducersOrder)
{
    constexpr int kProducers = 4;
    constexpr int kMessages = 5000;
    std::atomic<int> live{0};
    {
        Orv::Mutex lock;
        // Few slots, so the ring grows while the others post.
        Orv::RCPtrQueue<LMessage, 8> queue(&lock);
        std::vector<std::thread> producers;
        for (int p = 0; p < kProducers; ++p) {
            producers.emplace_back([&, p] {
                for (int s = 0; s < kMessages; ++s) {
                    queue.Enqueue(Orv::RCPtr<LMessage>(new LMessage(p, s, live)));
                }
            });
        }
        std::vector<int> next(kProducers, 0);
        int received = 0;
        bool inOrder = true;
        while (received < kProducers * kMessages) {
            if (queue.GetCount() == 0) {
                std::this_thread::yield();
                continue;
            }
            const Orv::RCPtr<LMessage> message = queue.Dequeue();
            inOrder = inOrder && message->sequence == next[message->producer];
            ++next[message->producer];
            ++received;
        }
        for (std::thread& producer : producers) {
            producer.join();
        }
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(queue.GetCount(), 0);
    }
    EXPECT_EQ(live.load(), 0);
}

struct Block
{
    std::thread::id owner;
    int counter;
};

TEST(StorageThreads, ALockedPoolNeverHandsOneBlockToTwoThreads)
{
    Orv::ReuseAllocator<Block, 4> pool(true);
    constexpr int kThreads = 6;
    std::atomic<bool> shared{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            std::vector<Block*> mine;
            for (int round = 0; round < 2000; ++round) {
                auto* block = static_cast<Block*>(pool.Allocate(sizeof(Block)));
                block->owner = std::this_thread::get_id();
                block->counter = round;
                mine.push_back(block);
                if (mine.size() > 3) {
                    for (Block* held : mine) {
                        shared = shared || held->owner != std::this_thread::get_id();
                        pool.Free(held);
                    }
                    mine.clear();
                }
            }
            for (Block* held : mine) {
                pool.Free(held);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(shared.load());
    EXPECT_EQ(pool.GetFreeCount(), pool.GetBlockCount()) << "every block came back";
    EXPECT_LE(pool.GetBlockCount(), static_cast<uint32_t>(kThreads * 4));
}

TEST(StorageThreads, StringsSharingABufferMayLiveOnDifferentThreads)
{
    const Orv::WideString shared(u"shared text");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 500; ++round) {
                Orv::WideString copy(shared);  // one more reference to the same buffer
                Orv::WideString other = copy;
                copy.Append(Orv::WideString::Format(u" %d", t));
                other.ReplaceChars(u"s", u'S');
                if (!other.Equals(u"Shared text") || copy.GetLength() != 13 ||
                    !copy.Left(11).Equals(u"shared text")) {
                    wrong.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(shared.Equals(u"shared text"));
    EXPECT_EQ(shared.GetText(), Orv::WideString(shared).GetText());
}

struct Enormous
{
    char bytes[std::size_t{1} << 44];
};

TEST(StorageThreads, AFailedAllocationInsideTheLockReleasesIt)
{
    Orv::ReuseAllocator<Enormous, 1> pool(true);
    void* small = pool.Allocate(16);  // another size: from the heap, without the lock
    EXPECT_THROW(pool.Allocate(sizeof(Enormous)), std::bad_alloc);
    EXPECT_EQ(pool.GetBlockCount(), 0u);
    // Free takes the pool's lock; on another thread it would wait forever for a leaked one.
    std::promise<void> done;
    std::future<void> freed = done.get_future();
    std::thread freer([&] {
        pool.Free(small);
        done.set_value();
    });
    if (freed.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        freer.detach();  // stuck on the leaked lock; the test has failed either way
        FAIL() << "the pool's lock was left held";
    }
    freer.join();
}

class LSharedParam : public virtual Orv::LRefCountedObject,
                     public Orv::PooledPayload<LSharedParam, 4>
{
public:
    explicit LSharedParam(int value) : value(value) {}
    int value;
};

TEST(StorageThreads, PayloadsComeAndGoOnManyThreadsThroughTheirPool)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<bool> intact{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const Orv::RCPtr<LSharedParam> first(new LSharedParam(t * kRounds + round));
                const Orv::RCPtr<LSharedParam> second(new LSharedParam(-round));
                if (first.Get() == second.Get() || first->value != t * kRounds + round ||
                    second->value != -round) {
                    intact.store(false);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(intact.load()) << "no block was handed out twice";
    auto& pool = LSharedParam::Pool();
    EXPECT_LE(pool.GetBlockCount(), static_cast<uint32_t>(2 * kThreads));
    EXPECT_EQ(pool.GetFreeCount(), pool.GetBlockCount()) << "every block came back";
}

}  // namespace
