#include "CallerLayout.h"

PVOID ReadUserAddress(const void* bytes, ULONG at, bool narrow)
{
    const auto* base = static_cast<const UCHAR*>(bytes) + at;
    if (narrow) {
        ULONG value;
        RtlCopyMemory(&value, base, sizeof value);
        return UserAddressFrom32(value);
    }
    ULONGLONG value;
    RtlCopyMemory(&value, base, sizeof value);
    return reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(value));
}

HANDLE ReadUserHandle(const void* bytes, ULONG at, bool narrow)
{
    const auto* base = static_cast<const UCHAR*>(bytes) + at;
    if (narrow) {
        ULONG value;
        RtlCopyMemory(&value, base, sizeof value);
        return UserHandleFrom32(value);
    }
    ULONGLONG value;
    RtlCopyMemory(&value, base, sizeof value);
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
}

NTSTATUS ReadBufferTable(const void* data, ULONG dataBytes, bool narrow, ClientBufferTable* table)
{
    const ULONG needed = narrow ? kBufferTable32Bytes : kBufferTable64Bytes;
    if (dataBytes < needed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    const ULONG slot = narrow ? sizeof(ULONG) : sizeof(ULONGLONG);
    for (ULONG channel = 0; channel < kTableChannels; ++channel) {
        for (ULONG half = 0; half < kTableHalves; ++half) {
            table->halves[channel][half] =
                ReadUserAddress(data, (channel * kTableHalves + half) * slot, narrow);
        }
    }
    const ULONG lengthAt = narrow ? offsetof(BufferTable32, halfBytes)
                                  : static_cast<ULONG>(offsetof(BufferTable64, halfBytes));
    RtlCopyMemory(&table->halfBytes, static_cast<const UCHAR*>(data) + lengthAt,
                  sizeof table->halfBytes);
    return STATUS_SUCCESS;
}
