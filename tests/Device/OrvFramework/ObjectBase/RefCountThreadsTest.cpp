// References to one object taken and dropped on several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ObjectBase/RCPtr.h"

namespace {

class LShared : public virtual Orv::LRefCountedObject
{
public:
    explicit LShared(std::atomic<int>& destructions) : destructions(destructions) {}
    ~LShared() override { destructions.fetch_add(1); }

private:
    std::atomic<int>& destructions;
};

TEST(RefCountThreads, ObjectIsDestroyedExactlyOnceAfterConcurrentCopies)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    for (int trial = 0; trial < 5; ++trial) {
        std::atomic<int> destructions{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        {
            Orv::RCPtr<LShared> origin(new LShared(destructions));
            for (int t = 0; t < kThreads; ++t) {
                // Each thread gets its own pointer; the last one of them to finish destroys.
                threads.emplace_back([held = origin, &go]() mutable {
                    while (!go.load()) {
                        std::this_thread::yield();
                    }
                    for (int i = 0; i < kRounds; ++i) {
                        Orv::RCPtr<LShared> copy(held);
                        Orv::ConstRCPtr<Orv::LRefCountedObject> base(copy);
                        Orv::RCPtr<LShared> assigned;
                        assigned = copy;
                    }
                    held = nullptr;
                });
            }
            EXPECT_EQ(origin->GetRefCount(), kThreads + 1);
        }
        go.store(true);
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(destructions.load(), 1) << "trial " << trial;
    }
}

}  // namespace
