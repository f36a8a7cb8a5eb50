// How a request's handles and user addresses are read for the process that sent it. A 32-bit
// process puts both in 32 bits at the offsets where a 64-bit one puts 64. Handles are widened by
// sign extension (that is how the system widens a 32-bit handle value); addresses by zero
// extension: a large-address-aware 32-bit process owns addresses from 2 GB to 4 GB, and sign
// extension would turn them into kernel addresses.
#pragma once

#include <wdm.h>

#include "ControlFilterWire.h"

inline PVOID UserAddressFrom32(ULONG value)
{
    return reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(value));
}

inline HANDLE UserHandleFrom32(ULONG value)
{
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(static_cast<LONG>(value)));
}

// The address or handle at byte offset `at` of bytes, in the caller's width.
PVOID ReadUserAddress(const void* bytes, ULONG at, bool narrow);
HANDLE ReadUserHandle(const void* bytes, ULONG at, bool narrow);

// A buffer table of streaming ids 3 and 4 in the 64-bit form, whichever caller sent it.
struct ClientBufferTable
{
    PVOID halves[kTableChannels][kTableHalves];
    ULONG halfBytes;
};

// Reads the table from dataBytes bytes of data: a 32-bit caller's 164-byte table, or a 64-bit
// caller's 324-byte one. STATUS_BUFFER_TOO_SMALL when the data is shorter than the caller's form
// (the item's minimum is the 32-bit size, so a 64-bit caller's short table gets this far).
NTSTATUS ReadBufferTable(const void* data, ULONG dataBytes, bool narrow, ClientBufferTable* table);
