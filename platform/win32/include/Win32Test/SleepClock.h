#pragma once
// Tests: the clock that Sleep (and timeGetTime) runs on. On the virtual clock a Sleep adds its
// duration to the clock, then calls the hook (when one is set) on the sleeping thread, and returns
// without waiting: a poll loop of many sleeps runs in no wall time, and the hook lets a test change
// the world at a chosen moment of the loop. Back on the wall clock when the test ends
// (ResetSleepClock).

#include <cstdint>
#include <functional>

#include "win32/Sleep.h"

namespace Win32Test {

// Called with the duration of the sleep and the clock after it, in milliseconds.
using SleepHook = std::function<void(DWORD milliseconds, uint64_t clockAfter)>;

// Virtual clock at 0, without hook.
void UseVirtualSleepClock(SleepHook hook = {});
// Wall clock again, the hook dropped.
void ResetSleepClock();
// Milliseconds slept on the virtual clock since UseVirtualSleepClock.
uint64_t VirtualSleepClock();
// Sleeps of a non-zero duration on the virtual clock since UseVirtualSleepClock.
uint64_t VirtualSleepCount();

}  // namespace Win32Test
