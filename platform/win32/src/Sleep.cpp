#include "win32/Sleep.h"

#include "win32/Time.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "Win32Test/SleepClock.h"

namespace {

struct SleepClock
{
    std::atomic<bool> isVirtual{false};
    std::atomic<uint64_t> now{0};
    std::atomic<uint64_t> sleeps{0};
    std::mutex hookLock;
    Win32Test::SleepHook hook;  // guarded by hookLock
};

SleepClock& Clock()
{
    static SleepClock clock;
    return clock;
}

}  // namespace

void WINAPI Sleep(DWORD milliseconds)
{
    SleepClock& clock = Clock();
    if (!clock.isVirtual.load(std::memory_order_acquire)) {
        if (milliseconds == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
        return;
    }
    std::this_thread::yield();
    if (milliseconds == 0) {
        return;
    }
    const uint64_t after =
        clock.now.fetch_add(milliseconds, std::memory_order_acq_rel) + milliseconds;
    clock.sleeps.fetch_add(1, std::memory_order_acq_rel);
    Win32Test::SleepHook hook;
    {
        const std::lock_guard<std::mutex> guard(clock.hookLock);
        hook = clock.hook;
    }
    if (hook) {
        hook(milliseconds, after);
    }
}

DWORD WINAPI timeGetTime()
{
    SleepClock& clock = Clock();
    if (clock.isVirtual.load(std::memory_order_acquire)) {
        return static_cast<DWORD>(clock.now.load(std::memory_order_acquire));
    }
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

namespace Win32Detail {

bool IsVirtualClock()
{
    return Clock().isVirtual.load(std::memory_order_acquire);
}

}  // namespace Win32Detail

namespace Win32Test {

void UseVirtualSleepClock(SleepHook hook)
{
    SleepClock& clock = Clock();
    {
        const std::lock_guard<std::mutex> guard(clock.hookLock);
        clock.hook = std::move(hook);
    }
    clock.now.store(0, std::memory_order_release);
    clock.sleeps.store(0, std::memory_order_release);
    clock.isVirtual.store(true, std::memory_order_release);
}

void ResetSleepClock()
{
    SleepClock& clock = Clock();
    clock.isVirtual.store(false, std::memory_order_release);
    const std::lock_guard<std::mutex> guard(clock.hookLock);
    clock.hook = {};
}

uint64_t VirtualSleepClock()
{
    return Clock().now.load(std::memory_order_acquire);
}

uint64_t VirtualSleepCount()
{
    return Clock().sleeps.load(std::memory_order_acquire);
}

}  // namespace Win32Test
