// The MIDI port record lives with the USB-MIDI codec, which keeps it as its port table.
#pragma once

#include "midi/MidiConfiguration.h"
