#include "System/Mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

namespace {

bool OtherThreadCanEnter(Orv::Mutex& mutex)
{
    return std::async(std::launch::async,
                      [&mutex] {
                          if (!mutex.TryEnter()) {
                              return false;
                          }
                          mutex.Leave();
                          return true;
                      })
        .get();
}

TEST(Mutex, OwnerEntersAgainAndHoldsUntilLastLeave)
{
    Orv::Mutex mutex;
    mutex.Enter();
    mutex.Enter();
    EXPECT_FALSE(OtherThreadCanEnter(mutex));
    mutex.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(mutex));
    mutex.Leave();
    EXPECT_TRUE(OtherThreadCanEnter(mutex));
}

TEST(ScopedLock, LeavesWhenAnExceptionEndsTheScope)
{
    Orv::Mutex mutex;
    try {
        Orv::ScopedLock lock(&mutex);
        Orv::ScopedLock again(mutex);
        EXPECT_FALSE(OtherThreadCanEnter(mutex));
        throw std::runtime_error("leaving");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(OtherThreadCanEnter(mutex));
}

}  // namespace
