// The streams behind a MIDI filter's streaming pins. An input pin fills its frames with the
// messages of a router input port, as raw MIDI (KSMUSICFORMAT) or DirectMusic events; an output
// pin hands the records of its frames, with their times, to a router output port.
//
// Each is the pin's context, in the pin's object bag ("PcNw"). The pin lock serialises processing
// and state changes; the clone lock guards the frames held as clones. Lock order: a filter's
// pin-list lock (deliveries), the pin lock, the router's locks (register, open, submit), the
// clone lock, the reader's FIFO lock. Router callbacks (deliver, data available, buffer done)
// arrive under the router's list lock and take only the clone lock.
#pragma once

#include <ks.h>

#include "device/DeviceContext.h"
#include "ks/MidiFilter.h"
#include "ks/PinStream.h"
#include "midi/MidiClients.h"

enum MidiDataFormat : ULONG
{
    kMidiDataRaw = 0,          // KSMUSICFORMAT
    kMidiDataDirectMusic = 1,  // DMUS_EVENTHEADER
};

// Frames an input pin holds as clones at most.
inline constexpr ULONG kMidiInputMaxClones = 128;
inline constexpr ULONG kMidiWorkTag = 0x7143694D;  // "MiCq"

class MidiPinStream : public PinStream
{
public:
    // The router client exists and is open.
    virtual bool IsPinRunning() = 0;     // slot 1
    virtual bool HasEngineObject() = 0;  // slot 2
    // Under the pin lock, which processing and deliveries hold while they frame data.
    virtual void ChangeFormat(ULONG format);

    bool DeviceGone() const;
    KSSTATE State() const { return static_cast<KSSTATE>(InterlockedOr(&state, 0)); }
    void TakeClock();
    void ReleaseClock();

    PKSPIN pin = nullptr;
    MidiFilterContext* filterContext = nullptr;
    DeviceContext* context = nullptr;
    mutable volatile LONG state = KSSTATE_STOP;
    KSPIN_LOCK pinLock;
    KSPIN_LOCK cloneLock;
    PIKSREFERENCECLOCK clock = nullptr;
    ULONG systemVersion = 0;
    ULONG port = 0;
    ULONG dataFormat = kMidiDataRaw;
};

class MidiInputPinStream final : public MidiPinStream, public MidiReaderOwner
{
public:
    bool IsPinRunning() override;
    bool HasEngineObject() override { return Reader() != nullptr; }
    void ChangeFormat(ULONG format) override;
    // The pin's router reader, or null outside acquire to stop.
    MidiReader* Reader() const;

    LONG Deliver(MidiReader* client, LONGLONG time, const UCHAR* bytes, ULONG count,
                 bool complete) override;
    void DataAvailable(MidiReader* client) override;
    void PortTableChanged(MidiReader* client, ULONG generation) override;

    NTSTATUS Process();
    NTSTATUS SetState(KSSTATE to, KSSTATE from);
    // One delivery pass for the client, from a work item that found the pin still listed on an
    // open filter and holds that listing (the pin-list lock) until it returns.
    void DeliverPass(MidiReader* client);
    void Close();

    LONGLONG runStart = 0;  // 100 ns
    ULONG largestRead = 4;  // bytes read per message
    ULONG messagesPerPass = 8;
    volatile LONG busy = 0;          // deliveries of this pin in progress
    volatile LONG clonesCapped = 0;  // frames wait on the leading edge for the clone limit
    ULONG messagesLost = 0;          // messages too large for the frame they were meant for
    // The clones this pin made and has not deleted: processing checks the clone limit on every
    // new frame, and a walk of the clones took the queue's lock once per clone.
    volatile LONG clonesHeld = 0;

private:
    void Flush();
    void FailQueuedFrames();
    // Under the clone lock: the message into the oldest clone, which completes; false when the
    // frame is too small (the message is lost, the frame stays).
    bool WriteMessage(PKSSTREAM_POINTER clone, LONGLONG time, const UCHAR* bytes, ULONG count,
                      bool shortMessage);
    bool FillOldest(MidiReader* client);
    // The message bytes a frame of frameBytes can take in the pin's format.
    ULONG FrameRoom(ULONG frameBytes) const;
    bool HasClone();
    ULONG CloneCount();
    void ScheduleDelivery(MidiReader* client);

    MidiReader* volatile reader = nullptr;
};

class MidiOutputPinStream final : public MidiPinStream, public MidiWriterOwner
{
public:
    bool IsPinRunning() override;
    bool HasEngineObject() override { return writer != nullptr; }

    void BufferDone(MidiWriter* client, const UCHAR* buffer) override;
    void PortTableChanged(MidiWriter* client, ULONG generation) override;

    NTSTATUS Process();
    NTSTATUS SetState(KSSTATE to, KSSTATE from);
    void Close();

    ULONG recordsDropped = 0;  // records that did not fit their frame (the frame failed)
    ULONG recordsSent = 0;

private:
    enum class Step
    {
        Next,         // on to the next record
        Pending,      // the sender refused or no clone could be had: the leading edge stays
        OutOfFrames,  // the leading edge went past the last frame
        Failed,       // the advance failed; the leading edge moved on and is unlocked
    };
    // One record of the leading edge's frame: sent (or skipped, or dropped when malformed), then
    // the leading edge advances past it.
    Step SendRecord(PKSSTREAM_POINTER leading);
    void DeleteClone(PKSSTREAM_POINTER clone);
    void CompleteAll();
    void FailQueuedFrames();
    void CompleteQueuedFrames(bool gone);

    MidiWriter* writer = nullptr;
    LONGLONG recordTime = 0;  // 100 ns: the time the next raw record counts from
};

MidiPinStream* MidiPinOf(PKSPIN pin);
