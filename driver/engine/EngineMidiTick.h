// The engine's MIDI half: the 1 ms tick that schedules USB-MIDI output port by port within each
// port's byte rate, and the delivery of USB-MIDI input to the MIDI router with its time stamps.
// The tick starts when a MIDI client needs it (RequestTick) and stops itself at its first run that
// finds no client open, or when input finds no reader.
//
// Tick state: 1 stopped -> 2 starting -> 3 running -> 0 stopping -> 1 stopped. A stop with keep
// leaves 2 or 3 so that the next engine start resumes the tick. Changes run at PASSIVE_LEVEL under
// the tick's mutex; asked for at a raised level they are queued to a work item that holds the
// device's remove lock and acts only while the device is started. The state moves at a raised
// level while a change waits for the tick: a change writes its end state only over the state it
// acted on, and a stop that is done restarts the tick when a client is open.
#pragma once

#include <wdm.h>

#include "device/DeviceContext.h"
#include "device/DpcTimer.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiEngineLink.h"
#include "midi/MidiOutputTick.h"
#include "midi/MidiPipes.h"

class UsbMidiCodec;
class MidiRouter;

inline constexpr LONG kTickStopping = 0;
inline constexpr LONG kTickStopped = 1;
inline constexpr LONG kTickStarting = 2;
inline constexpr LONG kTickRunning = 3;

class EngineMidiTick : public MidiEngineLink, public MidiInput
{
public:
    // PASSIVE_LEVEL. Stopped, not initialised, no configuration (index -1).
    void Construct(DeviceLink deviceLink, MidiPipes* pipes);
    // PASSIVE_LEVEL. Stops the tick and frees the port throttles.
    void Destroy();
    void SetMidiLinks(UsbMidiCodec* codec, MidiRouter* router);

    // ---- MidiEngineLink -----------------------------------------------------------------------
    void RequestTick(ULONG value) override;
    bool IsTickActive() override;
    // Copies the record and sets each output port's byte rate; a running tick is stopped first
    // (at PASSIVE_LEVEL it has stopped on return).
    void ApplyMidiConfiguration(const MidiConfiguration* record) override;

    // ---- MidiInput ----------------------------------------------------------------------------
    void OnMidiInPacket(const UCHAR* data, ULONG length) override;

    // ---- The engine's start and stop (PASSIVE_LEVEL) -------------------------------------------
    // The engine is initialised: a tick kept by a stop with keep runs again.
    void ResumeAfterStart();
    // The engine stops: the tick stops but stays marked (state 2 or 3) for the next start.
    void StopKeeping();

    void ChangeTick(bool start, bool keep);
    LONG TickState() { return ReadAcquire(&tickState); }

private:
    NTSTATUS EngineStart();
    void EngineStop();
    void SettleTick(bool recheck);
    bool QueueTickWork();
    static void TickWorkItem(PDEVICE_OBJECT device, PVOID parameter);
    static void EngineTick(PVOID self);
    LONGLONG Now100ns();
    MidiRouter* LinkedRouter();
    void ReplacePorts(const MidiOutputPorts& next);

    DeviceContext* context;
    MidiPipes* pipes;
    UsbMidiCodec* codec;
    MidiRouter* router;
    UCHAR initialized;
    UCHAR engineRunning;  // timer armed, resolution set, pipes asked to run; under the mutex
    LONG tickState;
    MidiConfiguration configuration;
    MidiOutputPorts ports;  // throttles "Thrt", one per output port; under portsLock
    KSPIN_LOCK portsLock;   // a configuration may change while a last tick still runs
    DpcTimer timer;
    KMUTEX mutex;
    KEVENT tickIdle;  // notification; cleared while EngineTick runs
};
