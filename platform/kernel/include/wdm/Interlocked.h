// Interlocked operations: full barriers, as the kernel's are.
#pragma once

#include "wdm/NtTypes.h"

inline LONG InterlockedIncrement(LONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedDecrement(LONG volatile* addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedExchange(LONG volatile* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value)
{
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

inline LONG InterlockedOr(LONG volatile* destination, LONG value)
{
    return __atomic_fetch_or(destination, value, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedAnd(LONG volatile* destination, LONG value)
{
    return __atomic_fetch_and(destination, value, __ATOMIC_SEQ_CST);
}

inline LONGLONG InterlockedIncrement64(LONGLONG volatile* addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONGLONG InterlockedDecrement64(LONGLONG volatile* addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

inline LONGLONG InterlockedExchange64(LONGLONG volatile* target, LONGLONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline LONGLONG InterlockedExchangeAdd64(LONGLONG volatile* addend, LONGLONG value)
{
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}

inline LONGLONG InterlockedCompareExchange64(LONGLONG volatile* destination, LONGLONG exchange,
                                             LONGLONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline PVOID InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange,
                                               PVOID comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

// A full memory barrier.
inline void KeMemoryBarrier()
{
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
}
