// How late the completions of the sync pipe run behind the bus, learned while streaming runs:
// the queue-ahead (frames the transfers are queued ahead of the bus beyond the minimum; stored
// across sessions by the engine) and the lateness of the last completion measured. Not locked
// itself: its owner holds one lock around every use, since completions of one pipe can run on
// two processors at once.
#pragma once

#include <wdm.h>

class UsbLatenessLearning
{
public:
    static constexpr LONG kMaxQueueAhead = 8;
    static constexpr LONG kWarmUpFrames = 5000;            // nothing is learned this long
    static constexpr LONG kLearningWindowFrames = 300000;  // a lower delay waits this long

    static LONG ClampQueueAhead(LONG frames)
    {
        return frames < 0 ? 0 : (frames > kMaxQueueAhead ? kMaxQueueAhead : frames);
    }

    // A new start: the first priming completion is measured again, after a warm-up.
    void Restart()
    {
        lateness = -1;
        windowTimer = -kWarmUpFrames;
        windowMaximum = 1;
    }
    bool PrimingMeasured() const { return lateness != -1; }
    // The first priming completion ran delay frames behind its last frame; the schedule then
    // moves by the frames in flight as well, unless it was at most one frame late. A queue-ahead
    // of 0 takes the delay at once. Without a reading of the bus the schedule stays.
    void MeasurePriming(LONG delay, LONG framesInFlight)
    {
        if (queueAhead == 0) {
            queueAhead = ClampQueueAhead(delay);
        }
        lateness = delay <= 1 ? 0 : delay - 1 + framesInFlight;
    }
    void SkipPriming() { lateness = 0; }
    // Frames of the sync pipe's completions toward the learning window.
    void CountFrames(ULONG frames) { windowTimer += static_cast<LONG>(frames); }
    // After the warm-up: a delay above the queue-ahead raises it at once; a lower one lowers it
    // only to the largest delay of a whole learning window.
    void Learn(LONG delay)
    {
        if (windowTimer >= 0) {
            LearnQueueAhead(delay);
        }
        lateness = delay;
    }
    void SetQueueAhead(LONG frames) { queueAhead = ClampQueueAhead(frames); }
    LONG QueueAhead() const { return queueAhead; }
    LONG Lateness() const { return lateness; }

private:
    void LearnQueueAhead(LONG delay)
    {
        if (delay > queueAhead) {
            queueAhead = ClampQueueAhead(delay);
            windowMaximum = 1;
            windowTimer = 0;
            return;
        }
        windowMaximum = delay > windowMaximum ? delay : windowMaximum;
        if (windowTimer >= kLearningWindowFrames) {
            if (windowMaximum < queueAhead) {
                queueAhead = ClampQueueAhead(windowMaximum);
            }
            windowMaximum = 1;
            windowTimer = 0;
        }
    }

    LONG queueAhead = 3;                // frames; learned completion delay
    LONG lateness = -1;                 // -1 until the first priming completion is measured
    LONG windowTimer = -kWarmUpFrames;  // frames of the current learning window
    LONG windowMaximum = 1;             // largest delay of the current window
};
