// The pin side of the wave filters: the dispatch tables and automation of the streaming pins,
// the pins' create and close, and the audio position property (WavePins.cpp, RenderPinStream.cpp).
#pragma once

#include <ks.h>
#include <ksmedia.h>

extern const KSPIN_DISPATCH kWaveCapturePinDispatch;
extern const KSPIN_DISPATCH kWaveRenderPinDispatch;
extern const KSAUTOMATION_TABLE kWaveStreamPinAutomation;
