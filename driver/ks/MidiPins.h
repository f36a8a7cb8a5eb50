// The pin side of the MIDI filters: the dispatch tables of the streaming pins.
#pragma once

#include <ks.h>

extern const KSPIN_DISPATCH kMidiInputPinDispatch;
extern const KSPIN_DISPATCH kMidiOutputPinDispatch;
