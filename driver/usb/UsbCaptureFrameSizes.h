// The sample counts of the capture frames the sync pipe received: a ring the output's frame sizes
// are taken from, so playback mirrors what the device sent, and a window over the most recent
// frames the device's actual rate is measured from. Filled by the sync pipe's completions and
// read by the sizing of every pipe's next transfer. Two completions of the sync pipe can run at
// once (one run inline by a submission, one by the bus's DPC on another processor), so every
// operation holds the ring's own spin lock: any IRQL up to DISPATCH_LEVEL, and it may be taken
// under the slot lock (never the other way round).
#pragma once

#include <wdm.h>

class UsbCaptureFrameSizes
{
public:
    static constexpr ULONG kWindowFrames = 1023;   // frames the window holds at most
    static constexpr ULONG kMinWindowFrames = 16;  // the rate is taken from at least this many

    UsbCaptureFrameSizes() { KeInitializeSpinLock(&lock); }
    UsbCaptureFrameSizes(const UsbCaptureFrameSizes&) = delete;
    UsbCaptureFrameSizes& operator=(const UsbCaptureFrameSizes&) = delete;

    void Reset()
    {
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        ringWrite = ringRead = 0;
        windowSum = 0;
        windowCount = 0;
        KeReleaseSpinLock(&lock, old);
    }
    // The oldest size not taken yet (0 for a frame recorded as 0); false when none waits.
    bool TakeSize(ULONG* size)
    {
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        const bool unread = ringWrite - ringRead > 0;
        if (unread) {
            *size = static_cast<USHORT>(measuredRing[ringRead % kRingSize]);
            ++ringRead;
        }
        KeReleaseSpinLock(&lock, old);
        return unread;
    }
    // A transfer's frames, into the ring and the window (the oldest frames of a full window leave
    // it), when the ring has room for a whole transfer of `packets` frames besides those not taken
    // yet; false when it had not (nothing recorded). *rate: the window's mean frame size per 1 ms
    // frame in Hz once the window holds enough frames, else 0.
    bool RecordTransfer(const LONG* samples, ULONG frames, ULONG packets, ULONG* rate)
    {
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        const bool room = ringWrite - ringRead < kWindowFrames - packets;
        if (room) {
            for (ULONG f = 0; f < frames; ++f) {
                Record(samples[f]);
            }
        }
        *rate = windowCount >= kMinWindowFrames
                    ? static_cast<ULONG>(static_cast<LONGLONG>(windowSum) * 1000 / windowCount)
                    : 0;
        KeReleaseSpinLock(&lock, old);
        return room;
    }

private:
    static constexpr ULONG kRingSize = 1024;

    // Under the lock.
    void Record(LONG samples)
    {
        if (windowCount == kWindowFrames) {
            windowSum -= measuredRing[(ringWrite - kWindowFrames) % kRingSize];
            --windowCount;
        }
        measuredRing[ringWrite % kRingSize] = static_cast<SHORT>(samples);
        ++ringWrite;
        windowSum += samples;
        ++windowCount;
    }

    KSPIN_LOCK lock = 0;
    SHORT measuredRing[kRingSize] = {};  // sample counts of received frames
    ULONG ringWrite = 0;                 // free running
    ULONG ringRead = 0;                  // free running
    LONG windowSum = 0;
    ULONG windowCount = 0;  // at most kWindowFrames
};
