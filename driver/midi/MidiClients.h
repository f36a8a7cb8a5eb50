// The router's clients: a reader receives the MIDI input of one input port, a writer sends MIDI to
// one output port. Both live in non-paged pool ("PcNw", zero-filled) from registration to
// unregistration; the router frees them.
#pragma once

#include <wdm.h>

#include "MidiFifo.h"
#include "MidiMessageCoding.h"

class MidiRouter;
struct MidiWriter;
struct MidiReader;

inline constexpr ULONG kMidiClientMagic = 0xABCD1234;
inline constexpr ULONG kNoGeneration = static_cast<ULONG>(-1);

// The owner of a writer (a MIDI render pin, a private MIDI output port).
class MidiWriterOwner
{
public:
    // The codec no longer references the buffer.
    virtual void BufferDone(MidiWriter* client, const UCHAR* buffer) = 0;
    virtual void PortTableChanged(MidiWriter* client, ULONG generation) = 0;

protected:
    ~MidiWriterOwner() = default;
};

// The owner of a reader (a MIDI capture pin, a private MIDI input port).
class MidiReaderOwner
{
public:
    // 0 when the owner consumed the message at once; anything else queues it in the FIFO.
    virtual LONG Deliver(MidiReader* client, LONGLONG time, const UCHAR* bytes, ULONG count,
                         bool complete) = 0;
    virtual void DataAvailable(MidiReader* client) = 0;
    virtual void PortTableChanged(MidiReader* client, ULONG generation) = 0;

protected:
    ~MidiReaderOwner() = default;
};

struct MidiClient
{
    ULONG generation;  // kNoGeneration before linking, then the table's at registration
    ULONG port;
    UCHAR open;  // under lock
    ULONG magic;
    KSPIN_LOCK lock;
    MidiRouter* router;
    MidiClient* next;
};

// A buffer the codec holds several references into.
struct MidiRetainedBuffer
{
    const UCHAR* buffer;
    LONG count;
    MidiRetainedBuffer* next;
};

struct MidiWriter : MidiClient
{
    MidiWriterOwner* owner;
    MidiWriterState state;
    MidiRetainedBuffer* retained;   // under unlinkLock
    MidiRetainedBuffer* freeNodes;  // under unlinkLock
    KSPIN_LOCK unlinkLock;
    // The last submission.
    LONGLONG time;
    const UCHAR* data;
    ULONG length;

    void Initialize() { KeInitializeSpinLock(&unlinkLock); }
};

struct MidiReader : MidiClient
{
    MidiReaderOwner* owner;
    MidiFifo fifo;
    LONG deliveriesStarted;  // a change count the owner compares around draining
    LONG deliveriesInProgress;

    void Initialize() { FifoInitialize(&fifo); }
};
