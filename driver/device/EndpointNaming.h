// Endpoint naming and system registration, as the device lifecycle calls it. All of them run at
// PASSIVE_LEVEL or move their work to a work item that holds the remove lock.
#pragma once

#include <wdm.h>

struct DeviceContext;

// Names the endpoints and creates the wave and MIDI filter factories; always success.
NTSTATUS CreateFilterFactories(DeviceContext* context);
// Rebuilds the endpoint set after a change of the stream configuration.
NTSTATUS NameEndpoints(DeviceContext* context);
// Writes the display names of the pin-name GUIDs (Windows Vista and later).
NTSTATUS RegisterMediaCategories(DeviceContext* context);
// Puts the rate into the formats Windows stored for this device's endpoints.
NTSTATUS RenameMmDeviceEndpoints(DeviceContext* context, ULONG rate);
