// The stream behind a wave capture pin: a client stream of the engine fills the pin's frames in
// place; a frame shorter than the rate's minimum buffer is filled through the scratch buffer.
// A 1 ms timer keeps processing going while no frame is queued.
#pragma once

#include "device/PeriodicTimer.h"
#include "engine/ClientStream.h"
#include "engine/StreamInterfaces.h"
#include "ks/WavePinFormat.h"

class CapturePinStream final : public WavePinBase, public StreamClientSink
{
public:
    bool IsPinRunning() override;
    bool HasEngineObject() override { return stream != nullptr; }
    void Flush() override;
    // Positions change with the clones: the period completes and takes frames under that lock.
    PKSPIN_LOCK PositionLock() override { return &cloneLock; }

    void OnDevicePeriod(ClientStream* period) override;
    void OnStreamConfigurationChanged(ClientStream* period, LONG configurationIndex) override;
    void OnFlags(ClientStream*, ULONG flags) override;

    // Sizes the scratch buffer for the largest minimum block over the configuration's rates and
    // builds the timer. False when out of pool.
    bool Build();
    NTSTATUS Process();
    NTSTATUS SetState(KSSTATE to, KSSTATE from);
    void Close();

    ClientStream* stream = nullptr;
    KSPIN_LOCK streamLock = 0;  // the stream pointer, for readers on other threads
    PeriodicTimer timer;
    bool timerBuilt = false;
    UCHAR* scratch = nullptr;  // "PcNw"
    ULONG scratchBytes = 0;
    ULONG scratchHeld = 0;  // bytes the engine wrote into the scratch buffer, not yet moved
    bool targetIsScratch = false;
    ULONG scratchFrames = 0;  // frames the scratch buffer was offered for
    ULONG fillOffset = 0;     // bytes of the oldest frame already filled from the scratch buffer
    UCHAR restartPending = 0;
    // Set when the pin starts its client stream: the first period after a start carries the
    // discontinuity flag, which is the start itself, not a restart to recover from.
    UCHAR freshStart = 0;
    PVOID target[1] = {};

private:
    bool TimerRunning() const;
    void SetEngineObject(ClientStream* object);  // written by the timer's owner on other threads
    LONG SetFormat();
    ULONG FrameBytes() const;
    ULONG MinimumFrames();
    void StopStream();
    void StartStream();
    // After a discontinuity: the stream starts again into the oldest frame still waiting, through
    // the scratch buffer from where that frame's filling had got to.
    void Restart(bool haveLeadingFrame);
    void OfferScratch(ULONG frames);
    // Clones the frame at the leading edge and passes it; false when there is none (or out of
    // pool: the frame waits for the next processing).
    bool TakeLeadingFrame(PKSSTREAM_POINTER* leading);
    bool MoveScratch(PKSSTREAM_POINTER oldest);
    void CompleteOldest(PKSSTREAM_POINTER oldest);
    // The next frame (a clone): the next clone, else the leading edge cloned and advanced.
    PKSSTREAM_POINTER NextFrame();
};
