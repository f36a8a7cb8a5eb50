// Plain reads and writes of fields that several threads share: acquire and release forms order
// the access against those around it; the no-fence forms are single, untorn accesses with no
// ordering. Fields one thread writes while another reads go through these or the Interlocked
// operations, never through bare accesses.
#pragma once

#include "wdm/NtTypes.h"

#define QUORVEL_READ_WRITE_FORMS(Name, Type)                                 \
    inline Type Read##Name##Acquire(Type const volatile* source)             \
    {                                                                        \
        return __atomic_load_n(source, __ATOMIC_ACQUIRE);                    \
    }                                                                        \
    inline Type Read##Name##NoFence(Type const volatile* source)             \
    {                                                                        \
        return __atomic_load_n(source, __ATOMIC_RELAXED);                    \
    }                                                                        \
    inline void Write##Name##Release(Type volatile* destination, Type value) \
    {                                                                        \
        __atomic_store_n(destination, value, __ATOMIC_RELEASE);              \
    }                                                                        \
    inline void Write##Name##NoFence(Type volatile* destination, Type value) \
    {                                                                        \
        __atomic_store_n(destination, value, __ATOMIC_RELAXED);              \
    }

QUORVEL_READ_WRITE_FORMS(, LONG)
QUORVEL_READ_WRITE_FORMS(UChar, UCHAR)
QUORVEL_READ_WRITE_FORMS(ULong, ULONG)
QUORVEL_READ_WRITE_FORMS(Pointer, PVOID)

#undef QUORVEL_READ_WRITE_FORMS

// The 64-bit forms carry the width at the end of their names.
inline LONGLONG ReadAcquire64(LONGLONG const volatile* source)
{
    return __atomic_load_n(source, __ATOMIC_ACQUIRE);
}
inline LONGLONG ReadNoFence64(LONGLONG const volatile* source)
{
    return __atomic_load_n(source, __ATOMIC_RELAXED);
}
inline void WriteRelease64(LONGLONG volatile* destination, LONGLONG value)
{
    __atomic_store_n(destination, value, __ATOMIC_RELEASE);
}
inline void WriteNoFence64(LONGLONG volatile* destination, LONGLONG value)
{
    __atomic_store_n(destination, value, __ATOMIC_RELAXED);
}
