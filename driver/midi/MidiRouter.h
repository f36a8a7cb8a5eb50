// Connects the driver's MIDI clients to the USB-MIDI side: keeps the reader and writer lists with
// their open state and counts, hands incoming event packets to the open readers of the packet's
// port, serves the codec with each writer's running-status state and with reference counts of the
// writers' buffers it holds, and tells clients when the MIDI port table changes.
//
// One router per device, in non-paged pool ("PcNw"). Everything runs at up to DISPATCH_LEVEL.
// Lock order: count lock, then a client's lock; list lock, then a writer's lock; the table lock
// is taken alone. Owner callbacks run under the list lock (deliveries, port table changes, buffer
// done) or without locks (the engine's RequestTick).
#pragma once

#include <wdm.h>

#include "MidiClients.h"
#include "MidiConfiguration.h"
#include "UsbMidiPacket.h"

class UsbMidiCodec;

class MidiRouter
{
public:
    // Links router and codec both ways and copies the codec's port table; null when the pool has
    // no room.
    static MidiRouter* Create(UsbMidiCodec* codec);
    // Unlinks the codec, frees every client still registered, then the router.
    void Destroy();

    // ---- Operation table ----------------------------------------------------------------------
    void OnPortTableChange(const MidiConfiguration* table);
    // 0, or -1 when no client is open or the generation is not the table's. packet = {CIN, 3 MIDI
    // bytes}; time in 100 ns.
    LONG DeliverMidiInput(ULONG generation, LONGLONG time, ULONG port, const UsbMidiPacket* packet);
    bool AnyClientOpen();
    bool AnyPrivateClientOpen();
    bool AnyPrivateClientRegistered();
    void ReleaseWriterBuffer(MidiWriter* writer, const UCHAR* buffer);
    // Records count references (count > 1); false when the record could not be had.
    bool RetainWriterBuffer(MidiWriter* writer, ULONG count, const UCHAR* buffer);
    MidiWriterState* GetWriterState(MidiWriter* writer);

    // ---- Clients ------------------------------------------------------------------------------
    // Null when the pool has no room; nothing is linked then.
    MidiWriter* RegisterWriter(MidiWriterOwner* owner, ULONG port);
    MidiReader* RegisterReader(MidiReaderOwner* owner, ULONG port);
    // 0 when the flag was already so, 1 when it changed. The first client to open starts the tick.
    LONG SetClientOpen(MidiReader* reader, bool open);
    // 1 when the writer was not open, else 0.
    LONG CloseWriter(MidiWriter* writer);
    void UnregisterWriter(MidiWriter* writer);
    void UnregisterReader(MidiReader* reader);
    bool IsClientOpen(MidiClient* client);
    // Opens the writer on its first send; see SubmitMidiPort.
    void OpenWriter(MidiWriter* writer);

    UsbMidiCodec* Codec() { return codec; }
    ULONG Generation();
    // A client opening again after a table change it was not told of takes the table's
    // generation, under the lock deliveries read it under.
    void TakeCurrentGeneration(MidiClient* client);
    // A copy of the port table (its arrays are the codec's static data).
    void CopyPortTable(MidiConfiguration* record);

private:
    MidiRouter() = default;
    ~MidiRouter() = default;

    template <typename Client, typename Owner>
    Client* Register(Client** list, LONG* privateCount, bool isPrivate, Owner* owner, ULONG port);
    bool IsPrivateInput(ULONG port);
    bool IsPrivateOutput(ULONG port);
    void ChangeOpenCount(MidiClient* client, bool open, bool writer);
    void RequestTick();

    MidiConfiguration portTable;
    UsbMidiCodec* codec;
    MidiReader* readers;  // newest first
    MidiWriter* writers;  // newest first
    LONG openWriters;
    LONG openReaders;
    LONG privateWriters;
    LONG privateReaders;
    LONG privateOpenWriters;
    LONG privateOpenReaders;
    KSPIN_LOCK listLock;
    KSPIN_LOCK countLock;
    KSPIN_LOCK tableLock;
};

// The sending operation of a writer: opens it on its first send (starting the tick when it is
// the first open client), then the codec's write. Answers the codec's answer (1 = the codec keeps
// the buffer until buffer done).
LONG SubmitMidiPort(MidiWriter* writer, LONGLONG time, const UCHAR* data, ULONG length);

// An incoming event packet for a reader: offered to its owner first when the FIFO is empty, else
// queued.
void ReaderPut(MidiReader* reader, LONGLONG time, const UsbMidiPacket* packet);

// Bytes read, 0 (time 0, whole 0) when the FIFO is empty, or FifoRead's failure.
LONG ReaderGet(MidiReader* reader, LONGLONG* time, UCHAR* buffer, ULONG capacity, ULONG* whole);
