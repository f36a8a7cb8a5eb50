// Run-time library routines: strings and the OS version.
#pragma once

#include "wdm/NtStatus.h"
#include "wdm/NtTypes.h"

// Points the string at source (not copied); a null source gives an empty string.
void RtlInitUnicodeString(PUNICODE_STRING destinationString, PCWSTR sourceString);

// NTDDI values: 0x06000000 Vista ... 0x0A000000 Windows 10.
#define NTDDI_VISTA 0x06000000
#define NTDDI_WIN7 0x06010000
#define NTDDI_WIN8 0x06020000
#define NTDDI_WIN10 0x0A000000
BOOLEAN RtlIsNtDdiVersionAvailable(ULONG version);

// Formats into a buffer of cbDest bytes, always terminated. Conversions: %s and %ws (wide
// strings), %d %i %u %x %X %c %%, with the flags '-' and '0', a width, and the size prefixes
// l (32 bits), ll and I64 (64 bits). STATUS_BUFFER_OVERFLOW when the text was cut short;
// STATUS_INVALID_PARAMETER for a bad buffer size or an unknown conversion.
NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...);
NTSTATUS RtlStringCchPrintfW(PWSTR pszDest, size_t cchDest, PCWSTR pszFormat, ...);
