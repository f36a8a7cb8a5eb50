// What both MIDI fuzz targets stand on: an engine whose tick is never active, and the check that
// a run left no pool behind.
#pragma once

#include <cstdlib>

#include "KernelTestApi.h"
#include "midi/MidiConfiguration.h"
#include "midi/MidiEngineLink.h"

class QuietEngine : public MidiEngineLink
{
public:
    void RequestTick(ULONG) override {}
    bool IsTickActive() override { return false; }
    void ApplyMidiConfiguration(const MidiConfiguration*) override {}
};

inline void AbortOnLeak()
{
    if (!Platform::Kernel::OutstandingPool().empty()) {
        abort();
    }
}
