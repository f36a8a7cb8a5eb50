// The component id the wave and MIDI filters report: the driver's maker and product.
#pragma once

#include <ks.h>

extern const KSCOMPONENTID kFilterComponentId;
