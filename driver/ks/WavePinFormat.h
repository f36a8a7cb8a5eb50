// The private copy of a wave pin's format and the pieces every wave pin stream shares: the pin
// context, positions, the clone walk of a flush, and the audio position property.
#pragma once

#include <ks.h>
#include <ksmedia.h>

#include "device/DeviceContext.h"
#include "device/StreamConfiguration.h"
#include "ks/PinStream.h"

struct WaveFilter;
class WaveFilterContext;

inline constexpr ULONG kWaveFormatTag = 0x58454657;  // "WFEX"
inline constexpr ULONG kWaveFormatCopyBytes = 40;

// What both wave pin streams keep. Allocated zero-filled from the pool ("PcNw") at pin Create,
// built in place, destroyed by the pin's object bag.
class WavePinBase : public WavePinStream
{
public:
    bool IsCapturePin() override { return capture; }
    void SetFirstChannel(ULONG channel) override { firstChannel = channel; }
    // Called by the state walk on STOP and by the position property: the engine object stops and
    // every clone goes.
    virtual void Flush() = 0;
    // The lock under which the stream changes its positions (for the position property).
    virtual PKSPIN_LOCK PositionLock() = 0;

    PKSPIN pin = nullptr;
    WaveFilterContext* filterContext = nullptr;
    DeviceContext* context = nullptr;
    volatile LONG state = KSSTATE_STOP;
    KSPIN_LOCK pinLock = 0;                      // processing and state
    KSPIN_LOCK cloneLock = 0;                    // the clones
    WAVEFORMATEXTENSIBLE* waveFormat = nullptr;  // "WFEX", 40 bytes, zero-filled
    ULONGLONG playPosition = 0;                  // bytes
    ULONGLONG writePosition = 0;                 // bytes
    ULONGLONG lastPositionTime = 0;              // 100 ns
    PIKSREFERENCECLOCK clock = nullptr;
    ULONG systemVersion = 0;
    ULONG firstChannel = 0;
    ULONG channelCount = 0;
    StreamConfiguration configuration{};
    bool capture = false;

    // Deletes every clone (capture: its data used set to 0; device gone: its status
    // STATUS_DEVICE_NOT_CONNECTED).
    void DeleteClones();
    bool DeviceGone() const;
    ULONG BlockAlign() const { return waveFormat != nullptr ? waveFormat->Format.nBlockAlign : 0; }
    // Bytes per sample as the engine sees it: the container, block alignment over channels.
    ULONG ContainerBytes() const;
    // Fixes the device's rate at the format's: the nearest rate index of the configuration, put
    // in force through the stream manager. STATUS_UNSUCCESSFUL (and the rate left free) when the
    // rate in force is not the format's.
    NTSTATUS PutRateInForce();
    void ReleaseClock();
    void TakeClock();
};

// The WAVEFORMATEX of the pin's connection format copied into a fresh 40-byte block: 18 bytes
// for PCM and IEC 61937, 40 for WAVE_FORMAT_EXTENSIBLE; null for any other tag, for a format too
// short to hold what its tag needs, or when out of pool.
WAVEFORMATEXTENSIBLE* CopyWaveFormat(const KSDATAFORMAT* format);
void FreeWaveFormat(WAVEFORMATEXTENSIBLE* format);
// A changed format: the pin's stream takes a fresh copy, freeing the old one. The caller holds
// the pin's control mutex, under which the copy is read elsewhere. False when it cannot.
bool RefreshPinWaveFormat(PKSPIN pin);

WavePinBase* WavePinOf(PKSPIN pin);
