// The value the driver keeps per device across restarts: the number of isochronous transfers the
// USB transport queues ahead. It lives under the driver's registry key P, in a subkey per vendor
// and product ID and under a value name per physical USB location; an older value name directly
// under P is moved to the new place once.
//
// PASSIVE_LEVEL for all of them.
#pragma once

#include <wdm.h>

class StreamingEngine;

inline constexpr size_t kSettingNameCharacters = 256;
inline constexpr size_t kOldSettingNameCharacters = 128;
inline constexpr ULONG kDefaultTransfersAhead = 3;
// A stored value outside this range is clamped: transfer sizing relies on it.
inline constexpr ULONG kMaxTransfersAhead = 8;

// Kept by the engine; the names are built on first use.
struct PersistedSettingNames
{
    WCHAR driverKeyPath[kSettingNameCharacters];  // P, copied at construction
    WCHAR keyPath[kSettingNameCharacters];
    WCHAR valueName[kSettingNameCharacters];
    UCHAR built;
};

void InitializeSettingNames(PersistedSettingNames* names, PCWSTR driverKeyPath);

// The stored value (REG_DWORD of 4 bytes, clamped to 0..8), or 3.
ULONG LoadPersistedValue(StreamingEngine* engine);
NTSTATUS StorePersistedValue(StreamingEngine* engine, ULONG value);

// The value of a KeyValueFullInformation record of size bytes, as the registry answered it (any
// alignment): true, with *value clamped to 0..kMaxTransfersAhead, only for a REG_DWORD of 4 bytes
// that lies inside the record.
bool DecodeStoredValue(const void* record, ULONG size, ULONG* value);

// P\01020304<vendor and product bytes>DECAFBAD.
PCWSTR GetSettingKeyPath(StreamingEngine* engine);
// The nine numbers of the USB topology address, or "CallbackDelay".
PCWSTR GetSettingValueName(StreamingEngine* engine);
// The first 21 characters of the hardware ID and the nine topology numbers.
NTSTATUS GetOldSettingValueName(StreamingEngine* engine, PWSTR buffer, size_t characters);
