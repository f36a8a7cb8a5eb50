// The sample counts of the capture frames the sync pipe received: a ring the output's frame sizes
// are taken from, so playback mirrors what the device sent, and a window over the most recent
// frames the device's actual rate is measured from. Used by one completion at a time (the sync
// pipe's transfers are processed in order) and by the sizing at start.
#pragma once

#include <wdm.h>

class UsbCaptureFrameSizes
{
public:
    static constexpr ULONG kWindowFrames = 1023;   // frames the window holds at most
    static constexpr ULONG kMinWindowFrames = 16;  // the rate is taken from at least this many

    void Reset()
    {
        ringWrite = ringRead = 0;
        windowSum = 0;
        windowCount = 0;
    }
    // Room for a whole transfer of frames that no size has been taken from yet.
    bool HasRoomFor(ULONG packets) const { return ringWrite - ringRead < kWindowFrames - packets; }
    bool HasUnread() const { return ringWrite - ringRead > 0; }
    // The oldest size not taken yet; 0 for a frame recorded as 0.
    ULONG TakeSize()
    {
        const ULONG size = static_cast<USHORT>(measuredRing[ringRead % kRingSize]);
        ++ringRead;
        return size;
    }
    // Into the ring and the window; the oldest frame of a full window leaves it.
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
    bool RateKnown() const { return windowCount >= kMinWindowFrames; }
    // Hz: the window's mean frame size per 1 ms frame. Only when RateKnown.
    ULONG MeasuredRate() const
    {
        return static_cast<ULONG>(static_cast<LONGLONG>(windowSum) * 1000 / windowCount);
    }

private:
    static constexpr ULONG kRingSize = 1024;

    SHORT measuredRing[kRingSize] = {};  // sample counts of received frames
    ULONG ringWrite = 0;                 // free running
    ULONG ringRead = 0;                  // free running
    LONG windowSum = 0;
    ULONG windowCount = 0;  // at most kWindowFrames
};
