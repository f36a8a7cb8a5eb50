// The MIDI output side of the engine: one MidiOutQueue per MIDI output port, the MIDI port table
// (whose index is the generation that tags writes), and the links to the router it serves and to
// the engine whose tick sends the packets. Non-paged pool; everything runs at up to
// DISPATCH_LEVEL.
#pragma once

#include <wdm.h>

#include "MidiConfiguration.h"
#include "MidiMessageCoding.h"
#include "MidiNodePool.h"
#include "MidiOutQueue.h"

class MidiRouter;
class MidiEngineLink;

// The answer to a write for an old generation or a port the table does not have.
inline constexpr LONG kMidiWriteRefused = static_cast<LONG>(0x8000000Au);

class UsbMidiCodec final : public MidiBufferRelease
{
public:
    // Queues for outputPorts ports (the device model's count); null when the pool has no room.
    static UsbMidiCodec* Create(MidiEngineLink* engine, ULONG outputPorts);
    // Frees every queue with its messages (their buffers released), the array and the pools.
    void Destroy();

    // ---- Operation table ----------------------------------------------------------------------
    // The engine's RequestTick(0): a message became the oldest of a queue.
    void Wake();
    // A writer's buffer is no longer referenced.
    void ReleaseBuffer(MidiWriter* writer, const UCHAR* buffer) override;
    MidiWriterState* WriterState(MidiWriter* writer);
    // WriteMidiOut keeps count references into the buffer; false when they cannot be recorded.
    bool Retain(MidiWriter* writer, ULONG count, const UCHAR* buffer);
    void GetPortTable(MidiConfiguration* table);
    // Under the codec lock: WriteMidiOut on the port's queue when generation is the table's and
    // the port is one of its output ports; else kMidiWriteRefused.
    LONG Write(ULONG generation, ULONG port, LONGLONG time, const UCHAR* data, ULONG length,
               MidiWriter* writer);
    // E_FAIL while the engine's tick is active; else copies the table and tells the router and
    // the engine.
    LONG SetPortTable(const MidiConfiguration* table);

    // ---- The engine tick, the router and the device model --------------------------------------
    // E_INVALIDARG for a port without a queue; else as the queue's NextMidiOutPacket.
    LONG NextMidiOutPacket(ULONG port, LONGLONG now, UsbMidiPacket* packet, LONGLONG* wait);
    void FlushWriterMessages(MidiWriter* writer);
    void DropSysExMessages();
    // The writer's unfinished message leaves its state when the queue drops it.
    void ForgetUnfinished(MidiWriter* writer, MidiMessageNode* node);

    void SetRouter(MidiRouter* router);
    MidiRouter* Router()
    {
        return static_cast<MidiRouter*>(
            ReadPointerAcquire(reinterpret_cast<PVOID const volatile*>(&router)));
    }
    ULONG QueueCount() const { return queueCount; }

private:
    UsbMidiCodec() = default;
    ~UsbMidiCodec() = default;

    MidiRouter* LinkedRouter() const
    {
        return static_cast<MidiRouter*>(
            ReadPointerAcquire(reinterpret_cast<PVOID const volatile*>(&router)));
    }

    KSPIN_LOCK lock;
    MidiRouter* router;  // set and read on different threads: through the acquire/release forms
    MidiConfiguration portTable;
    MidiOutQueue** queues;  // "AdPw", one per port
    ULONG queueCount;
    MidiEngineLink* engine;
    MidiNodePool pool;
};
