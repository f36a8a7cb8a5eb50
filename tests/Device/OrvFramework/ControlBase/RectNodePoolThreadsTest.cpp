#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ControlBase/RectRegion.h"

namespace {

using Orv::RectNodePool;

TEST(RectNodePool, RegionsOnSeveralThreadsShareThePool)
{
    RectNodePool& pool = RectNodePool::GetProcessPool();
    const int32_t liveBefore = pool.GetLiveCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int round = 0; round < 200; ++round) {
                Orv::RectRegion region;
                for (int i = 0; i < 40; ++i) {
                    region.AddRect(i + t, i, i + 10, i + 7);
                }
                region.Normalize();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(pool.GetLiveCount(), liveBefore);
}

}  // namespace
