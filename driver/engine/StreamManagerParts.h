// What the device context's parts need to create and destroy a device's stream manager and to
// put a rate of its configuration in force.
#pragma once

#include <wdm.h>

class StreamManager;
class StreamingEngine;
class DeviceStreamSink;

// On the engine's stream set, reporting to sink (may be null). Null when out of memory or the
// engine has no stream set.
StreamManager* CreateStreamManager(StreamingEngine* engine, DeviceStreamSink* sink);
// Unregisters the manager from the stream set, then frees it.
void DestroyStreamManager(StreamManager* manager);
// The index of rate in the manager's configuration, or -1.
LONG FindConfigurationRate(StreamManager* manager, ULONG rate);
// That rate index of the manager's configuration, unless streams run; the rate in force after.
ULONG ApplyRateIndex(StreamManager* manager, LONG rateIndex);
