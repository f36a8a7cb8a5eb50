// Takes the stream set's place in the streaming control's own tests: the device gets silence, or a
// counting pattern (sample frame n carries n + 1 on channel 0 and n + 1 + 0x1000 on channel 1, each
// channel little-endian in bytesPerSample bytes), captured data is dropped, and every period
// answers a positive credit until no stream is wanted any more.
#pragma once
// Header-only: tests compiled with run-time type checks hold one, and the driver's objects carry
// no type information.

#include "EngineParts.h"

class RoutingStandIn : public EnginePeriodRouting
{
public:
    static constexpr LONG kPatternPeriod = 0x7FFFF;

    RoutingStandIn(ULONG outputChannels, ULONG bytesPerSample, bool pattern)
        : channels(outputChannels), sampleBytes(bytesPerSample), counting(pattern)
    {
    }

    // Once cleared, every period answers a negative credit, which stops streaming.
    void SetStreamsWanted(bool wanted) { streamsWanted = wanted; }

    void ResetForStart(bool) override { produced = 0; }
    void ResetRings() override {}
    void NotifyStreamManager(LONG) override {}
    LONG RoutingTick(ULONG, PVOID*, ULONG, LONG, ULONG, ULONG) override
    {
        return streamsWanted ? 1 : -1;
    }
    void GetDeviceOutputData(ULONG, ULONG samples, ULONG, PVOID* buffer, bool, ULONG,
                             ULONG) override;
    void CancelPacket(ULONG, PVOID) override {}

private:
    ULONG channels;
    ULONG sampleBytes;
    bool counting;
    volatile bool streamsWanted = true;
    ULONGLONG produced = 0;
};

inline void RoutingStandIn::GetDeviceOutputData(ULONG, ULONG samples, ULONG, PVOID* buffer, bool,
                                                ULONG, ULONG)
{
    auto* bytes = static_cast<PUCHAR>(*buffer);
    if (!counting) {
        RtlZeroMemory(bytes, static_cast<SIZE_T>(samples) * channels * sampleBytes);
        return;
    }
    for (ULONG s = 0; s < samples; ++s) {
        const LONG value = static_cast<LONG>(produced % kPatternPeriod) + 1;
        ++produced;
        for (ULONG channel = 0; channel < channels; ++channel) {
            const LONG v = value + static_cast<LONG>(channel) * 0x1000;
            for (ULONG b = 0; b < sampleBytes; ++b) {
                *bytes++ = static_cast<UCHAR>(v >> (8 * b));
            }
        }
    }
}
