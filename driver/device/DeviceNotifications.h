// The context's two sinks live in the same pool block as the context itself.
#pragma once

#include "DeviceContext.h"

// A zero-filled context (tag "PcNw") with its sinks in place: OS version not probed, no lists,
// no objects. Null when the pool is exhausted.
DeviceContext* AllocateDeviceContext();
// Frees the block AllocateDeviceContext made.
void ReleaseDeviceContext(DeviceContext* context);
