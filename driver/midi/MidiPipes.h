// The USB transport's USB-MIDI pipes as the engine's MIDI tick uses them: started and stopped
// with the tick, the OUT transfer that collects the tick's packets (MidiOutSink), and the reads
// that hand every completed IN transfer to the registered input.
#pragma once

#include <wdm.h>

#include "MidiOutputTick.h"

class MidiInput
{
public:
    // DISPATCH_LEVEL, for each successfully completed read.
    virtual void OnMidiInPacket(const UCHAR* data, ULONG length) = 0;

protected:
    ~MidiInput() = default;
};

class MidiPipes : public MidiOutSink
{
public:
    // PASSIVE_LEVEL. Two reads in flight on every USB-MIDI IN pipe, OUT pipes idle.
    virtual NTSTATUS StartMidiPipes() = 0;
    // PASSIVE_LEVEL. Every read retired, every OUT transfer completed or aborted.
    virtual void StopMidiPipes() = 0;
    virtual bool MidiPipesStarted() = 0;
    virtual void SetMidiInput(MidiInput* input) = 0;

protected:
    ~MidiPipes() = default;
};
