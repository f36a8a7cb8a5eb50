// What the control client's source files share beyond its class.
#pragma once

#include <wdm.h>

inline constexpr ULONG kSetupInputMapped = 0x1;
inline constexpr ULONG kSetupOutputMapped = 0x2;
inline constexpr ULONG kSetupEventsRegistered = 0x4;

// Input half states.
inline constexpr UCHAR kHalfFilling = 0;
inline constexpr UCHAR kHalfHandedOut = 1;
inline constexpr UCHAR kHalfReturned = 2;

inline constexpr KPRIORITY kHalfEventIncrement = 8;
inline constexpr ULONG kControlSampleFormat = 0x80000003;  // 32-bit integers

// Holds a kernel mutex for its scope. PASSIVE_LEVEL.
class MutexHold
{
public:
    explicit MutexHold(PRKMUTEX held) : mutex(held)
    {
        KeWaitForSingleObject(mutex, Executive, KernelMode, FALSE, nullptr);
    }
    ~MutexHold() { KeReleaseMutex(mutex, FALSE); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    PRKMUTEX mutex;
};
