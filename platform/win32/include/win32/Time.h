#pragma once
// The multimedia timer (winmm): milliseconds as a 32-bit counter that wraps after 49.7 days. On
// the virtual clock of tests (Win32Test/SleepClock.h) it reads that clock, so that a Sleep moves
// it by exactly its duration.

#include "win32/Types.h"

DWORD WINAPI timeGetTime();
