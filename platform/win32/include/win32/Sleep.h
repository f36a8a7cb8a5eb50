#pragma once
// Suspending the calling thread. Programs sleep on the wall clock; tests switch the layer to a
// virtual clock (Win32Test/SleepClock.h), on which a sleep moves the clock and returns at once.

#include "win32/Types.h"

// 0 gives the rest of the time slice to another thread.
void WINAPI Sleep(DWORD milliseconds);
