#pragma once
// Debug-build checks of what callers promise (indexes and counts inside their buffers). Values
// from outside the driver are validated where they enter it; a failure here is a driver bug, so
// it stops the system the way an unhandled kernel assertion does. Release builds drop the check.

#include <wdm.h>

inline constexpr ULONG kAssertionBugCheck = 0x1E;                 // exception not handled
inline constexpr ULONG_PTR kAssertionFailureStatus = 0xC0000420;  // assertion failure

#ifdef NDEBUG
#define AUDIO_ASSERT(condition) ((void)0)
#else
#define AUDIO_ASSERT(condition)                                              \
    ((condition) ? (void)0                                                   \
                 : KeBugCheckEx(kAssertionBugCheck, kAssertionFailureStatus, \
                                reinterpret_cast<ULONG_PTR>(__FILE__), __LINE__, 0))
#endif
