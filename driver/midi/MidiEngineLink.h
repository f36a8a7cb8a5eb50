// What the USB-MIDI codec and the MIDI router ask of the streaming engine: the 1 ms tick that
// sends MIDI output, and the news of a new MIDI port table.
#pragma once

#include <wdm.h>

struct MidiConfiguration;

class MidiEngineLink
{
public:
    // Starts the tick unless it is starting or running; value is not used (callers pass 0).
    virtual void RequestTick(ULONG value) = 0;
    virtual bool IsTickActive() = 0;
    virtual void ApplyMidiConfiguration(const MidiConfiguration* record) = 0;

protected:
    ~MidiEngineLink() = default;
};
