// The firmware version in the device descriptor's bcdDevice, in the engine's two forms.
#pragma once

#include <wdm.h>

// Plain form: major = bcd >> 12, minor = ((bcd >> 8) & 0xF) * 10 + ((bcd >> 4) & 0xF).
// Decimal form: major = (bcd >> 12) * 10 + ((bcd >> 8) & 0xF), minor = (bcd >> 4) & 0xF.
// Both: revision = bcd & 0xF, build 0.
inline void DecodeFirmwareVersion(USHORT bcd, bool decimalForm, ULONG* major, ULONG* minor,
                                  ULONG* revision, ULONG* build)
{
    const ULONG digit3 = (bcd >> 12) & 0xF;
    const ULONG digit2 = (bcd >> 8) & 0xF;
    const ULONG digit1 = (bcd >> 4) & 0xF;
    *major = decimalForm ? digit3 * 10 + digit2 : digit3;
    *minor = decimalForm ? digit1 : digit2 * 10 + digit1;
    *revision = bcd & 0xFu;
    *build = 0;
}
